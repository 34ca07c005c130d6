#include "RiffBuilder.h"

#include <fstream>
#include <stdexcept>

namespace {

FOURCC fourcc(const std::string& s) { return mmioFOURCC(s[0], s[1], s[2], s[3]); }

unsigned streamNumber(const std::string& ckid) { return unsigned(ckid[0] - '0') * 10 + unsigned(ckid[1] - '0'); }

std::string streamCkid(unsigned s, const AVISTREAMHEADER& h)
{
    std::string id = {char('0' + s / 10), char('0' + s % 10)};
    return id + (h.fccType == FCC("auds") ? "wb" : "dc");
}

template <class T>
void append(Bytes& to, const T& value)
{
    Bytes b = bytesOf(value);
    to.insert(to.end(), b.begin(), b.end());
}

Bytes superIndex(FOURCC chunkId, DWORD entries)
{
    AVISUPERINDEXHEADER h = {};
    h.wLongsPerEntry = 4;
    h.bIndexType = AVI_INDEX_OF_INDEXES;
    h.nEntriesInUse = entries;
    h.dwChunkId = chunkId;
    Bytes b = bytesOf(h);
    b.resize(b.size() + entries * sizeof(AVISUPERINDEXENTRY));  // filled in once the ix## are laid out
    return b;
}

// An "ix##" chunk's contents: the standard index header after its FOURCC and size, then the entries.
Bytes standardIndex(FOURCC chunkId, ULONGLONG base, const std::vector<AVISTDINDEXENTRY>& entries)
{
    AVISTDINDEXHEADER h = {};
    h.wLongsPerEntry = 2;
    h.bIndexType = 1;
    h.nEntriesInUse = DWORD(entries.size());
    h.dwChunkId = chunkId;
    h.qwBaseOffset = base;
    const Bytes whole = bytesOf(h);
    Bytes b(whole.begin() + 8, whole.end());
    for (const AVISTDINDEXENTRY& e : entries)
        append(b, e);
    return b;
}

}  // namespace

size_t RiffBuilder::open(const char* id, const char* type)
{
    size_t at = chunk(id, Bytes(type, type + 4));
    openLists.push_back(at);
    return at;
}

void RiffBuilder::close()
{
    size_t at = openLists.back();
    openLists.pop_back();
    setSize(at, uint32_t(image.size() - at - 8));
}

size_t RiffBuilder::chunk(const char* id, const Bytes& data)
{
    size_t at = image.size();
    headers.push_back(at);
    append(image, fourcc(id));
    append(image, uint32_t(data.size()));
    raw(data);
    return at;
}

