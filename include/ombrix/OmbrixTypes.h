// The few platform types that the exported classes' layouts hold.
#pragma once

#include <cstdint>

#ifndef OMBRIX_API
#define OMBRIX_API __attribute__((visibility("default")))
#endif

#pragma pack(push, 1)
// An audio format, as stored in AVI and WAV files.
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX layout");

// A class id (the DV output's encoder).
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

// A parent window for the codec settings; the property-frame callback receives it unchanged.
typedef struct HWND__* HWND;

// An audio conversion stream.
typedef struct HACMSTREAM__* HACMSTREAM;

// One conversion: a source buffer in, a destination buffer out.
struct ACMSTREAMHEADER {
    uint32_t cbStruct;
    uint32_t fdwStatus;
    uintptr_t dwUser;
    uint8_t* pbSrc;
    uint32_t cbSrcLength;
    uint32_t cbSrcLengthUsed;
    uintptr_t dwSrcUser;
    uint8_t* pbDst;
    uint32_t cbDstLength;
    uint32_t cbDstLengthUsed;
    uintptr_t dwDstUser;
    uint32_t dwReservedDriver[10];
};
