// Scratch files, captured diagnostics and parsed hand-made files for the parser tests, and the
// walk a reader makes over a parsed file (the fuzz target uses it too).
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "RiffBuilder.h"
#include "avi/avihandle.h"
#include "ombrix/platform.h"

// A directory made at run time and removed with its contents.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-avi-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        dir = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string path(const std::string& name) const { return (dir / name).string(); }

private:
    std::filesystem::path dir;
};

// Collects every diagnostic message while it lives.
class MessageLog {
public:
    MessageLog()
    {
        Ombrix_SetDebugSink([](const char* text, void* self) { ((MessageLog*)self)->lines.push_back(text); }, this);
    }
    ~MessageLog() { Ombrix_SetDebugSink(nullptr, nullptr); }
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    bool has(const std::string& text) const { return std::find(lines.begin(), lines.end(), text) != lines.end(); }
    bool mentions(const std::string& part) const
    {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
    }

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

inline DWORD countChunks(const AVIstream* stream)
{
    DWORD n = 0;
    for (const IndexChunk* c = stream->pChunks; c; c = c->next)
        n++;
    return n;
}

// Everything a reader touches in a parsed file: the formats, the key-frame and sample tables,
// every entry of every stream (bounded), twice over openavi/closeavi. The parser may throw its
// message texts from getframeoffset. Returns the first broken invariant, empty when none.
inline std::string walkParsed(avihandle& h)
{
    unsigned touched = 0;  // kept, so that every read is made
    if (h.nVideoFormatSize > avihandle::VideoFormatCapacity)
        return "video format larger than its buffer";
    for (DWORD i = 0; i < h.nVideoFormatSize; i++)
        touched += h.pVideoFormat[i];
    // A compressed format goes to the decoder with its cbSize extra bytes.
    if (h.pAudioFormat && h.pAudioFormat->wFormatTag != WAVE_FORMAT_PCM)
        for (DWORD i = 0; i < sizeof(WAVEFORMATEX) + h.pAudioFormat->cbSize; i++)
            touched += ((const unsigned char*)h.pAudioFormat)[i];
    for (DWORD i = 1; i < h.nKeyFrames; i++)
        if (h.pKeyFrames[i] <= h.pKeyFrames[i - 1])
            return "key frames out of order";
    DWORD samples = 0;
    for (DWORD i = 0; i < h.nAudioChunks; i++) {
        if (h.pAudioSamples[i].dwStart != samples)
            return "sample table entries do not follow each other";
        samples += h.pAudioSamples[i].dwSamples;
    }
    if (h.nAudioChunks && !h.bDVType1 && h.nAudioSamples > samples)
        return "more audio samples than the sample table holds";
    for (int pass = 0; pass < 2; pass++) {
        // openavi may leave the file open when it returns false; closeavi closes it either way.
        try {
            for (AVIstream* s = h.openavi() ? h.pStreams : nullptr; s; s = s->next) {
                DWORD n = std::max({h.nFrames, h.nAudioChunks, s->pChunks ? s->pChunks->nEntries : 0u});
                for (DWORD i = 0; i <= std::min<DWORD>(n, 4096); i++)
                    touched += locate(h, s, i).size;
            }
        } catch (const char*) {
        }
        h.closeavi();
    }
    [[maybe_unused]] static volatile unsigned keep;
    keep = touched;
    return "";
}

// Hand-made files written to a scratch directory and parsed; the names outlive the parsers.
class ParsedFiles {
public:
    const char* write(const std::vector<uint8_t>& image)
    {
        names.push_back(dir.path("file" + std::to_string(names.size())));
        writeFile(names.back(), image);
        return names.back().c_str();
    }
    std::string path(const std::string& name) const { return dir.path(name); }
    std::unique_ptr<avihandle> parse(const std::vector<uint8_t>& image, bool skipVideo = false, bool skipAudio = false)
    {
        return std::make_unique<avihandle>(write(image), skipVideo, skipAudio);
    }

private:
    ScratchDir dir;
    std::list<std::string> names;
};
