// A worker thread driven by commands: one caller at a time hands it a request and waits for the
// reply.
#pragma once

#include <thread>

#include "CritSec.h"
#include "platform/com/Guid.h"

class CAMThread {
public:
    CAMThread() = default;
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // Starts the thread on ThreadProc; FALSE when it already runs.
    BOOL Create();
    // Waits for the thread to end.
    void Close();
    BOOL ThreadExists() const { return m_Thread.joinable(); }

    // Sends a request and waits for the reply; E_FAIL without a thread.
    DWORD CallWorker(DWORD request);

    // On the worker: waits for the next request.
    DWORD GetRequest();
    // On the worker: whether a request waits, without taking it.
    BOOL CheckRequest(DWORD* request);
    // On the worker: answers the request taken.
    void Reply(DWORD result);

    CCritSec m_AccessLock;  // serialises callers
    CCritSec m_WorkerLock;  // for the worker's own use

protected:
    virtual DWORD ThreadProc() = 0;

private:
    CAMEvent m_EventSend{TRUE};  // a request waits; cleared by the reply
    CAMEvent m_EventComplete;    // the reply is there
    DWORD m_dwParam = 0;
    DWORD m_dwReturnVal = 0;
    std::thread m_Thread;
};
