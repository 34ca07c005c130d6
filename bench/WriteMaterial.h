// What the writing benchmarks hand to every side: UYVY frames of moving pictures at a frame
// rate (a second of them, repeated) and a 48 kHz stereo tone; the OmbrixWriter driven as a host
// drives it; each written file synced to disk, so that every side pays for the disk alike; and
// the taking of turns whose medians are compared.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"
#include "ombrix/OmbrixWriter.h"
#include "platform/image/Picture.h"

namespace bench {

struct Material {
    int width, height;
    unsigned rate, scale, frames;
    unsigned sampleRate = 48000;
    std::vector<std::vector<uint8_t>> pictures;  // the distinct frames, repeated in turn
    std::vector<int16_t> pcm;                    // every stereo sample frame of the whole length

    size_t FrameBytes() const { return size_t(width) * height * 2; }
    const uint8_t* Frame(unsigned n) const { return pictures[n % pictures.size()].data(); }
    // The sample frames that belong before the end of frame n.
    unsigned SamplesUntil(unsigned frame) const { return unsigned((frame + 1ULL) * scale * sampleRate / rate); }
    std::string Size() const { return std::to_string(width) + "x" + std::to_string(height); }
    std::string Rate() const { return scale == 1 ? std::to_string(rate) : std::to_string(rate) + "/" + std::to_string(scale); }
};

inline Material makeMaterial(int width, int height, unsigned rate, unsigned scale, unsigned frames)
{
    constexpr unsigned Distinct = 30;
    Material m{width, height, rate, scale, frames, 48000, {}, {}};
    for (unsigned n = 0; n < Distinct; n++) {
        RgbPicture picture(width, height);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                uint8_t* p = picture.Row(y) + 3 * x;
                p[0] = uint8_t(x + n * 8), p[1] = uint8_t(y * 2 - n), p[2] = uint8_t((x ^ y) + n);
            }
        m.pictures.emplace_back(m.FrameBytes());
        FromRgb(picture, {1, width, height, false}, m.pictures.back().data());
    }
    const unsigned samples = m.SamplesUntil(frames - 1);
    m.pcm.resize(size_t(samples) * 2);
    for (unsigned i = 0; i < samples; i++)
        m.pcm[2 * i] = m.pcm[2 * i + 1] = int16_t(9000 * std::sin(2 * M_PI * 440.0 * i / m.sampleRate));
    return m;
}

inline void syncToDisk(const std::filesystem::path& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0)
        close(fd);
    if (!synced)
        throw std::runtime_error("cannot sync " + path.string());
}

// The writer with the entries of these names, given UYVY frames through its lent buffers and the
// PCM after each frame; the file synced.
inline void writeWithOmbrix(const Material& m, const std::string& videoCodec, const std::string& audioCodec,
                            const std::filesystem::path& path)
{
    OmbrixWriter writer;
    const auto select = [](const std::string& name, unsigned count, auto nameOf, auto pick) {
        for (unsigned i = 0; i < count; i++)
            if (name == nameOf(i))
                return pick(i);
        throw std::runtime_error("the writer lists no " + name);
    };
    select(videoCodec, writer.GetNoVideoCodecs(), [&](unsigned i) { return writer.GetVideoCodecName(i); },
           [&](unsigned i) { writer.SelectVideoCodec(i); });
    select(audioCodec, writer.GetNoAudioCodecs(), [&](unsigned i) { return writer.GetAudioCodecName(i); },
           [&](unsigned i) { writer.SelectAudioCodec(i); });
    Ombrix_FileInfo info;
    info.HasVideo = info.HasAudio = true;
    info.Width = m.width, info.Height = m.height, info.Rate = m.rate, info.Scale = m.scale, info.ColorSpace = 1;
    info.SampleRate = m.sampleRate, info.Channels = 2, info.BitsPerSample = 16;
    std::string name = path.string();
    if (!writer.OpenFile(name.data(), &info))
        throw std::runtime_error("the writer does not open a file for " + videoCodec);
    // The frames are UYVY: the writer must have taken that format.
    if (writer.GetWritingInfo().ColorSpace != 1)
        throw std::runtime_error("the writer wants frames other than UYVY for " + videoCodec);
    unsigned written = 0;
    for (unsigned n = 0; n < m.frames; n++) {
        unsigned char* buffer = writer.AllocateVideoBuffer();
        if (!buffer)
            throw std::runtime_error("the writer lends no buffer");
        memcpy(buffer, m.Frame(n), m.FrameBytes());
        writer.ReleaseVideoBuffer(buffer);
        const unsigned until = m.SamplesUntil(n);
        if (!writer.AddAudioSamples(const_cast<int16_t*>(&m.pcm[2 * size_t(written)]), until - written))
            throw std::runtime_error("the writer takes no audio");
        written = until;
    }
    writer.CloseFile();
    syncToDisk(path);
}

// Processor milliseconds of this process's threads and of its children waited for, so far.
inline double processorMsWithChildren()
{
    double ms = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        for (const timeval& t : {usage.ru_utime, usage.ru_stime})
            ms += t.tv_sec * 1e3 + t.tv_usec / 1e3;
    }
    return ms;
}

// rounds + 1 rounds in which every side writes once, the first round a warm-up that is not
// counted; the order rotates from round to round, so that outside load weighs on all alike.
// Each side's frames per second and processor milliseconds a frame (its threads', or its
// child process's), the medians of its rounds.
inline std::vector<Pace> medianPaces(int rounds, unsigned frames, const std::vector<std::function<void()>>& sides)
{
    std::vector<std::vector<double>> ms(sides.size()), processorMs(sides.size());
    for (int r = 0; r <= rounds; r++)
        for (size_t k = 0; k < sides.size(); k++) {
            const size_t side = (k + size_t(r)) % sides.size();
            const double processorBefore = processorMsWithChildren();
            const double taken = milliseconds(sides[side]);
            if (r > 0) {
                ms[side].push_back(taken);
                processorMs[side].push_back(processorMsWithChildren() - processorBefore);
            }
        }
    std::vector<Pace> paces(sides.size());
    for (size_t side = 0; side < sides.size(); side++)
        paces[side] = {frames * 1000.0 / median(ms[side]), median(processorMs[side]) / frames};
    return paces;
}

inline std::string mebibytes(const std::filesystem::path& file)
{
    char text[32];
    snprintf(text, sizeof text, "%.1f MiB", double(std::filesystem::file_size(file)) / (1 << 20));
    return text;
}

}  // namespace bench
