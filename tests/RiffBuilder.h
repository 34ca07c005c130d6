// Hand-made RIFF files for the parser tests: AVI (idx1 or OpenDML, with AVIX segments), WAV and
// synthetic DV frames, with the offsets the parser should report.
#pragma once

#include <cstring>

#include "TestSupport.h"
#include "avi/AviStructures.h"
#include "avi/DVFrame.h"

// Headers are written with designated initializers; the fields left out are zero.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

template <class T>
Bytes bytesOf(const T& value) { return Bytes((const uint8_t*)&value, (const uint8_t*)&value + sizeof value); }
inline void append(Bytes& to, const Bytes& part) { to.insert(to.end(), part.begin(), part.end()); }

inline FOURCC fourcc(const std::string& s) { return mmioFOURCC(s[0], s[1], s[2], s[3]); }

// Appends chunks to a byte image; a chunk of odd size is followed by its pad byte. A list's size
// is filled in when it is closed; any stored value can be overwritten afterwards to make a
// damaged file.
struct RiffBuilder {
    // RIFF or LIST; returns the header's offset, as chunk() does.
    size_t open(const char* id, const char* type) { return lists.emplace_back(chunk(id, Bytes(type, type + 4))); }
    void close()
    {
        patch(lists.back() + 4, uint32_t(image.size() - lists.back() - 8));
        lists.pop_back();
    }
    size_t chunk(const std::string& id, const Bytes& data)
    {
        for (const Bytes& part : {bytesOf(fourcc(id)), bytesOf(uint32_t(data.size())), data})
            raw(part);
        const size_t at = image.size() - data.size() - 8;
        if (data.size() % 2)
            image.push_back(0);
        return headers.emplace_back(at);
    }
    template <class T>
    size_t chunk(const std::string& id, const T& value) { return chunk(id, bytesOf(value)); }
    void raw(const Bytes& data) { append(image, data); }
    template <class T>
    void patch(size_t at, const T& value) { memcpy(&image[at], &value, sizeof value); }
    size_t find(const char* id, int nth = 0) const  // the nth chunk header with this id
    {
        for (size_t at : headers)
            if (memcmp(&image[at], id, 4) == 0 && nth-- == 0)
                return at;
        throw std::runtime_error(std::string("no chunk ") + id);
    }

    Bytes image;
    std::vector<size_t> headers, lists;  // offsets of every chunk header, and of the open lists
};

inline WAVEFORMATEX waveFormat(WORD tag, WORD channels, DWORD rate, WORD bits, WORD cbSize = 0)
{
    const WORD align = WORD(channels * bits / 8);
    return {tag, channels, rate, rate * align, align, bits, cbSize};
}

// WAVE_FORMAT_EXTENSIBLE whose SubFormat is of the KSDATAFORMAT_SUBTYPE family: 1 is PCM.
inline Bytes extensibleFormat(WORD channels, DWORD rate, WORD bits, DWORD subFormat)
{
    Bytes b = bytesOf(waveFormat(WAVE_FORMAT_EXTENSIBLE, channels, rate, bits, 22));
    for (Bytes part : {bytesOf(WORD(bits)), bytesOf(DWORD((1u << channels) - 1)), bytesOf(subFormat),
                       Bytes{0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}})
        append(b, part);
    return b;
}

// "fmt ", a "fact" chunk that the parser skips, and "data" holding dataBytes, its size stored.
inline RiffBuilder buildWav(const Bytes& format, DWORD dataBytes, DWORD stored)
{
    RiffBuilder b;
    b.open("RIFF", "WAVE");
    b.chunk("fmt ", format);
    b.chunk("fact", DWORD(0));
    b.patch(b.chunk("data", Bytes(dataBytes, 7)) + 4, stored);
    b.close();
    return b;
}

// A chunk of "movi", such as "00dc"; an empty chunk is a dropped frame.
struct AviChunk { std::string ckid; Bytes data; bool key = true; };

inline AviChunk videoChunk(DWORD size, bool key = true) { return {"00dc", Bytes(size, 0x56), key}; }
inline AviChunk audioChunk(DWORD size) { return {"01wb", Bytes(size, 0x41)}; }

enum class Idx1 { None, Relative, Absolute };

struct AviLayout {
    AVIMAINHEADER avih{};
    std::vector<std::pair<AVISTREAMHEADER, Bytes>> streams;  // header and format
    std::vector<std::vector<AviChunk>> segments;  // the first in RIFF "AVI ", the others in "AVIX"
    Idx1 idx1 = Idx1::Relative;                   // of the first segment's chunks, after its movi
    bool superIndex = false;                      // an indx per stream and ix## in every segment
    DWORD dmlhFrames = 0;                         // a LIST "odml" with "dmlh" when not 0
    Bytes inHdrl, afterHdrl, inStrl;              // whole chunks at the end of hdrl, after it, after each "strh"
    bool recLists = false;                        // each movi chunk inside a LIST "rec "
};

