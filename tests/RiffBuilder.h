// Hand-made RIFF files for the parser tests: AVI (idx1 or OpenDML, with AVIX segments), WAV and
// synthetic DV frames, with the offsets the parser should report.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "avi/AviStructures.h"

using Bytes = std::vector<uint8_t>;

template <class T>
Bytes bytesOf(const T& value)
{
    const uint8_t* p = (const uint8_t*)&value;
    return Bytes(p, p + sizeof value);
}

// Appends chunks to a byte image. Lists nest; a list's size is filled in when it is closed and
// any stored size can be overwritten afterwards to make a damaged file.
class RiffBuilder {
public:
    size_t open(const char* id, const char* type);  // RIFF or LIST; returns the header's offset
    void close();
    size_t chunk(const char* id, const Bytes& data);  // returns the header's offset
    template <class T>
    size_t chunk(const char* id, const T& value) { return chunk(id, bytesOf(value)); }
    void raw(const Bytes& data) { image.insert(image.end(), data.begin(), data.end()); }
    template <class T>
    void patch(size_t at, const T& value) { memcpy(&image[at], &value, sizeof value); }
    void setSize(size_t chunkOffset, uint32_t size) { patch(chunkOffset + 4, size); }
    size_t size() const { return image.size(); }

    Bytes image;
    std::vector<size_t> headers;  // offset of every chunk header written

private:
    std::vector<size_t> openLists;
};

void writeFile(const std::string& path, const Bytes& data);

AVIMAINHEADER mainHeader(DWORD totalFrames, DWORD streams, DWORD suggestedBufferSize = 0);
AVISTREAMHEADER streamHeader(const char* type, const char* handler, DWORD scale, DWORD rate,
                             DWORD length = 0, DWORD suggestedBufferSize = 0);
BITMAPINFOHEADER bitmapInfo(LONG width, LONG height, const char* compression);
WAVEFORMATEX waveFormat(WORD tag, WORD channels, DWORD rate, WORD bits, WORD cbSize = 0);
// WAVE_FORMAT_EXTENSIBLE with a SubFormat GUID of the KSDATAFORMAT_SUBTYPE family: 1 is PCM.
Bytes extensibleFormat(WORD channels, DWORD rate, WORD bits, DWORD subFormatTag);

// One chunk of "movi": ckid such as "00dc"; an empty chunk is a dropped frame.
struct AviChunk {
    std::string ckid;
    Bytes data;
    bool key = true;
};

struct AviStreamDef {
    AVISTREAMHEADER header;
    Bytes format;
};

enum class Idx1 { None, Relative, Absolute };

struct AviLayout {
    AVIMAINHEADER avih = mainHeader(0, 0);
    std::vector<AviStreamDef> streams;
    std::vector<std::vector<AviChunk>> segments;  // the first in RIFF "AVI ", the others in "AVIX"
    Idx1 idx1 = Idx1::Relative;                   // of the first segment's chunks, after its movi
    bool superIndex = false;                      // an indx per stream and ix## in every segment
    DWORD dmlhFrames = 0;                         // a LIST "odml" with "dmlh" when not 0
    Bytes inHdrl;                                 // whole chunks put at the end of the hdrl list
    Bytes afterHdrl;                              // and between the hdrl and the movi lists
};

struct BuiltAvi {
    Bytes image;
    std::vector<uint64_t> dataAt;  // file offset of each chunk's data, in layout order
    std::vector<size_t> moviAt;    // offset of each segment's movi LIST
    std::vector<size_t> headers;   // offset of every chunk header

    size_t find(const char* id, int nth = 0) const;  // offset of the nth chunk header with this id
};

// Two streams: "MJPG" video at 25 fps and 48 kHz 16-bit stereo PCM (length in sample frames).
AviLayout videoAndAudio(std::vector<std::vector<AviChunk>> segments);
AviChunk videoChunk(DWORD size, bool key = true);
AviChunk audioChunk(DWORD size);

BuiltAvi buildAvi(const AviLayout& layout);
Bytes buildWav(const Bytes& format, const Bytes& data);

// Synthetic DV frames: every DIF sequence has its header, subcode, VAUX and nine audio blocks
// at their places (audio block a at 6 + 16a); the rest are video blocks.
struct DvAudioPack {  // the AAUX source pack of one half
    uint8_t afSize = 0;
    uint8_t smp = 0;
    uint8_t qu = 0;
    uint8_t chn = 0;
    uint8_t audioMode = 0;
    bool locked = false;
};

struct DvFrameParams {
    bool pal = true;
    DvAudioPack audio[2];
    DWORD timecode = 0;  // pack 0x13 bytes 1-4, little-endian
    uint8_t vauxSource = 0;  // pack 0x60 byte 2
};

constexpr unsigned dvAudioBlockAt(unsigned sequence, unsigned a) { return sequence * 150 + 6 + 16 * a; }
// The data byte i of the frame's n-th audio block.
constexpr uint8_t dvAudioByte(unsigned n, unsigned i) { return uint8_t(n * 7 + i); }

Bytes dvFrame(const DvFrameParams& dv);  // 120000 or 144000 bytes
