// The PCM that compressed AVI audio decodes to.
#pragma once

#include "platform/win32/Win32Types.h"

// Bits per decoded sample: the stored size, or 16 where the stored size is no whole number of
// bytes (MP3 and AC-3 state 0, ADPCM 4).
inline WORD DecodedBitsPerSample(const WAVEFORMATEX& source)
{
    return source.wBitsPerSample > 0 && source.wBitsPerSample % 8 == 0 ? source.wBitsPerSample : 16;
}
