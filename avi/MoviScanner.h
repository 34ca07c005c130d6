// The chunks of "movi" lists found by walking their headers, for an index that has to be rebuilt.
// The file is read in large pieces, never once per chunk header.
#pragma once

#include "core/PageBlock.h"
#include "platform/win32/Win32Types.h"

struct MoviChunk {
    FOURCC id;
    ULONGLONG at;  // its first data byte
    DWORD size;
};

class MoviScanner {
public:
    MoviScanner(void* file, ULONGLONG fileSize);

    // The whole chunk whose header is at *at, before end, with *at moved past it (and its pad
    // byte). "LIST" headers inside (such as "rec " groups) are stepped into. False at end, at a
    // header that is no chunk's, or at a chunk that runs past end or past the file.
    bool Next(ULONGLONG* at, ULONGLONG end, MoviChunk* chunk);
    // Bytes [at, at + length) of the file; null when they cannot be read. Valid until the next call.
    const unsigned char* Bytes(ULONGLONG at, DWORD length);

private:
    // Headers close together come a window at a time. A header far past the last window (after a
    // frame of a MiB or more) costs less as a read of its own than as a read of the data between.
    static constexpr DWORD Window = 4 << 20;
    static constexpr DWORD Nearby = 256 << 10;
    static constexpr ULONGLONG FarGap = 1 << 20;

    void* m_File;
    ULONGLONG m_FileSize;
    PageBlock m_Block;
    const unsigned char* m_Data = nullptr;  // the bytes read last, from m_Start, m_Length of them
    ULONGLONG m_Start = 0;
    DWORD m_Length = 0;
};
