// The reader of a file read past the page cache (unbuffered): a read whose every page the cache
// holds is copied from there instead of read from the disk. The copy is made when the read is
// first waited for or polled, not when it starts, so that a read started ahead and then cancelled
// (the reader jumped elsewhere) costs nothing. Other reads go to the back-end as they come.
#pragma once

#include <memory>
#include <vector>

#include "AsyncReader.h"
#include "PageCache.h"

class CachedReader final : public AsyncReader {
public:
    CachedReader(const char* name, std::unique_ptr<AsyncReader> backend);

    AsyncBackend Backend() const override { return m_Backend->Backend(); }
    bool Start(OVERLAPPED* request, void* buffer, DWORD count, uint64_t offset) override;
    void Poll() override;
    void Wait(DWORD milliseconds) override;
    bool Cancel(OVERLAPPED* request) override;
    // Every page of the range is in the page cache.
    bool Holds(uint64_t offset, size_t count) { return m_Cache.Resident(offset, count); }

private:
    struct Deferred {
        OVERLAPPED* request;
        void* buffer;
        DWORD count;
        uint64_t offset;
    };
    // Copies every deferred read; one whose pages left the cache meanwhile goes to the back-end.
    void CopyDeferred();

    const std::unique_ptr<AsyncReader> m_Backend;
    PageCache m_Cache;
    std::vector<Deferred> m_Deferred;
};
