#include "Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "File.h"

// VirtualFree gets only the address, so each block is preceded by one read-only page that
// holds the length of the whole mapping (it also stops writes that run below the block).

namespace {

constexpr size_t HugePageSize = 2 << 20;

size_t PageSize()
{
    static const size_t size = (size_t)sysconf(_SC_PAGESIZE);
    return size;
}

}  // namespace

LPVOID VirtualAlloc(LPVOID address, size_t size, DWORD allocationType, DWORD protect)
{
    size_t page = PageSize();
    if (address || size == 0 || size > SIZE_MAX - 2 * page || !(allocationType & MEM_COMMIT) ||
        protect != PAGE_READWRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size_t length = page + (size + page - 1) / page * page;
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Large blocks (frame buffers, whole indexes) fault in far faster as huge pages.
    if (length >= HugePageSize)
        madvise(base, length, MADV_HUGEPAGE);
    *static_cast<size_t*>(base) = length;
    mprotect(base, page, PROT_READ);
    return static_cast<char*>(base) + page;
}

BOOL VirtualFree(LPVOID address, size_t size, DWORD freeType)
{
    if (!address || size != 0 || freeType != MEM_RELEASE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char* base = static_cast<char*>(address) - PageSize();
    munmap(base, *reinterpret_cast<size_t*>(base));
    return TRUE;
}
