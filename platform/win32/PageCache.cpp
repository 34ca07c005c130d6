#include "PageCache.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

namespace {

// cachestat(2), from Linux 6.5; the C library may not know it yet.
constexpr long CachestatCall = 451;
struct CachestatRange {
    uint64_t offset;
    uint64_t length;
};
struct Cachestat {
    uint64_t cached, dirty, writeback, evicted, recentlyEvicted;
};

const long PageBytes = sysconf(_SC_PAGESIZE);

}  // namespace

PageCache::PageCache(const char* name, bool cachestat) : m_bCachestat(cachestat)
{
    m_Fd = open(name, O_RDONLY | O_CLOEXEC);
    // A read that misses must not bring more of the file in than it asked for.
    if (m_Fd >= 0)
        posix_fadvise(m_Fd, 0, 0, POSIX_FADV_RANDOM);
}

PageCache::~PageCache()
{
    if (m_Map)
        munmap(m_Map, m_MapSize);
    if (m_Fd >= 0)
        close(m_Fd);
}

long PageCache::Read(void* buffer, size_t count, uint64_t offset)
{
    if (m_Fd < 0)
        return -1;
    // Pages can leave the cache after the question: a read that would wait gives up.
    size_t done = 0;
    while (done < count) {
        iovec part{static_cast<char*>(buffer) + done, count - done};
        const ssize_t got = preadv2(m_Fd, &part, 1, off_t(offset + done), RWF_NOWAIT);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += size_t(got);
    }
    return long(done);
}

bool PageCache::Resident(uint64_t offset, size_t count)
{
    // The size is asked again only for a range past the one known: the file may have grown.
    if (offset + count > m_FileSize) {
        struct stat info;
        if (fstat(m_Fd, &info) != 0)
            return false;
        m_FileSize = uint64_t(info.st_size);
    }
    const uint64_t size = m_FileSize;
    if (offset >= size || count == 0)
        return true;
    const uint64_t page = uint64_t(PageBytes);
    const uint64_t first = offset / page, end = (std::min<uint64_t>(size, offset + count) + page - 1) / page;
    // The question just answered yes, asked again by the read that follows it.
    if (std::exchange(m_Recent, {}) == std::pair(first, end))
        return true;
    bool resident = false;
    if (m_bCachestat) {
        CachestatRange range{first * page, (end - first) * page};
        Cachestat stat{};
        if (syscall(CachestatCall, m_Fd, &range, &stat, 0) == 0)
            resident = stat.cached >= end - first;
        else if (errno == ENOSYS || errno == EPERM)
            m_bCachestat = false;
    }
    if (!m_bCachestat)
        resident = ResidentByMapping(first * page, size_t((end - first) * page), size);
    if (resident)
        m_Recent = {first, end};
    return resident;
}

bool PageCache::ResidentByMapping(uint64_t offset, size_t count, uint64_t fileSize)
{
    // The mapping follows the file as it grows. It covers whole pages: the last one, partly the
    // file's, is asked about without mapping the file again.
    if (offset + count > m_MapSize) {
        if (m_Map)
            munmap(m_Map, m_MapSize);
        m_MapSize = 0;
        m_Map = mmap(nullptr, fileSize, PROT_READ, MAP_SHARED, m_Fd, 0);
        if (m_Map == MAP_FAILED) {
            m_Map = nullptr;
            return false;
        }
        m_MapSize = (fileSize + uint64_t(PageBytes) - 1) / uint64_t(PageBytes) * uint64_t(PageBytes);
    }
    const size_t pages = count / size_t(PageBytes);
    std::unique_ptr<unsigned char[]> resident(new unsigned char[pages]);
    if (mincore(static_cast<char*>(m_Map) + offset, count, resident.get()) != 0)
        return false;
    for (size_t p = 0; p < pages; p++)
        if (!(resident[p] & 1))
            return false;
    return true;
}
