// The filter graph manager (CLSID_FilterGraph): its filters and their names, connections made
// directly or through filters it finds, state changes in downstream-first order, seeking through
// the filters that answer for positions, and the events the filters send.
#pragma once

#include "MediaTimeSeeking.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GraphEvents.h"
#include "Strmif.h"
#include "platform/com/ClassTable.h"
#include "platform/com/ComRef.h"

class FilterGraph final : public CUnknown,
                          public IGraphBuilder,
                          public IMediaControl,
                          public IMediaFilter,
                          public CMediaTimeSeeking,
                          public IMediaEventEx,
                          public IMediaEventSink {
public:
    // The class table's factory.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT EnumFilters(IEnumFilters** enumerator) override;
    HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
    HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type) override;
    HRESULT Reconnect(IPin* pin) override;
    HRESULT Disconnect(IPin* pin) override;
    HRESULT SetDefaultSyncSource() override;
    // IGraphBuilder
    HRESULT Connect(IPin* output, IPin* input) override;
    HRESULT Render(IPin* output) override;
    HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override;
    HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter) override;
    HRESULT SetLogFile(DWORD_PTR file) override;
    HRESULT Abort() override;
    HRESULT ShouldOperationContinue() override;

    // IMediaControl (Pause and Stop serve IMediaFilter too)
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG milliseconds, OAFilterState* state) override;
    HRESULT RenderFile(BSTR file) override;
    HRESULT AddSourceFilter(BSTR file, IUnknown** filter) override;
    HRESULT StopWhenReady() override;
    // IMediaFilter
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;

    // IMediaSeeking, in media time only
    HRESULT GetCapabilities(DWORD* capabilities) override;
    HRESULT CheckCapabilities(DWORD* capabilities) override;
    HRESULT GetDuration(LONGLONG* duration) override;
    HRESULT GetStopPosition(LONGLONG* stop) override;
    HRESULT GetCurrentPosition(LONGLONG* current) override;
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
    HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetRate(double* rate) override;
    HRESULT GetPreroll(LONGLONG* preroll) override;

    // IMediaEvent(Ex)
    HRESULT GetEventHandle(OAEVENT* event) override;
    HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG milliseconds) override;
    HRESULT WaitForCompletion(LONG milliseconds, LONG* code) override;
    HRESULT CancelDefaultHandling(LONG code) override;
    HRESULT RestoreDefaultHandling(LONG code) override;
    HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override;
    HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) override;
    HRESULT SetNotifyFlags(LONG flags) override;
    HRESULT GetNotifyFlags(LONG* flags) override;
    // IMediaEventSink
    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override;

    // For the filter enumerator: up to `count` filters from `position` on, newest first, handed
    // out (or skipped, with no array) while the list is still at `version`; `position` moves past
    // them. VFW_E_ENUM_OUT_OF_SYNC once the list has changed; E_INVALIDARG for a skip at the end.
    HRESULT FiltersAt(ULONG& position, ULONG count, LONG version, IBaseFilter** filters, ULONG* fetched);
    LONG Version();

private:
    explicit FilterGraph(IUnknown* outer);
    ~FilterGraph() override;

    struct Member {
        ComRef<IBaseFilter> filter;
        std::wstring name;
    };
    std::vector<ComRef<IBaseFilter>> Filters() const;
    bool Contains(IBaseFilter* filter) const;
    bool NameTaken(const std::wstring& name) const;
    // Disconnects every connected pin of the filter and its peer.
    HRESULT DisconnectPins(IBaseFilter* filter);
    // Takes the filter out of the graph, whatever the graph's state: E_FAIL when it is not in it.
    HRESULT Withdraw(IBaseFilter* filter);

    // Intelligent connect (GraphConnect.cpp)
    HRESULT ConnectVia(IPin* output, IPin* input, int depth);
    HRESULT ConnectThroughFilter(IPin* output, IBaseFilter* filter, IPin* input, int depth);
    HRESULT ConnectThroughNewFilter(IPin* output, const ClassEntry& entry, IPin* input, int depth);

    // State changes (GraphControl.cpp)
    // Every filter to `state`, downstream first; the first failure, or else the first result
    // other than S_OK.
    HRESULT ChangeFilters(FILTER_STATE state, REFERENCE_TIME start);
    HRESULT StartRunning(const REFERENCE_TIME* start);
    HRESULT PauseFilters();
    void CancelPendingRun();
    bool AnyFilterCueing();
    REFERENCE_TIME RunStart();
    void CompletePendingRuns();
    HRESULT WaitForState(LONG milliseconds, FILTER_STATE* state);

    // Seeking (GraphSeeking.cpp)
    std::vector<ComRef<IMediaSeeking>> Seekers();
    HRESULT LargestOver(HRESULT (IMediaSeeking::*get)(LONGLONG*), LONGLONG* result);

    // The graph lock: filters, names, connections, state. Never held by a streaming thread.
    mutable std::recursive_mutex m_Lock;
    std::vector<Member> m_Filters;  // newest first
    LONG m_Version = 0;
    unsigned m_NameIndex = 1;
    FILTER_STATE m_State = State_Stopped;  // the state asked for last

    // A run waits until every filter has finished pausing (a renderer waits for its first sample);
    // the worker then runs them, or a state change cancels it.
    std::condition_variable_any m_RunChanged;
    std::thread m_RunWorker;
    bool m_bRunPending = false;
    bool m_bShutdown = false;
    uint64_t m_RunRequest = 0;
    REFERENCE_TIME m_PendingStart = 0;

    ComRef<IReferenceClock> m_Clock;  // none unless the application sets one
    REFERENCE_TIME m_Start = 0;  // the filters' start time of the current run
    REFERENCE_TIME m_Played = 0;  // stream time played before a pause, with a clock

    LONGLONG m_Position = 0;  // where the last seek put the graph
    double m_Rate = 1.0;

    GraphEvents m_Events;
};
