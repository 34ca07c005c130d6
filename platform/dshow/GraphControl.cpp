// State changes, the clock and the events of the graph.
#include <algorithm>
#include <chrono>

#include "FilterGraph.h"
#include "GraphWalk.h"

namespace {

// How long the run worker waits on a filter still pausing before it looks at the graph again.
constexpr DWORD CueSlice = 10;

}  // namespace

HRESULT FilterGraph::ChangeFilters(FILTER_STATE state, REFERENCE_TIME start)
{
    HRESULT result = S_OK;
    for (const ComRef<IBaseFilter>& filter : DownstreamFirst(Filters())) {
        const HRESULT hr = state == State_Stopped  ? filter->Stop()
                           : state == State_Paused ? filter->Pause()
                                                   : filter->Run(start);
        if (FAILED(hr) ? SUCCEEDED(result) : result == S_OK)
            result = hr;
    }
    return result;
}

bool FilterGraph::AnyFilterCueing()
{
    return std::any_of(m_Filters.begin(), m_Filters.end(), [](const Member& member) {
        FILTER_STATE state;
        return member.filter->GetState(0, &state) == VFW_S_STATE_INTERMEDIATE;
    });
}

void FilterGraph::CancelPendingRun()
{
    m_bRunPending = false;
    ++m_RunRequest;
    m_RunChanged.notify_all();
}

// With no clock every run starts at stream time 0, and renderers render samples as they come.
REFERENCE_TIME FilterGraph::RunStart()
{
    REFERENCE_TIME now;
    if (!m_Clock || FAILED(m_Clock->GetTime(&now)))
        return 0;
    return now - m_Played;
}

HRESULT FilterGraph::StartRunning(const REFERENCE_TIME* start)
{
    if (m_State == State_Running)
        return m_bRunPending ? S_FALSE : S_OK;
    const std::vector<ComRef<IBaseFilter>> filters = Filters();
    m_Events.Running(int(std::count_if(filters.begin(), filters.end(),
                                       [](const ComRef<IBaseFilter>& f) { return IsRenderer(f.get()); })));
    if (m_State == State_Stopped) {
        const HRESULT hr = ChangeFilters(State_Paused, 0);
        if (FAILED(hr)) {
            m_State = State_Paused;
            m_Events.Paused();
            return hr;
        }
    }
    m_State = State_Running;
    const REFERENCE_TIME time = start ? *start : RunStart();
    if (AnyFilterCueing()) {
        // A renderer still waits for its first sample: the worker runs the filters once it has it.
        m_bRunPending = true;
        m_PendingStart = time;
        ++m_RunRequest;
        if (!m_RunWorker.joinable())
            m_RunWorker = std::thread(&FilterGraph::CompletePendingRuns, this);
        m_RunChanged.notify_all();
        return S_FALSE;
    }
    m_Start = time;
    return ChangeFilters(State_Running, time);
}

void FilterGraph::CompletePendingRuns()
{
    std::unique_lock<std::recursive_mutex> lock(m_Lock);
    for (;;) {
        m_RunChanged.wait(lock, [&] { return m_bShutdown || m_bRunPending; });
        if (m_bShutdown)
            return;
        const uint64_t request = m_RunRequest;
        std::vector<ComRef<IBaseFilter>> filters = Filters();
        // The wait for the filters holds no graph lock, so that a Stop or Pause can cancel it.
        lock.unlock();
        bool cued = true;
        for (const ComRef<IBaseFilter>& filter : filters) {
            FILTER_STATE state;
            if (filter->GetState(CueSlice, &state) == VFW_S_STATE_INTERMEDIATE)
                cued = false;
        }
        filters.clear();
        lock.lock();
        if (cued && m_bRunPending && request == m_RunRequest) {
            m_bRunPending = false;
            m_Start = m_PendingStart;
            ChangeFilters(State_Running, m_PendingStart);
            m_RunChanged.notify_all();
        }
    }
}

HRESULT FilterGraph::Run()
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    return StartRunning(nullptr);
}

HRESULT FilterGraph::Run(REFERENCE_TIME start)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    return StartRunning(&start);
}

HRESULT FilterGraph::Pause()
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    if (m_State == State_Paused)
        return S_OK;
    REFERENCE_TIME now;
    if (m_State == State_Running && !m_bRunPending && m_Clock && SUCCEEDED(m_Clock->GetTime(&now)))
        m_Played = now - m_Start;
    CancelPendingRun();
    m_Events.Paused();
    const HRESULT hr = ChangeFilters(State_Paused, 0);
    m_State = State_Paused;
    return hr;
}

