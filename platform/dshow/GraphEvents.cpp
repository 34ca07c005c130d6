#include "GraphEvents.h"

#include <algorithm>
#include <chrono>

#include "platform/win32/Event.h"

GraphEvents::GraphEvents() : m_hQueued(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

GraphEvents::~GraphEvents() { CloseHandle(m_hQueued); }

void GraphEvents::Running(int renderers)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bRunning = true;
    m_Renderers = renderers;
    m_Completed = 0;
    m_Completion = 0;
    std::erase_if(m_Queue, [](const Event& e) { return e.code == EC_COMPLETE; });
    if (m_Queue.empty())
        ResetEvent(m_hQueued);
}

void GraphEvents::Paused()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bRunning = false;
}

void GraphEvents::Stopped()
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_bRunning = false;
        m_Completed = 0;
        m_Completion = 0;
        ++m_Stops;
    }
    m_Changed.notify_all();
}

HRESULT GraphEvents::Notify(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (code == EC_COMPLETE) {
        const bool last = ++m_Completed == m_Renderers;
        if (!m_bDefaultComplete)
            Queue({code, param1, param2});
        else if (last)
            Queue({EC_COMPLETE, S_OK, 0});
        if (last)
            Finish(EC_COMPLETE);
        return S_OK;
    }
    Queue({code, param1, param2});
    if (code == EC_ERRORABORT || code == EC_USERABORT)
        Finish(code);
    return S_OK;
}

void GraphEvents::Queue(const Event& event)
{
    if (m_bNoNotify)
        return;
    m_Queue.push_back(event);
    SetEvent(m_hQueued);
    m_Changed.notify_all();
}

bool GraphEvents::AtEnd()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Completion == EC_COMPLETE;
}

void GraphEvents::Finish(LONG code)
{
    if (m_Completion)
        return;
    m_Completion = code;
    m_Changed.notify_all();
}

template <class Done>
bool GraphEvents::Wait(std::unique_lock<std::mutex>& lock, LONG milliseconds, Done done)
{
    if (milliseconds < 0) {
        m_Changed.wait(lock, done);
        return true;
    }
    return m_Changed.wait_for(lock, std::chrono::milliseconds(milliseconds), done);
}

HRESULT GraphEvents::GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG milliseconds)
{
    if (!code || !param1 || !param2)
        return E_POINTER;
    std::unique_lock<std::mutex> lock(m_Lock);
    if (!Wait(lock, milliseconds, [&] { return !m_Queue.empty(); })) {
        *code = 0;
        *param1 = *param2 = 0;
        return E_ABORT;
    }
    const Event event = m_Queue.front();
    m_Queue.pop_front();
    if (m_Queue.empty())
        ResetEvent(m_hQueued);
    *code = event.code;
    *param1 = event.param1;
    *param2 = event.param2;
    return S_OK;
}

HRESULT GraphEvents::WaitForCompletion(LONG milliseconds, LONG* code)
{
    if (!code)
        return E_POINTER;
    *code = 0;
    std::unique_lock<std::mutex> lock(m_Lock);
    if (!m_bRunning)
        return VFW_E_WRONG_STATE;
    const uint64_t stops = m_Stops;
    Wait(lock, milliseconds, [&] { return m_Completion != 0 || m_Stops != stops; });
    if (m_Completion) {
        *code = m_Completion;
        return S_OK;
    }
    return m_Stops != stops ? VFW_E_WRONG_STATE : E_ABORT;
}

HRESULT GraphEvents::SetDefaultHandling(LONG code, bool on)
{
    // EC_COMPLETE is the one event the graph handles itself here.
    if (code != EC_COMPLETE)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bDefaultComplete = on;
    return S_OK;
}

HRESULT GraphEvents::SetNotifyFlags(LONG flags)
{
    if (flags & ~AM_MEDIAEVENT_NONOTIFY)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bNoNotify = flags == AM_MEDIAEVENT_NONOTIFY;
    if (m_bNoNotify) {
        m_Queue.clear();
        ResetEvent(m_hQueued);
    }
    return S_OK;
}

LONG GraphEvents::NotifyFlags()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_bNoNotify ? AM_MEDIAEVENT_NONOTIFY : 0;
}
