#include "AMThread.h"

CAMThread::~CAMThread() { Close(); }

BOOL CAMThread::Create()
{
    CAutoLock lock(&m_AccessLock);
    if (ThreadExists())
        return FALSE;
    m_Thread = std::thread([this] { ThreadProc(); });
    return TRUE;
}

void CAMThread::Close()
{
    if (m_Thread.joinable())
        m_Thread.join();
}

DWORD CAMThread::CallWorker(DWORD request)
{
    CAutoLock lock(&m_AccessLock);
    if (!ThreadExists())
        return DWORD(E_FAIL);
    m_dwParam = request;
    m_EventSend.Set();
    m_EventComplete.Wait();
    return m_dwReturnVal;
}

DWORD CAMThread::GetRequest()
{
    m_EventSend.Wait();
    return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* request)
{
    if (!m_EventSend.Check())
        return FALSE;
    if (request)
        *request = m_dwParam;
    return TRUE;
}

void CAMThread::Reply(DWORD result)
{
    m_dwReturnVal = result;
    m_EventSend.Reset();
    m_EventComplete.Set();
}
