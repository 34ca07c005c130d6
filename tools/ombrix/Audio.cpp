// `ombrix audio FILE START COUNT -o out.wav [--graph]`: sample frames to a PCM WAV file.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Arguments.h"
#include "Commands.h"
#include "MediaFile.h"
#include "Progress.h"

namespace {

constexpr unsigned int ChunkFrames = 1 << 16;

void put16(std::vector<uint8_t>& out, unsigned int v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void putTag(std::vector<uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

std::vector<uint8_t> wavHeader(const Ombrix_FileInfo& record, unsigned int blockAlign, uint32_t dataSize)
{
    std::vector<uint8_t> h;
    h.reserve(44);  // a PCM WAVE header
    putTag(h, "RIFF");
    put32(h, 36 + dataSize + (dataSize & 1));  // an odd data chunk is followed by a pad byte
    putTag(h, "WAVE");
    putTag(h, "fmt ");
    put32(h, 16);
    put16(h, 1);  // PCM
    put16(h, record.Channels);
    put32(h, record.SampleRate);
    put32(h, record.SampleRate * blockAlign);
    put16(h, blockAlign);
    put16(h, record.BitsPerSample);
    putTag(h, "data");
    put32(h, dataSize);
    return h;
}

// Removes a partly written file unless kept.
struct OutputFile {
    explicit OutputFile(const std::string& path) : path(path), file(fopen(path.c_str(), "wb"))
    {
        if (!file)
            throw Failure(path + ": cannot be written: " + strerror(errno));
    }
    ~OutputFile()
    {
        if (file)
            fclose(file);
        if (!kept)
            remove(path.c_str());
    }
    void Write(const void* data, size_t size)
    {
        if (fwrite(data, 1, size, file) != size)
            throw Failure(path + ": write failed: " + strerror(errno));
    }
    void Keep()
    {
        const bool closed = fclose(file) == 0;
        file = nullptr;
        if (!closed)
            throw Failure(path + ": write failed: " + strerror(errno));
        kept = true;
    }

    std::string path;
    FILE* file;
    bool kept = false;
};

}  // namespace

int RunAudio(int argc, char** argv)
{
    Arguments arguments(argc, argv, {"-o"}, {"--graph"});
    const auto& words = arguments.Positional();
    const auto output = arguments.Value("-o");
    if (words.size() != 3 || !output)
        throw UsageError("audio takes a file, START, COUNT and -o out.wav");
    const unsigned int start = (unsigned int)Number(words[1], "START", 0, 0xFFFFFFFEu);
    const unsigned int count = (unsigned int)Number(words[2], "COUNT", 1, 0xFFFFFFFFu);

    const auto file = MediaFile::ForCommand(words[0], arguments.Flag("--graph"), true, false);
    file->CheckSamples(start, count);
    const unsigned int blockAlign = file->BytesPerSampleFrame();
    const unsigned long long dataSize = (unsigned long long)count * blockAlign;
    if (blockAlign == 0 || dataSize > 0xFFFFFFFFull - 38)
        throw Failure(*output + ": " + std::to_string(count) + " sample frames do not fit in one WAV file");

    OutputFile wav(*output);
    wav.Write(wavHeader(file->Info(), blockAlign, uint32_t(dataSize)).data(), 44);
    std::vector<uint8_t> buffer(size_t(std::min(count, ChunkFrames)) * blockAlign);
    Progress progress("audio", count);
    for (unsigned int done = 0; done < count;) {
        const unsigned int n = std::min(count - done, ChunkFrames);
        file->Samples(buffer.data(), start + done, n);
        wav.Write(buffer.data(), size_t(n) * blockAlign);
        done += n;
        progress.Advance(n);
    }
    if (dataSize & 1)
        wav.Write("", 1);
    wav.Keep();
    return 0;
}
