// Reads that the page cache can serve at once. Unbuffered reading keeps huge files from flushing
// the host's cache, but bytes another program already brought into it come faster from there: a
// second, buffered descriptor of the file copies them out when every page of the range is
// resident. Asking costs no disk access and starts none (cachestat, or mincore over a mapping of
// the file on kernels without it).
#pragma once

#include <cstdint>
#include <cstddef>
#include <utility>

class PageCache {
public:
    // For the file of that name; every Read fails when it cannot be opened again. Without
    // cachestat it asks mincore, as on kernels that lack cachestat.
    explicit PageCache(const char* name, bool cachestat = true);
    ~PageCache();
    PageCache(const PageCache&) = delete;
    PageCache& operator=(const PageCache&) = delete;

    // Reads count bytes at offset into buffer, which Resident found in the cache, without waiting
    // for the disk: the bytes read (0 at or past the end). -1 when any of them has left it since;
    // the buffer may then hold part of them.
    long Read(void* buffer, size_t count, uint64_t offset);
    // Every page of count bytes at offset (up to the end of the file) is in the cache.
    bool Resident(uint64_t offset, size_t count);

private:
    bool ResidentByMapping(uint64_t offset, size_t count, uint64_t fileSize);

    int m_Fd = -1;  // buffered, no read-ahead
    bool m_bCachestat;  // asks cachestat (the kernel has it)
    void* m_Map = nullptr;  // the whole file, for mincore
    uint64_t m_MapSize = 0;
    uint64_t m_FileSize = 0;  // as last seen
    std::pair<uint64_t, uint64_t> m_Recent;  // the pages last found resident, for one repeat of the question
};
