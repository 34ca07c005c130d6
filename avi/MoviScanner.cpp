#include "MoviScanner.h"

#include <algorithm>
#include <cstring>

#include "core/FileIOWrapper.h"

namespace {

// Chunk ids are four printable characters; zeros or noise mean the data ends here.
bool IsChunkId(FOURCC id)
{
    for (int shift = 0; shift < 32; shift += 8) {
        const unsigned c = (id >> shift) & 0xFF;
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

}  // namespace

MoviScanner::MoviScanner(void* file, ULONGLONG fileSize) : m_File(file), m_FileSize(fileSize), m_Block(Window) {}

bool MoviScanner::Next(ULONGLONG* at, ULONGLONG end, MoviChunk* chunk)
{
    end = std::min(end, m_FileSize);
    while (*at + 8 <= end) {
        const unsigned char* header = Bytes(*at, 8);
        if (!header)
            return false;
        DWORD id, size;
        memcpy(&id, header, 4);
        memcpy(&size, header + 4, 4);
        if (!IsChunkId(id))
            return false;
        if (id == FCC("LIST")) {
            *at += 12;
            continue;
        }
        if (size > end - *at - 8)
            return false;
        *chunk = {id, *at + 8, size};
        *at += 8ull + size + (size & 1);
        return true;
    }
    return false;
}

const unsigned char* MoviScanner::Bytes(ULONGLONG at, DWORD length)
{
    if (at >= m_Start && at + length <= m_Start + m_Length)
        return m_Data + (at - m_Start);
    if (!m_Block.data() || length > Window || at > m_FileSize || length > m_FileSize - at)
        return nullptr;
    const ULONGLONG last = m_Start + m_Length;
    const DWORD wanted = at >= last && at - last > FarGap ? Nearby : Window;
    const DWORD count = (DWORD)std::min<ULONGLONG>(std::max(wanted, length), m_FileSize - at);
    mySeek64(m_File, (long long)at, FILE_BEGIN);
    unsigned int skip = 0;
    const int got = myRead(m_File, m_Block.data(), count, &skip, false);
    m_Length = 0;
    if (got < (int)length)
        return nullptr;
    m_Data = m_Block.data() + skip;
    m_Start = at;
    m_Length = (DWORD)got;
    return m_Data;
}
