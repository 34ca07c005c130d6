// Critical sections with RAII locking, and events owned by an object.
#pragma once

#include <atomic>
#include <thread>

#include "platform/win32/Event.h"
#include "platform/win32/Sync.h"

// A re-entrant lock that knows its owner, so that code can check which locks a thread holds.
class CCritSec {
public:
    CCritSec() { InitializeCriticalSection(&m_Section); }
    ~CCritSec() { DeleteCriticalSection(&m_Section); }
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;

    void Lock()
    {
        EnterCriticalSection(&m_Section);
        if (m_Depth++ == 0)
            m_Owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    void Unlock()
    {
        if (--m_Depth == 0)
            m_Owner.store(std::thread::id(), std::memory_order_relaxed);
        LeaveCriticalSection(&m_Section);
    }
    bool OwnedByCurrentThread() const { return m_Owner.load(std::memory_order_relaxed) == std::this_thread::get_id(); }

private:
    CRITICAL_SECTION m_Section;
    std::atomic<std::thread::id> m_Owner{};
    int m_Depth = 0;  // only touched by the owner
};

// TRUE when the calling thread holds the lock.
inline BOOL CritCheckIn(const CCritSec* lock) { return lock->OwnedByCurrentThread(); }

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : m_pLock(lock) { m_pLock->Lock(); }
    ~CAutoLock() { m_pLock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* const m_pLock;
};

// An unnamed Win32 event, closed with its owner.
class CAMEvent {
public:
    explicit CAMEvent(BOOL manualReset = FALSE, BOOL initialState = FALSE)
        : m_hEvent(CreateEventA(nullptr, manualReset, initialState, nullptr))
    {
    }
    ~CAMEvent() { CloseHandle(m_hEvent); }
    CAMEvent(const CAMEvent&) = delete;
    CAMEvent& operator=(const CAMEvent&) = delete;

    operator HANDLE() const { return m_hEvent; }
    void Set() { SetEvent(m_hEvent); }
    void Reset() { ResetEvent(m_hEvent); }
    BOOL Wait(DWORD milliseconds = INFINITE) { return WaitForSingleObject(m_hEvent, milliseconds) == WAIT_OBJECT_0; }
    // Looks without waiting; an auto-reset event that is set is cleared by the look.
    BOOL Check() { return Wait(0); }

private:
    const HANDLE m_hEvent;
};
