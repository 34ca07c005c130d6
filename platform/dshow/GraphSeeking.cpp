// Seeking the graph: every call goes to the filters that answer for positions themselves
// (renderers, through to the source that owns the time stamps, and sinks), in media time.
#include <algorithm>

#include "FilterGraph.h"

std::vector<ComRef<IMediaSeeking>> FilterGraph::Seekers()
{
    std::vector<ComRef<IMediaSeeking>> seekers;
    for (const ComRef<IBaseFilter>& filter : Filters())
        if (ComRef<IMediaSeeking> seeking = QueryRef<IMediaSeeking>(filter.get(), IID_IMediaSeeking))
            seekers.push_back(seeking);
    return seekers;
}

HRESULT FilterGraph::LargestOver(HRESULT (IMediaSeeking::*get)(LONGLONG*), LONGLONG* result)
{
    if (!result)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    bool answered = false;
    LONGLONG largest = 0;
    for (const ComRef<IMediaSeeking>& seeking : Seekers()) {
        LONGLONG value = 0;
        const HRESULT hr = (seeking.get()->*get)(&value);
        if (hr == E_NOTIMPL)
            continue;
        if (FAILED(hr))
            return hr;
        largest = answered ? std::max(largest, value) : value;
        answered = true;
    }
    if (!answered)
        return E_NOTIMPL;
    *result = largest;
    return S_OK;
}

HRESULT FilterGraph::GetDuration(LONGLONG* duration) { return LargestOver(&IMediaSeeking::GetDuration, duration); }

HRESULT FilterGraph::GetStopPosition(LONGLONG* stop) { return LargestOver(&IMediaSeeking::GetStopPosition, stop); }

HRESULT FilterGraph::GetPreroll(LONGLONG* preroll) { return LargestOver(&IMediaSeeking::GetPreroll, preroll); }

// Where the last seek put the graph, which is where a run starts; at the end of the stream, the
// stop position.
HRESULT FilterGraph::GetCurrentPosition(LONGLONG* current)
{
    if (!current)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    if (m_Events.AtEnd() && SUCCEEDED(GetStopPosition(current)))
        return S_OK;
    *current = m_Position;
    return S_OK;
}

HRESULT FilterGraph::GetPositions(LONGLONG* current, LONGLONG* stop)
{
    HRESULT hr = current ? GetCurrentPosition(current) : S_OK;
    if (SUCCEEDED(hr) && stop)
        hr = GetStopPosition(stop);
    return hr;
}

HRESULT FilterGraph::GetAvailable(LONGLONG* earliest, LONGLONG* latest)
{
    if (earliest)
        *earliest = 0;
    return latest ? GetDuration(latest) : S_OK;
}

HRESULT FilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags)
{
    const DWORD currentMove = currentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopMove = stopFlags & AM_SEEKING_PositioningBitsMask;
    if ((currentMove && !current) || (stopMove && !stop))
        return E_POINTER;
    if (currentMove == AM_SEEKING_IncrementalPositioning)
        return E_INVALIDARG;
    if (!currentMove && !stopMove)
        return S_FALSE;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    const bool wasRunning = m_State == State_Running;
    if (wasRunning)
        Pause();
    // The filters report where they went. Only the current flags get ReturnTime: a source may
    // take nothing but positioning bits for the stop.
    const DWORD asked = currentMove ? currentFlags | AM_SEEKING_ReturnTime : currentFlags;
    HRESULT failure = S_OK;
    bool answered = false;
    LONGLONG reachedCurrent = 0, reachedStop = 0;
    for (const ComRef<IMediaSeeking>& seeking : Seekers()) {
        LONGLONG newCurrent = current ? *current : 0, newStop = stop ? *stop : 0;
        const HRESULT hr = seeking->SetPositions(&newCurrent, asked, &newStop, stopFlags);
        if (hr == E_NOTIMPL)
            continue;
        if (FAILED(hr)) {
            if (SUCCEEDED(failure))
                failure = hr;
            continue;
        }
        if (!answered) {
            reachedCurrent = newCurrent;
            reachedStop = newStop;
        }
        answered = true;
    }
    if (answered && currentMove) {
        m_Position = reachedCurrent;
        m_Played = 0;
        if (currentFlags & AM_SEEKING_ReturnTime)
            *current = reachedCurrent;
    }
    if (answered && stopMove && (stopFlags & AM_SEEKING_ReturnTime))
        *stop = reachedStop;
    HRESULT result = FAILED(failure) ? failure : answered ? S_OK : E_NOTIMPL;
    if (wasRunning) {
        const HRESULT run = StartRunning(nullptr);
        if (SUCCEEDED(result) && run != S_OK)
            result = run;
    }
    return result;
}

HRESULT FilterGraph::GetCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    bool answered = false;
    DWORD common = ~DWORD(0);
    for (const ComRef<IMediaSeeking>& seeking : Seekers()) {
        DWORD own = 0;
        if (SUCCEEDED(seeking->GetCapabilities(&own))) {
            common &= own;
            answered = true;
        }
    }
    if (!answered)
        return E_NOTIMPL;
    *capabilities = common;
    return S_OK;
}

HRESULT FilterGraph::CheckCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    DWORD have = 0;
    const HRESULT hr = GetCapabilities(&have);
    if (FAILED(hr))
        return hr;
    const DWORD asked = *capabilities;
    *capabilities &= have;
    return *capabilities == asked ? S_OK : *capabilities ? S_FALSE : E_FAIL;
}

HRESULT FilterGraph::SetRate(double rate)
{
    if (rate == 0)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    for (const ComRef<IMediaSeeking>& seeking : Seekers()) {
        const HRESULT hr = seeking->SetRate(rate);
        if (FAILED(hr) && hr != E_NOTIMPL)
            return hr;
    }
    m_Rate = rate;
    return S_OK;
}

HRESULT FilterGraph::GetRate(double* rate)
{
    if (!rate)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    *rate = m_Rate;
    return S_OK;
}

