#include "CachedReader.h"

#include <algorithm>
#include <cerrno>

CachedReader::CachedReader(const char* name, std::unique_ptr<AsyncReader> backend)
    : m_Backend(std::move(backend)), m_Cache(name)
{
    m_Deferred.reserve(Depth);
}

bool CachedReader::Start(OVERLAPPED* request, void* buffer, DWORD count, uint64_t offset)
{
    if (!m_Cache.Resident(offset, count))
        return m_Backend->Start(request, buffer, count, offset);
    request->Internal = STATUS_PENDING;
    m_Deferred.push_back({request, buffer, count, offset});
    return true;
}

void CachedReader::CopyDeferred()
{
    for (const Deferred& d : m_Deferred) {
        const long copied = m_Cache.Read(d.buffer, d.count, d.offset);
        if (copied >= 0)
            RecordCompletion(d.request, copied);
        else
            m_Backend->Start(d.request, d.buffer, d.count, d.offset);
    }
    m_Deferred.clear();
}

void CachedReader::Poll()
{
    CopyDeferred();
    m_Backend->Poll();
}

void CachedReader::Wait(DWORD milliseconds)
{
    if (m_Deferred.empty())
        m_Backend->Wait(milliseconds);
    else
        CopyDeferred();
}

bool CachedReader::Cancel(OVERLAPPED* request)
{
    const auto found = std::find_if(m_Deferred.begin(), m_Deferred.end(),
                                    [&](const Deferred& d) { return d.request == request; });
    if (found == m_Deferred.end())
        return m_Backend->Cancel(request);
    m_Deferred.erase(found);
    RecordCompletion(request, -ECANCELED);
    return true;
}
