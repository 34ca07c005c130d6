// The header of one frame of MPEG audio (layers 1 to 3) or AC-3: how long the frame is and how
// many sample frames it decodes to. Streams whose frames run across AVI chunks are found and
// counted by them.
#pragma once

#include <cstddef>

#include "platform/win32/Win32Types.h"

struct AudioFrameHeader {
    unsigned int bytes;        // the frame's length, padding included
    unsigned int samples;      // sample frames it decodes to
    unsigned int rate;         // sample frames per second
    unsigned int bitRate;      // bits per second
    unsigned int coefficient;  // frames at this bit rate are coefficient x bitRate / rate bytes long on average
    unsigned int kind;         // codec, version and layer: every frame of a stream has the same

    // The header at data (size bytes available) for the wave format tag (0x50, 0x55: MPEG audio;
    // 0x2000: AC-3). False when the bytes are not one, or the tag has no such frames.
    static bool Read(WORD formatTag, const unsigned char* data, size_t size, AudioFrameHeader* header);
    // The most bytes Read looks at.
    static constexpr size_t Size = 6;
};