void writeFile(const std::string& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write((const char*)data.data(), std::streamsize(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

AVIMAINHEADER mainHeader(DWORD totalFrames, DWORD streams, DWORD suggestedBufferSize)
{
    AVIMAINHEADER h = {};
    h.dwMicroSecPerFrame = 40000;
    h.dwTotalFrames = totalFrames;
    h.dwStreams = streams;
    h.dwSuggestedBufferSize = suggestedBufferSize;
    return h;
}

AVISTREAMHEADER streamHeader(const char* type, const char* handler, DWORD scale, DWORD rate, DWORD length,
                             DWORD suggestedBufferSize)
{
    AVISTREAMHEADER h = {};
    h.fccType = fourcc(type);
    h.fccHandler = handler ? fourcc(handler) : 0;
    h.dwScale = scale;
    h.dwRate = rate;
    h.dwLength = length;
    h.dwSuggestedBufferSize = suggestedBufferSize;
    return h;
}

BITMAPINFOHEADER bitmapInfo(LONG width, LONG height, const char* compression)
{
    BITMAPINFOHEADER b = {};
    b.biSize = sizeof b;
    b.biWidth = width;
    b.biHeight = height;
    b.biPlanes = 1;
    b.biBitCount = 24;
    b.biCompression = compression ? fourcc(compression) : BI_RGB;
    return b;
}

WAVEFORMATEX waveFormat(WORD tag, WORD channels, DWORD rate, WORD bits, WORD cbSize)
{
    WAVEFORMATEX w = {};
    w.wFormatTag = tag;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.nBlockAlign = WORD(channels * bits / 8);
    w.nAvgBytesPerSec = rate * w.nBlockAlign;
    w.wBitsPerSample = bits;
    w.cbSize = cbSize;
    return w;
}

Bytes extensibleFormat(WORD channels, DWORD rate, WORD bits, DWORD subFormatTag)
{
    Bytes b = bytesOf(waveFormat(WAVE_FORMAT_EXTENSIBLE, channels, rate, bits, 22));
    append(b, WORD(bits));                  // wValidBitsPerSample
    append(b, DWORD((1u << channels) - 1));  // dwChannelMask
    append(b, subFormatTag);
    const uint8_t guidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    b.insert(b.end(), guidTail, guidTail + 12);
    return b;
}

BuiltAvi buildAvi(const AviLayout& layout)
{
    RiffBuilder b;
    BuiltAvi out;
    const size_t streams = layout.streams.size();
    const DWORD segments = DWORD(layout.segments.size());
    std::vector<size_t> superEntriesAt(streams);
    for (DWORD seg = 0; seg < segments; seg++) {
        b.open("RIFF", seg ? "AVIX" : "AVI ");
        if (seg == 0) {
            b.open("LIST", "hdrl");
            b.chunk("avih", layout.avih);
            for (size_t s = 0; s < streams; s++) {
                const AviStreamDef& def = layout.streams[s];
                b.open("LIST", "strl");
                b.chunk("strh", def.header);
                if (!def.format.empty())
                    b.chunk("strf", def.format);
                if (layout.superIndex) {
                    FOURCC id = fourcc(streamCkid(unsigned(s), def.header));
                    superEntriesAt[s] = b.chunk("indx", superIndex(id, segments)) + 8 + sizeof(AVISUPERINDEXHEADER);
                }
                b.close();
            }
            b.raw(layout.inHdrl);
            if (layout.dmlhFrames) {
                b.open("LIST", "odml");
                Bytes dmlh(248);
                memcpy(dmlh.data(), &layout.dmlhFrames, 4);
                b.chunk("dmlh", dmlh);
                b.close();
            }
            b.close();
            b.raw(layout.afterHdrl);
        }
        const size_t movi = b.open("LIST", "movi");
        out.moviAt.push_back(movi);
        Bytes idx1;
        std::vector<std::vector<AVISTDINDEXENTRY>> entries(streams);
        for (const AviChunk& c : layout.segments[seg]) {
            const size_t at = b.chunk(c.ckid.c_str(), c.data);
            const DWORD size = DWORD(c.data.size());
            out.dataAt.push_back(at + 8);
            DWORD offset = DWORD(layout.idx1 == Idx1::Absolute ? at : at - (movi + 8));
            append(idx1, AVIINDEXENTRY{fourcc(c.ckid), c.key ? AVIIF_KEYFRAME : 0u, offset, size});
            if (unsigned s = streamNumber(c.ckid); s < streams)
                entries[s].push_back({DWORD(at + 8 - movi), size | (c.key ? 0 : AVI_INDEX_DELTAFRAME)});
        }
        for (size_t s = 0; layout.superIndex && s < streams; s++) {
            const std::string ckid = streamCkid(unsigned(s), layout.streams[s].header);
            Bytes index = standardIndex(fourcc(ckid), movi, entries[s]);
            const size_t ix = b.chunk(("ix" + ckid.substr(0, 2)).c_str(), index);
            b.patch(superEntriesAt[s] + seg * sizeof(AVISUPERINDEXENTRY),
                    AVISUPERINDEXENTRY{ix, DWORD(index.size() + 8), DWORD(entries[s].size())});
        }
        b.close();
        if (seg == 0 && layout.idx1 != Idx1::None)
            b.chunk("idx1", idx1);
        b.close();
    }
    out.image = std::move(b.image);
    out.headers = std::move(b.headers);
    return out;
}

size_t BuiltAvi::find(const char* id, int nth) const
{
    for (size_t at : headers)
        if (memcmp(&image[at], id, 4) == 0 && nth-- == 0)
            return at;
    throw std::runtime_error(std::string("no chunk ") + id);
}

Bytes buildWav(const Bytes& format, const Bytes& data)
{
    RiffBuilder b;
    b.open("RIFF", "WAVE");
    b.chunk("fmt ", format);
    b.chunk("data", data);
    b.close();
    return b.image;
}

Bytes dvFrame(const DvFrameParams& dv)
{
    const unsigned sequences = dv.pal ? 12 : 10;
    Bytes f(sequences * 150 * 80);
    unsigned audioBlocks = 0;
    for (unsigned seq = 0; seq < sequences; seq++) {
        const DvAudioPack& a = dv.audio[seq >= sequences / 2];
        const uint8_t source[5] = {0x50, uint8_t((a.locked ? 0x80 : 0) | (a.afSize & 0x3F)),
                                   uint8_t((a.chn & 3) << 5 | (a.audioMode & 15)), uint8_t(dv.pal ? 0x40 : 0),
                                   uint8_t((a.smp & 7) << 3 | (a.qu & 7))};
        const uint8_t none[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        for (unsigned n = 0; n < 150; n++) {
            uint8_t* p = &f[(seq * 150 + n) * 80];
            const bool audio = n >= 6 && (n - 6) % 16 == 0;
            const uint8_t section = n == 0 ? 0 : n < 3 ? 1 : n < 6 ? 2 : audio ? 3 : 4;
            p[0] = uint8_t(section << 5 | 0x1F);
            p[1] = uint8_t(seq << 4 | 0x07);
            p[2] = uint8_t(n);
            if (section == 0) {
                p[3] = dv.pal ? 0xBF : 0x3F;
            } else if (section == 1) {
                for (unsigned s = 0; s < 6; s++) {
                    uint8_t* pack = p + 3 + 8 * s + 3;
                    memcpy(pack, none, 5);
                    if (s == 0) {
                        pack[0] = 0x13;
                        memcpy(pack + 1, &dv.timecode, 4);
                    }
                }
            } else if (section == 2) {
                for (unsigned s = 0; s < 15; s++)
                    memcpy(p + 3 + 5 * s, none, 5);
                const uint8_t vaux[5] = {0x60, 0xFF, dv.vauxSource, 0xFF, 0xFF};
                memcpy(p + 3, vaux, 5);
            } else if (section == 3) {
                // As on tape, the source pack sits in audio block 3 of even and 0 of odd sequences.
                const unsigned a9 = (n - 6) / 16;
                memcpy(p + 3, a9 == (seq % 2 ? 0u : 3u) ? source : none, 5);
                for (unsigned i = 0; i < 72; i++)
                    p[8 + i] = dvAudioByte(audioBlocks, i);
                audioBlocks++;
            }
        }
    }
    return f;
}

AviChunk videoChunk(DWORD size, bool key) { return {"00dc", Bytes(size, 0x56), key}; }

AviChunk audioChunk(DWORD size) { return {"01wb", Bytes(size, 0x41), true}; }

AviLayout videoAndAudio(std::vector<std::vector<AviChunk>> segments)
{
    DWORD firstFrames = 0, frames = 0, audioBytes = 0;
    for (size_t seg = 0; seg < segments.size(); seg++) {
        for (const AviChunk& c : segments[seg]) {
            if (c.ckid == "00dc") {
                frames++;
                firstFrames += seg == 0;
            } else {
                audioBytes += DWORD(c.data.size());
            }
        }
    }
    AviLayout layout;
    layout.avih = mainHeader(firstFrames, 2);
    layout.streams = {{streamHeader("vids", "MJPG", 1, 25, frames), bytesOf(bitmapInfo(64, 48, "MJPG"))},
                      {streamHeader("auds", nullptr, 4, 192000, audioBytes / 4, 4000),
                       bytesOf(waveFormat(WAVE_FORMAT_PCM, 2, 48000, 16))}};
    layout.streams[1].header.dwSampleSize = 4;
    layout.segments = std::move(segments);
    return layout;
}