struct BuiltAvi : RiffBuilder {
    std::vector<uint64_t> dataAt;  // file offset of each chunk's data, in layout order
    std::vector<size_t> moviAt;    // offset of each segment's movi LIST
};

inline BuiltAvi buildAvi(const AviLayout& l)
{
    BuiltAvi b;
    const size_t streams = l.streams.size(), segments = l.segments.size();
    auto ckid = [&](size_t s) {
        const bool audio = l.streams[s].first.fccType == FCC("auds");
        return std::string{char('0' + s / 10), char('0' + s % 10), audio ? 'w' : 'd', audio ? 'b' : 'c'};
    };
    std::vector<size_t> superEntries(streams);
    for (size_t seg = 0; seg < segments; seg++) {
        b.open("RIFF", seg ? "AVIX" : "AVI ");
        if (seg == 0) {
            b.open("LIST", "hdrl");
            b.chunk("avih", l.avih);
            for (size_t s = 0; s < streams; s++) {
                b.open("LIST", "strl");
                b.chunk("strh", l.streams[s].first);
                b.raw(l.inStrl);
                if (!l.streams[s].second.empty())
                    b.chunk("strf", l.streams[s].second);
                if (l.superIndex) {  // the entries are filled in per segment
                    Bytes indx =
                        bytesOf(AVISUPERINDEXHEADER{4, 0, AVI_INDEX_OF_INDEXES, DWORD(segments), fourcc(ckid(s))});
                    indx.resize(indx.size() + segments * sizeof(AVISUPERINDEXENTRY));
                    superEntries[s] = b.chunk("indx", indx) + 8 + sizeof(AVISUPERINDEXHEADER);
                }
                b.close();
            }
            b.raw(l.inHdrl);
            if (l.dmlhFrames) {
                b.open("LIST", "odml");
                b.chunk("dmlh", l.dmlhFrames);
                b.close();
            }
            b.close();
            b.raw(l.afterHdrl);
        }
        const size_t movi = b.moviAt.emplace_back(b.open("LIST", "movi"));
        Bytes idx1;
        std::vector<Bytes> ix(streams);
        for (const AviChunk& c : l.segments[seg]) {
            if (l.recLists)
                b.open("LIST", "rec ");
            const size_t at = b.chunk(c.ckid, c.data);
            if (l.recLists)
                b.close();
            const DWORD size = DWORD(c.data.size());
            b.dataAt.push_back(at + 8);
            const DWORD offset = DWORD(l.idx1 == Idx1::Absolute ? at : at - movi - 8);
            append(idx1, bytesOf(AVIINDEXENTRY{fourcc(c.ckid), c.key ? AVIIF_KEYFRAME : 0u, offset, size}));
            const DWORD flagged = c.key ? size : size | AVI_INDEX_DELTAFRAME;
            if (size_t s = std::stoul(c.ckid.substr(0, 2)); s < streams)
                append(ix[s], bytesOf(AVISTDINDEXENTRY{DWORD(at + 8 - movi), flagged}));
        }
        for (size_t s = 0; l.superIndex && s < streams; s++) {
            const DWORD n = DWORD(ix[s].size() / sizeof(AVISTDINDEXENTRY));
            Bytes index = bytesOf(AVISTDINDEXHEADER{0, 0, 2, 0, 1, n, fourcc(ckid(s)), movi});
            index.erase(index.begin(), index.begin() + 8);  // the chunk header is written by chunk()
            append(index, ix[s]);
            const AVISUPERINDEXENTRY entry{b.chunk("ix" + ckid(s).substr(0, 2), index), DWORD(index.size() + 8), n};
            b.patch(superEntries[s] + seg * sizeof entry, entry);
        }
        b.close();
        if (seg == 0 && l.idx1 != Idx1::None)
            b.chunk("idx1", idx1);
        b.close();
    }
    return b;
}

