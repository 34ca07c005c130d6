#include "PageBlock.h"

#include <cstring>

#include "FileIOWrapper.h"
#include "platform/win32/Memory.h"

PageBlock::PageBlock(DWORD size)
    : m_Block(VirtualAlloc(nullptr, (size_t)size + 2 * FileIOWrapper::SectorSize, MEM_COMMIT | MEM_RESERVE,
                           PAGE_READWRITE)),
      m_Data((unsigned char*)m_Block), m_Size(m_Block ? size : 0)
{
}

PageBlock& PageBlock::operator=(PageBlock&& other) noexcept
{
    std::swap(m_Block, other.m_Block);
    std::swap(m_Data, other.m_Data);
    std::swap(m_Size, other.m_Size);
    return *this;
}

PageBlock::~PageBlock()
{
    if (m_Block)
        VirtualFree(m_Block, 0, MEM_RELEASE);
}

PageBlock PageBlock::Read(void* file, DWORD size)
{
    PageBlock block(size);
    if (!block.m_Block)
        return block;
    unsigned int skip = 0;
    int got = myRead(file, block.m_Block, size, &skip, false);
    if (got < 0) {
        // Nothing was read, yet a caller that looks past size() still finds zeros it may read.
        memset(block.m_Block, 0, size);
        block.m_Size = 0;
        return block;
    }
    block.m_Data = (unsigned char*)block.m_Block + skip;
    memset(block.m_Data + got, 0, size - (DWORD)got);
    return block;
}

void* PageBlock::release()
{
    void* block = m_Block;
    m_Block = nullptr;
    m_Data = nullptr;
    m_Size = 0;
    return block;
}
