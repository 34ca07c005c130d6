// The base of every filter: its state, its clock, its place in a graph and the events it sends
// there. Derived filters say which pins they have.
#pragma once

#include <atomic>
#include <string>

#include "CritSec.h"
#include "Strmif.h"

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter {
public:
    // `lock` is the filter lock that every control call takes; the derived filter owns it.
    CBaseFilter(const char* name, IUnknown* outer, CCritSec* lock, REFCLSID clsid);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT GetClassID(CLSID* clsid) override;
    // Stop makes every connected pin inactive, Pause from Stopped makes them active, Run from
    // Stopped pauses first and then runs each connected pin.
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    HRESULT EnumPins(IEnumPins** enumerator) override;
    // Finds a pin by its Id (IPin::QueryId); VFW_E_NOT_FOUND.
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    // Keeps the graph and its event sink without a reference: the graph holds the filter.
    HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT QueryVendorInfo(LPWSTR* vendorInfo) override;

    virtual int GetPinCount() = 0;
    // The pin at 0-based position `n`, not counted; null past the last.
    virtual CBasePin* GetPin(int n) = 0;
    // Changes whenever the set of pins changes, so that pin enumerators know to refresh.
    virtual LONG GetPinVersion() { return m_PinVersion; }
    void IncrementPinVersion() { ++m_PinVersion; }

    BOOL IsActive() const { return m_State != State_Stopped; }
    BOOL IsStopped() const { return m_State == State_Stopped; }
    FILTER_STATE State() const { return m_State; }
    IFilterGraph* GetFilterGraph() const { return m_pGraph; }

    // Sends an event to the graph (E_NOTIMPL outside one); EC_COMPLETE always names this filter.
    HRESULT NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

protected:
    CCritSec* const m_pLock;
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    IReferenceClock* m_pClock = nullptr;  // counted
    REFERENCE_TIME m_tStart = 0;          // stream time 0 on the clock, given by Run

private:
    const CLSID m_clsid;
    std::wstring m_Name;
    IFilterGraph* m_pGraph = nullptr;
    std::atomic<IMediaEventSink*> m_pSink{nullptr};  // read by streaming threads
    std::atomic<LONG> m_PinVersion{1};
};
