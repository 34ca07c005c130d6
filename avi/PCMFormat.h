// The PCM that compressed AVI audio decodes to.
#pragma once

#include "platform/win32/Win32Types.h"

// Bits per decoded sample: 8 where the stream states 8 (G.711), else 16 (MP3 and AC-3 state 0,
// ADPCM 4, floating point 32 or 64).
inline WORD DecodedBitsPerSample(const WAVEFORMATEX& source) { return source.wBitsPerSample == 8 ? 8 : 16; }
