#include "Event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

// Every event shares one lock, so that a wait on several events cannot miss a set between
// looking at two of them; each wait has a condition of its own, on which only a set of one of
// its events wakes it (a hand-off then wakes the one thread waiting for it, not every waiter).
std::mutex eventLock;

struct Event : KernelObject {
    Event(bool manual, bool set) : manualReset(manual), signalled(set) {}
    const bool manualReset;
    bool signalled;
    std::vector<std::condition_variable*> waiters;
};

Event* EventOf(HANDLE handle) { return dynamic_cast<Event*>(ObjectOf(handle)); }

BOOL Change(HANDLE handle, bool signalled)
{
    Event* event = EventOf(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(eventLock);
    event->signalled = signalled;
    if (signalled)
        for (std::condition_variable* waiter : event->waiters)
            waiter->notify_one();
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
    int which = satisfied();
    if (which < 0) {
        std::condition_variable changed;
        for (DWORD i = 0; i < count; ++i)
            events[i]->waiters.push_back(&changed);
        while ((which = satisfied()) < 0) {
            if (milliseconds == INFINITE)
                changed.wait(lock);
            else if (changed.wait_until(lock, deadline) == std::cv_status::timeout && (which = satisfied()) < 0)
                break;
        }
        for (DWORD i = 0; i < count; ++i)
            std::erase(events[i]->waiters, &changed);
        if (which < 0)
            return WAIT_TIMEOUT;
    }
    for (DWORD i = 0; i < count; ++i)
        if ((waitAll || int(i) == which) && !events[i]->manualReset)
            events[i]->signalled = false;
    return WAIT_OBJECT_0 + (waitAll ? 0 : DWORD(which));
}
