// RIFF structures put together in memory: little-endian fields, chunks and lists whose sizes are
// filled in when they end, with the pad byte that keeps every chunk at an even offset.
#pragma once

#include <cstring>
#include <vector>

#include "platform/win32/Win32Types.h"

class RiffBytes {
public:
    void Fourcc(FOURCC value) { U32(value); }
    void U16(WORD value) { Put(&value, sizeof value); }
    void U32(DWORD value) { Put(&value, sizeof value); }
    void U64(ULONGLONG value) { Put(&value, sizeof value); }
    void Put(const void* data, size_t size)
    {
        const BYTE* bytes = static_cast<const BYTE*>(data);
        m_Bytes.insert(m_Bytes.end(), bytes, bytes + size);
    }
    void Zeros(size_t count) { m_Bytes.resize(m_Bytes.size() + count); }

    // A chunk header whose size End fills in; returns where it starts.
    size_t Begin(FOURCC id)
    {
        const size_t at = m_Bytes.size();
        Fourcc(id);
        U32(0);
        return at;
    }
    size_t BeginList(FOURCC list, FOURCC type)
    {
        const size_t at = Begin(list);
        Fourcc(type);
        return at;
    }
    // The size counts what follows the header, not the pad byte added after an odd size.
    void End(size_t at)
    {
        const DWORD size = DWORD(m_Bytes.size() - at - 8);
        std::memcpy(&m_Bytes[at + 4], &size, sizeof size);
        if (size & 1)
            m_Bytes.push_back(0);
    }

    // Overwrites a field put earlier.
    void SetU32(size_t at, DWORD value) { std::memcpy(&m_Bytes[at], &value, sizeof value); }

    size_t Size() const { return m_Bytes.size(); }
    std::vector<BYTE>& Bytes() { return m_Bytes; }

private:
    std::vector<BYTE> m_Bytes;
};
