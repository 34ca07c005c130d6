// The base of every pin: connection with the media type search, the connected peer and the
// connection's type. A pin lives inside its filter: its references are the filter's.
#pragma once

#include <atomic>
#include <string>

#include "BaseFilter.h"
#include "MediaType.h"

class CBasePin : public CUnknown, public IPin {
public:
    CBasePin(const char* name, CBaseFilter* filter, CCritSec* lock, HRESULT* result, LPCWSTR pinName,
             PIN_DIRECTION direction);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // Tries the given type alone when it is complete; otherwise the receiving pin's types, then
    // ours, each matched against the partial type.
    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    // One-sided: the peer stays connected to us until it is disconnected too.
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* direction) override;
    // The pin's name.
    HRESULT QueryId(LPWSTR* id) override;
    // S_OK or S_FALSE only.
    HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT EndOfStream() override;
    // Keeps the segment; a pin that passes it on overrides this.
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // S_OK for a type the pin takes; anything else refuses it.
    virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
    virtual HRESULT SetMediaType(const CMediaType* type);
    // Checks the peer before a type is tried: the directions must differ.
    virtual HRESULT CheckConnect(IPin* pin);
    // Undoes what CheckConnect and CompleteConnect set up.
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* receivePin);
    // The types the pin proposes, from 0 on: VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetMediaType(int position, CMediaType* type);
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    virtual HRESULT Run(REFERENCE_TIME start) { return S_OK; }

    BOOL IsConnected() const { return m_Connected != nullptr; }
    BOOL IsStopped() const { return m_pFilter->IsStopped(); }
    IPin* GetConnected() const { return m_Connected; }
    const CMediaType& CurrentMediaType() const { return m_mt; }
    PIN_DIRECTION Direction() const { return m_dir; }
    const std::wstring& Name() const { return m_Name; }
    // Changes whenever the types the pin proposes change, so that type enumerators go out of sync.
    LONG GetMediaTypeVersion() const { return m_TypeVersion; }
    void IncrementTypeVersion() { ++m_TypeVersion; }
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    double CurrentRate() const { return m_dRate; }

protected:
    virtual HRESULT AttemptConnection(IPin* receivePin, const CMediaType* type);
    HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* type);
    HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* type, IEnumMediaTypes* types);

    CBaseFilter* const m_pFilter;
    CCritSec* const m_pLock;
    IPin* m_Connected = nullptr;  // counted
    const PIN_DIRECTION m_dir;
    CMediaType m_mt;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = MAX_TIME;
    double m_dRate = 1.0;
    BOOL m_bTryMyTypesFirst = FALSE;
    std::atomic<bool> m_bRunTimeError{false};

private:
    const std::wstring m_Name;
    std::atomic<LONG> m_TypeVersion{1};
};

// A wide string in task memory, as QueryId hands out.
HRESULT AMGetWideString(LPCWSTR text, LPWSTR* copy);
