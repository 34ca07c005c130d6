// What every suite and the fuzz targets share: a scratch directory, captured diagnostics, where
// an entry of a parsed file lies, the walk a reader makes over a parsed file, and the size of
// what a reader hands out, touched whole.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "avi/avihandle.h"
#include "ombrix/Ombrix_FileInfo.h"
#include "ombrix/platform.h"

using Bytes = std::vector<uint8_t>;

// A field of /proc/self/status in kB; -1 when it has none.
inline long StatusKB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0 && line[length] == ':')
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
    return -1;
}

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A directory made at run time and removed with its contents.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-test-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        dir = pattern;
    }
    ~ScratchDir() { std::filesystem::remove_all(dir, ignored); }
    ScratchDir(const ScratchDir&) = delete;

    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string write(const std::string& name, const Bytes& data) const  // returns the file's path
    {
        if (!std::ofstream(path(name), std::ios::binary).write((const char*)data.data(), std::streamsize(data.size())))
            throw std::runtime_error("cannot write " + path(name));
        return path(name);
    }

private:
    std::filesystem::path dir;
    std::error_code ignored;
};

// Collects every diagnostic message while it lives.
struct MessageLog {
    MessageLog()
    {
        Ombrix_SetDebugSink([](const char* text, void* self) { ((MessageLog*)self)->lines.push_back(text); }, this);
    }
    ~MessageLog() { Ombrix_SetDebugSink(nullptr, nullptr); }
    MessageLog(const MessageLog&) = delete;
    bool has(const std::string& text) const { return std::find(lines.begin(), lines.end(), text) != lines.end(); }

    std::vector<std::string> lines;
};

// Where entry n of a stream lies, as getframeoffset reports it.
struct Located {
    ULONGLONG at;
    DWORD size;
    DWORD position;  // within its index chunk
};

inline Located locate(avihandle& h, AVIstream* stream, DWORD n)
{
    ULONGLONG base = 0;
    DWORD offset = 0, size = 0;
    DWORD position = h.getframeoffset(n, stream, &base, &offset, &size);
    return {base + offset, size, position};
}

// Everything a reader touches in a parsed file: the formats, the key-frame and sample tables,
// every entry of every stream (bounded) and key frames, twice over openavi/closeavi. Returns the
// first broken invariant, empty when none.
inline std::string walkParsed(avihandle& h)
{
    unsigned touched = 0;  // kept, so that every read is made
    if (h.nVideoFormatSize > avihandle::VideoFormatCapacity)
        return "video format larger than its buffer";
    for (DWORD i = 0; i < h.nVideoFormatSize; i++)
        touched += h.pVideoFormat[i];
    // A compressed format goes to the decoder with its cbSize extra bytes.
    const WAVEFORMATEX* audio = h.pAudioFormat;
    for (DWORD i = 0; audio->wFormatTag != WAVE_FORMAT_PCM && i < sizeof(WAVEFORMATEX) + audio->cbSize; i++)
        touched += ((const unsigned char*)audio)[i];
    for (DWORD i = 1; i < h.nKeyFrames; i++)
        if (h.pKeyFrames[i] <= h.pKeyFrames[i - 1])
            return "key frames out of order";
    DWORD samples = 0;
    for (DWORD i = 0; i < h.nAudioChunks; samples += h.pAudioSamples[i++].dwSamples)
        if (h.pAudioSamples[i].dwStart != samples)
            return "sample table entries do not follow each other";
    if (h.nAudioChunks && !h.bDVType1 && h.nAudioSamples > samples)
        return "more audio samples than the sample table holds";
    for (int pass = 0; pass < 2; pass++) {
        // openavi may leave the file open when it returns false; closeavi closes it either way.
        // getframeoffset throws only for a stream without a single entry.
        const bool opened = h.openavi();
        for (AVIstream* s = opened ? h.pStreams : nullptr; s; s = s->next) {
            const DWORD n = std::max({h.nFrames, h.nAudioChunks, s->pChunks ? s->pChunks->nEntries : 0u});
            try {
                for (DWORD i = 0; i <= std::min(n, 4096u); i++)
                    touched += locate(h, s, i).size;
            } catch (const char*) {
                for (const IndexChunk* c = s->pChunks; c; c = c->next)
                    if (c->nEntries)
                        return "getframeoffset threw on a stream with entries";
            }
        }
        // A key frame found is at or before the frame asked for, and is its own key frame.
        for (DWORD frame : {0u, 1u, h.nFrames / 2, h.nFrames - 1, h.nFrames, 0xFFFFFFFFu}) {
            DWORD key = 0, again = 0;
            if (h.findkeyframe(frame, &key) && (key > frame || !h.findkeyframe(key, &again) || again != key))
                return "findkeyframe gave a key frame after the frame or not its own";
        }
        h.closeavi();
    }
    [[maybe_unused]] static volatile unsigned keep;
    keep = touched;
    return "";
}

// A fixture's hand-made files, parsed with the messages captured; the names outlive the parsers.
struct ParsedFiles {
    std::unique_ptr<avihandle> parse(const Bytes& image, bool skipVideo = false, bool skipAudio = false)
    {
        names.push_back(dir.write("file" + std::to_string(names.size()), image));
        return std::make_unique<avihandle>(names.back().c_str(), skipVideo, skipAudio);
    }

    ScratchDir dir;
    MessageLog log;
    std::list<std::string> names;
};

// Bytes of a frame the reader hands out for its record: Width x Height pixels of the colour
// space, rows padded to 4 bytes.
inline size_t frameBytes(const Ombrix_FileInfo& info)
{
    static const unsigned pixelBytes[] = {0, 2, 2, 3, 4};
    const unsigned long long width = info.Width > 0 ? info.Width : 0, height = info.Height > 0 ? info.Height : 0;
    return size_t((width * pixelBytes[info.ColorSpace % 5] + 3) / 4 * 4 * height);
}

// Bytes of one sample frame of the PCM the reader hands out.
inline size_t sampleBytes(const Ombrix_FileInfo& info) { return size_t(info.Channels) * (info.BitsPerSample / 8); }

// Reads every byte of [data, data + size): memory short of that faults, or is reported by
// AddressSanitizer, which checks every copy.
inline void touch(const void* data, size_t size)
{
    static unsigned char copy[1 << 16];
    for (size_t at = 0; at < size; at += sizeof copy) {
        memcpy(copy, (const unsigned char*)data + at, std::min(sizeof copy, size - at));
        asm volatile("" : : "r"(copy) : "memory");  // the copy counts as used
    }
}
