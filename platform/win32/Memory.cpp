#include "Memory.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "File.h"

// VirtualFree gets only the address, so each block is preceded by one read-only page that
// records the whole mapping (it also stops writes that run below the block). Large blocks
// (frame buffers, whole indexes) start on a huge-page boundary and ask for huge pages: they
// fault in many times faster. Under AddressSanitizer the bytes past the size asked for are
// poisoned, so that a read past a block is reported even where its last page would allow it.

namespace {

constexpr size_t HugePageSize = 2 << 20;

struct Mapping {
    void* base;
    size_t length;
};

size_t PageSize()
{
    static const size_t size = (size_t)sysconf(_SC_PAGESIZE);
    return size;
}

}  // namespace

LPVOID VirtualAlloc(LPVOID address, size_t size, DWORD allocationType, DWORD protect)
{
    size_t page = PageSize();
    if (address || size == 0 || size > SIZE_MAX - 2 * page - HugePageSize || !(allocationType & MEM_COMMIT) ||
        protect != PAGE_READWRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size_t blockLength = (size + page - 1) / page * page;
    bool huge = blockLength >= HugePageSize;
    size_t length = page + blockLength + (huge ? HugePageSize : 0);
    char* base = static_cast<char*>(mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (base == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    char* block = base + page;
    if (huge) {
        block = reinterpret_cast<char*>(((uintptr_t)block + HugePageSize - 1) & ~(uintptr_t)(HugePageSize - 1));
        madvise(block, blockLength, MADV_HUGEPAGE);
    }
    char* guard = block - page;
    *reinterpret_cast<Mapping*>(guard) = {base, length};
    mprotect(guard, page, PROT_READ);
    ASAN_POISON_MEMORY_REGION(block + size, base + length - (block + size));
    return block;
}

BOOL VirtualFree(LPVOID address, size_t size, DWORD freeType)
{
    if (!address || size != 0 || freeType != MEM_RELEASE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Mapping mapping = *reinterpret_cast<Mapping*>(static_cast<char*>(address) - PageSize());
    ASAN_UNPOISON_MEMORY_REGION(mapping.base, mapping.length);  // the addresses may be mapped again
    munmap(mapping.base, mapping.length);
    return TRUE;
}
