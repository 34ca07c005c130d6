// Bytes read from a file straight into page memory: the data begins inside the block, where
// the sector-aligned read put it.
#pragma once

#include <utility>

#include "platform/win32/Win32Types.h"

class PageBlock {
public:
    PageBlock() = default;
    // Room for a direct read of size bytes from any offset.
    explicit PageBlock(DWORD size);
    PageBlock(PageBlock&& other) noexcept { *this = std::move(other); }
    PageBlock& operator=(PageBlock&& other) noexcept;
    ~PageBlock();

    // Reads size bytes at the reader's position; the bytes past the end of the file are zero.
    // When the read fails the block holds size zeros but its size() is 0.
    static PageBlock Read(void* file, DWORD size);

    unsigned char* data() const { return m_Data; }
    DWORD size() const { return m_Size; }
    // Hands the allocation over; the caller frees it with VirtualFree.
    void* release();

private:
    void* m_Block = nullptr;
    unsigned char* m_Data = nullptr;
    DWORD m_Size = 0;
};
