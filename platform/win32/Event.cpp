#include "Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// Every event shares one lock and one condition: a set wakes the waiters, which look again.
// Waits are few (a streaming thread and a host thread per hand-off), so the simple scheme costs
// nothing measurable and cannot lose a wake-up between two events.
std::mutex eventLock;
std::condition_variable eventChanged;

struct Event : KernelObject {
    Event(bool manual, bool set) : manualReset(manual), signalled(set) {}
    const bool manualReset;
    bool signalled;
};

Event* EventOf(HANDLE handle) { return dynamic_cast<Event*>(ObjectOf(handle)); }

BOOL Change(HANDLE handle, bool signalled)
{
    Event* event = EventOf(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(eventLock);
        event->signalled = signalled;
    }
    if (signalled)
        eventChanged.notify_all();
    return TRUE;
}

}  // namespace

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, LPCSTR)
{
    return static_cast<KernelObject*>(new Event(manualReset, initialState));
}

BOOL SetEvent(HANDLE event) { return Change(event, true); }

BOOL ResetEvent(HANDLE event) { return Change(event, false); }

DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds)
{
    return WaitForMultipleObjects(1, &event, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    Event* events[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i)
        if (!(events[i] = EventOf(handles[i]))) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    // Index of the event that ends the wait, count when all of them do, or -1.
    auto satisfied = [&]() -> int {
        DWORD set = 0;
        for (DWORD i = 0; i < count; ++i)
            if (events[i]->signalled) {
                if (!waitAll)
                    return int(i);
                ++set;
            }
        return set == count ? int(count) : -1;
    };
    std::unique_lock<std::mutex> lock(eventLock);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    int which;
    while ((which = satisfied()) < 0) {
        if (milliseconds == INFINITE)
            eventChanged.wait(lock);
        else if (eventChanged.wait_until(lock, deadline) == std::cv_status::timeout && (which = satisfied()) < 0)
            return WAIT_TIMEOUT;
        else if (which >= 0)
            break;
    }
    for (DWORD i = 0; i < count; ++i)
        if ((waitAll || int(i) == which) && !events[i]->manualReset)
            events[i]->signalled = false;
    return WAIT_OBJECT_0 + (waitAll ? 0 : DWORD(which));
}