// Two streams: "MJPG" video at 25 fps and 48 kHz 16-bit stereo PCM (length in sample frames).
inline AviLayout videoAndAudio(std::vector<std::vector<AviChunk>> segments)
{
    DWORD firstFrames = 0, frames = 0, audioBytes = 0;
    for (size_t seg = 0; seg < segments.size(); seg++)
        for (const AviChunk& c : segments[seg]) {
            frames += c.ckid == "00dc";
            firstFrames += c.ckid == "00dc" && seg == 0;
            audioBytes += c.ckid == "01wb" ? DWORD(c.data.size()) : 0;
        }
    const AVISTREAMHEADER video{.fccType = FCC("vids"), .fccHandler = FCC("MJPG"), .dwScale = 1, .dwRate = 25,
                                .dwLength = frames};
    const AVISTREAMHEADER audio{.fccType = FCC("auds"), .dwScale = 4, .dwRate = 192000, .dwLength = audioBytes / 4,
                                .dwSuggestedBufferSize = 4000, .dwSampleSize = 4};
    return {{.dwMicroSecPerFrame = 40000, .dwTotalFrames = firstFrames, .dwStreams = 2},
            {{video, bytesOf(BITMAPINFOHEADER{40, 64, 48, 1, 24, FCC("MJPG")})},
             {audio, bytesOf(waveFormat(WAVE_FORMAT_PCM, 2, 48000, 16))}},
            std::move(segments)};
}

// A type-1 DV file: one "iavs" stream of "00db" chunks, the frames given.
inline AviLayout dvType1(const std::vector<Bytes>& frames, bool pal = true)
{
    const DWORD count = DWORD(frames.size());
    const AVISTREAMHEADER dv{.fccType = FCC("iavs"), .fccHandler = FCC("dvsd"), .dwScale = pal ? 1u : 1001u,
                             .dwRate = pal ? 25u : 30000u, .dwLength = count, .dwSuggestedBufferSize = 150000};
    std::vector<AviChunk> chunks;
    for (const Bytes& frame : frames)
        chunks.push_back({"00db", frame});
    return {{.dwMicroSecPerFrame = 40000, .dwTotalFrames = count, .dwStreams = 1}, {{dv, Bytes(32)}}, {chunks}};
}

// Synthetic DV frames: every DIF sequence has its header, subcode, VAUX and nine audio blocks
// at their places; the rest are video blocks.
struct DvAudioPack {  // the AAUX source pack of one half
    uint8_t afSize = 0, smp = 0, qu = 0, chn = 0, audioMode = 0;
    bool locked = false;
};

struct DvFrameParams {
    bool pal = true;
    DvAudioPack audio[2];
    DWORD timecode = 0;      // pack 0x13 bytes 1-4, little-endian
    uint8_t vauxSource = 0;  // pack 0x60 byte 2
};

// The data byte i of the frame's n-th audio block.
constexpr uint8_t dvAudioByte(unsigned n, unsigned i) { return uint8_t(n * 7 + i); }

inline Bytes dvFrame(const DvFrameParams& dv)  // 120000 or 144000 bytes
{
    const unsigned sequences = dv.pal ? 12 : 10;
    Bytes f(sequences * 150 * DVBlockSize);
    unsigned audioBlocks = 0;
    for (unsigned seq = 0; seq < sequences; seq++) {
        const DvAudioPack& a = dv.audio[seq >= sequences / 2];
        const uint8_t source[5] = {0x50, uint8_t((a.locked ? 0x80 : 0) | (a.afSize & 0x3F)),
                                   uint8_t((a.chn & 3) << 5 | (a.audioMode & 15)), uint8_t(dv.pal ? 0x40 : 0),
                                   uint8_t((a.smp & 7) << 3 | (a.qu & 7))};
        for (unsigned n = 0; n < 150; n++) {
            uint8_t* p = &f[(seq * 150 + n) * DVBlockSize];
            const uint8_t section = n == 0 ? 0 : n < 3 ? 1 : n < 6 ? 2 : (n - 6) % 16 == 0 ? 3 : 4;
            p[0] = uint8_t(section << 5 | 0x1F);
            p[1] = uint8_t(seq << 4 | 0x07);
            p[2] = uint8_t(n);
            p[3] = dv.pal ? 0xBF : 0x3F;  // the header block's system bit
            if (section == 1) {  // six sync blocks of a 3-byte ID and one pack; the first a time code
                for (unsigned s = 0; s < 6; s++)
                    memset(p + 6 + 8 * s, 0xFF, 5);
                p[6] = 0x13;
                memcpy(p + 7, &dv.timecode, 4);
            } else if (section == 2) {  // fifteen packs, the first a VAUX source pack
                memset(p + 3, 0xFF, 75);
                p[3] = 0x60;
                p[5] = dv.vauxSource;
            } else if (section == 3) {
                // As on tape, the source pack sits in audio block 3 of even and 0 of odd sequences.
                memcpy(p + 3, (n - 6) / 16 == (seq % 2 ? 0u : 3u) ? source : (const uint8_t*)"\xFF\xFF\xFF\xFF\xFF", 5);
                for (unsigned i = 0; i < DVAudioDataSize; i++)
                    p[8 + i] = dvAudioByte(audioBlocks, i);
                audioBlocks++;
            }
        }
    }
    return f;
}
