// The graph's event queue and its count of renderers at end of stream. It has a lock of its own:
// filters report from their streaming threads while a Stop or a seek holds the graph lock and
// waits for those threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "Strmif.h"

class GraphEvents {
public:
    GraphEvents();
    ~GraphEvents();
    GraphEvents(const GraphEvents&) = delete;
    GraphEvents& operator=(const GraphEvents&) = delete;

    // The graph starts running with `renderers` to hear EC_COMPLETE from: the count starts again,
    // completion is forgotten and EC_COMPLETE still queued is dropped.
    void Running(int renderers);
    // Paused: no new wait for completion; a wait already begun goes on.
    void Paused();
    // Stopped: as paused, completion forgotten, and waits for it end.
    void Stopped();

    // From the filters. EC_COMPLETE is counted and, by default, queued once when every renderer
    // has sent it; EC_ERRORABORT and EC_USERABORT also end a wait for completion.
    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2);

    // Every renderer has reached the end of the stream since the run began.
    bool AtEnd();

    // IMediaEvent(Ex) for the application
    HANDLE Handle() const { return m_hQueued; }
    HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG milliseconds);
    HRESULT WaitForCompletion(LONG milliseconds, LONG* code);
    HRESULT SetDefaultHandling(LONG code, bool on);
    HRESULT SetNotifyFlags(LONG flags);
    LONG NotifyFlags();

private:
    struct Event {
        LONG code;
        LONG_PTR param1, param2;
    };
    void Queue(const Event& event);
    void Finish(LONG code);
    // Waits on m_Changed until `done`, for `milliseconds` (negative: without end).
    template <class Done>
    bool Wait(std::unique_lock<std::mutex>& lock, LONG milliseconds, Done done);

    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::deque<Event> m_Queue;
    HANDLE m_hQueued;  // manual reset: set while the queue holds events
    bool m_bNoNotify = false;
    bool m_bDefaultComplete = true;
    bool m_bRunning = false;
    int m_Renderers = 0;
    int m_Completed = 0;  // EC_COMPLETEs heard since the run began
    LONG m_Completion = 0;  // the event that ended the run, 0 while it goes on
    uint64_t m_Stops = 0;  // tells a wait that the graph stopped under it
};