HRESULT FilterGraph::Stop()
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    CancelPendingRun();
    if (m_State == State_Stopped)
        return S_OK;
    // Running filters pause first, so that renderers let go of their samples before sources stop.
    const HRESULT paused = m_State == State_Running ? ChangeFilters(State_Paused, 0) : S_OK;
    const HRESULT stopped = ChangeFilters(State_Stopped, 0);
    m_State = State_Stopped;
    m_Played = 0;
    m_Events.Stopped();
    return FAILED(paused) ? paused : stopped;
}

HRESULT FilterGraph::WaitForState(LONG milliseconds, FILTER_STATE* state)
{
    if (!state)
        return E_POINTER;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max<LONG>(milliseconds, 0));
    auto remaining = [&]() -> DWORD {
        if (milliseconds < 0)
            return INFINITE;
        return DWORD(std::max<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count(), 0));
    };
    std::unique_lock<std::recursive_mutex> lock(m_Lock);
    for (;;) {
        *state = m_State;
        bool cueing = m_bRunPending;
        std::vector<ComRef<IBaseFilter>> filters = Filters();
        lock.unlock();
        HRESULT result = S_OK;
        for (const ComRef<IBaseFilter>& filter : filters) {
            FILTER_STATE own;
            const HRESULT hr = filter->GetState(remaining(), &own);
            if (FAILED(hr))
                return hr;
            if (hr == VFW_S_STATE_INTERMEDIATE)
                cueing = true;
            else if (hr == VFW_S_CANT_CUE)
                result = hr;
        }
        filters.clear();
        if (!cueing)
            return result;
        if (remaining() == 0)
            return VFW_S_STATE_INTERMEDIATE;
        lock.lock();
        // The filters are ready but the run is not done yet: wait for the worker.
        if (milliseconds < 0)
            m_RunChanged.wait(lock, [&] { return !m_bRunPending; });
        else
            m_RunChanged.wait_until(lock, deadline, [&] { return !m_bRunPending; });
    }
}

HRESULT FilterGraph::GetState(LONG milliseconds, OAFilterState* state)
{
    FILTER_STATE own = State_Stopped;
    const HRESULT hr = WaitForState(milliseconds, state ? &own : nullptr);
    if (state)
        *state = own;
    return hr;
}

HRESULT FilterGraph::GetState(DWORD milliseconds, FILTER_STATE* state)
{
    return WaitForState(milliseconds == INFINITE ? -1 : LONG(std::min<DWORD>(milliseconds, 0x7FFFFFFF)), state);
}

// Nothing here cues a graph only to show its first picture.
HRESULT FilterGraph::StopWhenReady() { return E_NOTIMPL; }

HRESULT FilterGraph::SetSyncSource(IReferenceClock* clock)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    std::vector<ComRef<IBaseFilter>> done;
    for (const ComRef<IBaseFilter>& filter : Filters()) {
        const HRESULT hr = filter->SetSyncSource(clock);
        if (FAILED(hr)) {
            for (const ComRef<IBaseFilter>& changed : done)
                changed->SetSyncSource(m_Clock.get());
            return hr;
        }
        done.push_back(filter);
    }
    m_Clock = ComRef<IReferenceClock>(clock);
    return S_OK;
}

HRESULT FilterGraph::GetSyncSource(IReferenceClock** clock)
{
    if (!clock)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    *clock = ComRef<IReferenceClock>(m_Clock).detach();
    return S_OK;
}

// There is no system clock here: by default a graph runs without one.
HRESULT FilterGraph::SetDefaultSyncSource() { return SetSyncSource(nullptr); }

HRESULT FilterGraph::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) { return m_Events.Notify(code, param1, param2); }

HRESULT FilterGraph::GetEventHandle(OAEVENT* event)
{
    if (!event)
        return E_POINTER;
    *event = reinterpret_cast<OAEVENT>(m_Events.Handle());
    return S_OK;
}

HRESULT FilterGraph::GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG milliseconds)
{
    return m_Events.GetEvent(code, param1, param2, milliseconds);
}

HRESULT FilterGraph::WaitForCompletion(LONG milliseconds, LONG* code) { return m_Events.WaitForCompletion(milliseconds, code); }

HRESULT FilterGraph::CancelDefaultHandling(LONG code) { return m_Events.SetDefaultHandling(code, false); }

HRESULT FilterGraph::RestoreDefaultHandling(LONG code) { return m_Events.SetDefaultHandling(code, true); }

// No event here carries allocated parameters.
HRESULT FilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) { return S_OK; }

// There are no windows to post event messages to.
HRESULT FilterGraph::SetNotifyWindow(OAHWND, LONG, LONG_PTR) { return E_NOTIMPL; }

HRESULT FilterGraph::SetNotifyFlags(LONG flags) { return m_Events.SetNotifyFlags(flags); }

HRESULT FilterGraph::GetNotifyFlags(LONG* flags)
{
    if (!flags)
        return E_POINTER;
    *flags = m_Events.NotifyFlags();
    return S_OK;
}
