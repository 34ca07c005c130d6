// Files written through the library's writer from a deterministic pattern (a picture that moves
// and carries its frame number, a tone), and what FFmpeg and the library's AVI reader find in them.
#pragma once

#include <ffms.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <climits>
#include <cmath>
#include <csignal>
#include <functional>

#include "InChild.h"
#include "MediaFiles.h"
#include "TestSupport.h"
#include "ombrix/AVIReader.h"
#include "ombrix/OmbrixWriter.h"
#include "platform/dshow/Strmif.h"
#include "platform/image/Picture.h"

// Picture n: gradients that move with n, and n in binary as blocks along the top.
inline RgbPicture patternPicture(int width, int height, unsigned n)
{
    RgbPicture picture(width, height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            uint8_t* p = picture.Row(y) + 3 * x;
            const bool bit = y < 8 && x / 8 < 32 && (n >> (x / 8) & 1);
            p[0] = bit ? 255 : uint8_t(x * 2 + n * 3);
            p[1] = bit ? 255 : uint8_t(y * 2 + n);
            p[2] = bit ? 255 : uint8_t(128 + (x + y) / 2);
        }
    return picture;
}

// The number patternPicture put in a frame: the blocks near white are its 1 bits (the gradients
// there stay darker while the number modulo 256 is below 190).
inline unsigned patternNumber(const FrameFormat& format, const uint8_t* frame)
{
    const RgbPicture picture = ToRgb(format, frame);
    unsigned n = 0;
    for (int bit = 0; bit < 32 && bit * 8 + 8 <= picture.width; bit++) {
        const uint8_t* p = picture.Row(4) + 3 * (bit * 8 + 4);
        if (p[0] > 200 && p[1] > 200 && p[2] > 200)
            n |= 1u << bit;
    }
    return n;
}

inline size_t frameSize(const FrameFormat& format)
{
    const int bits = format.colorSpace == 3 ? 24 : format.colorSpace == 4 ? 32 : 16;
    return (size_t(format.width) * bits + 31) / 32 * 4 * size_t(std::abs(format.height));
}

// Sample frames first..first+count of a tone, 16-bit, each channel its own pitch.
inline Bytes tone(unsigned rate, unsigned channels, unsigned first, unsigned count)
{
    Bytes pcm(size_t(count) * channels * 2);
    for (unsigned i = 0; i < count; i++)
        for (unsigned c = 0; c < channels; c++) {
            const double t = double(first + i) / rate;
            const int16_t v = int16_t(12000 * std::sin(2 * M_PI * (440.0 + 110 * c) * t));
            memcpy(&pcm[(size_t(i) * channels + c) * 2], &v, 2);
        }
    return pcm;
}

inline Ombrix_FileInfo describe(bool video, bool audio, int width = 160, int height = 120, unsigned rate = 25,
                                unsigned scale = 1, unsigned sampleRate = 48000, unsigned channels = 2)
{
    Ombrix_FileInfo info;
    info.HasVideo = video;
    info.Width = width;
    info.Height = height;
    info.Rate = rate;
    info.Scale = scale;
    info.HasAudio = audio;
    info.SampleRate = sampleRate;
    info.Channels = channels;
    info.BitsPerSample = 16;
    return info;
}

// A sample as a test source sends it or a test renderer keeps it: its bytes, its times (none when
// start is negative), a sync point or not.
struct Packet {
    Bytes data;
    REFERENCE_TIME start = -1, stop = -1;
    bool sync = true;
};

// What was pushed: the frames as handed over (in the format the writer took) and the PCM.
struct Pushed {
    FrameFormat format{};
    std::vector<Bytes> frames;
    Bytes pcm;
};

// Pushes frames pattern frames in format to a writer or an output, each followed by the tone
// until its end in calls of at most block sample frames (or, without video, samples of tone alone).
template <class Sink>
Pushed pushPattern(Sink& sink, const Ombrix_FileInfo& info, const FrameFormat& format, unsigned frames,
                   unsigned samples, unsigned block = UINT_MAX)
{
    Pushed pushed{format, {}, {}};
    const auto addAudio = [&](unsigned end) {
        for (unsigned done = unsigned(pushed.pcm.size() / (2 * info.Channels)); done < end;) {
            const unsigned count = std::min(block, end - done);
            Bytes pcm = tone(info.SampleRate, info.Channels, done, count);
            EXPECT_TRUE(sink.AddAudioSamples(pcm.data(), count));
            pushed.pcm.insert(pushed.pcm.end(), pcm.begin(), pcm.end());
            done += count;
        }
    };
    for (unsigned n = 0; info.HasVideo && n < frames; n++) {
        unsigned char* buffer = sink.AllocateVideoBuffer();
        EXPECT_NE(nullptr, buffer);
        if (!buffer)
            break;
        Bytes frame(frameSize(format));
        FromRgb(patternPicture(info.Width, info.Height, n), format, frame.data());
        memcpy(buffer, frame.data(), frame.size());
        sink.ReleaseVideoBuffer(buffer);
        pushed.frames.push_back(std::move(frame));
        if (info.HasAudio)
            addAudio(unsigned((n + 1ULL) * info.Scale * info.SampleRate / info.Rate));
    }
    if (info.HasAudio && !info.HasVideo)
        addAudio(samples);
    return pushed;
}

// Writes a file of the pattern and the tone, as a host interleaves them, and closes it.
inline Pushed writeFile(OmbrixWriter& writer, const std::string& path, Ombrix_FileInfo info, unsigned frames,
                        unsigned samples)
{
    EXPECT_TRUE(writer.OpenFile(const_cast<char*>(path.c_str()), &info)) << path;
    const Ombrix_FileInfo taken = writer.GetWritingInfo();
    const FrameFormat format{taken.ColorSpace, taken.Width, taken.Height, taken.BottomUp};
    Pushed pushed = pushPattern(writer, info, format, frames, samples);
    writer.CloseFile();
    return pushed;
}

// The file's first video stream as FFmpeg decodes it, in the layout of a colour space, rows unpadded;
// options go before the output's.
inline std::string ffmpegRaw(const std::string& path, int colorSpace, const std::string& options = "")
{
    static const char* const layouts[] = {"", "uyvy422", "yuyv422", "bgr24", "bgr0"};
    std::string raw;
    run("ffmpeg -v error -i " + quote(path) + " -map 0:v:0 " + options + " -f rawvideo -pix_fmt " + layouts[colorSpace] +
            " -",
        &raw);
    return raw;
}

// Frames of the file's video as FFmpeg decodes them, in the layout of format, top row first.
inline std::vector<Bytes> ffmpegFrames(const std::string& path, const FrameFormat& format, const std::string& options = "")
{
    const std::string raw = ffmpegRaw(path, format.colorSpace, options);
    const size_t size = frameSize(format);
    std::vector<Bytes> frames;
    for (size_t at = 0; at + size <= raw.size(); at += size)
        frames.emplace_back(raw.begin() + at, raw.begin() + at + size);
    return frames;
}

// The file's first audio stream as FFmpeg decodes it to 16-bit PCM.
inline Bytes ffmpegPcm(const std::string& path)
{
    std::string raw;
    run("ffmpeg -v error -i " + quote(path) + " -map 0:a:0 -f s16le -", &raw);
    return Bytes(raw.begin(), raw.end());
}

// A frame as stored bottom row first, turned top row first.
inline Bytes topFirst(const Bytes& frame, const FrameFormat& format)
{
    if (!format.bottomUp || format.height <= 0)
        return frame;
    const size_t pitch = frame.size() / size_t(format.height);
    Bytes flipped(frame.size());
    for (int y = 0; y < format.height; y++)
        memcpy(&flipped[size_t(y) * pitch], &frame[size_t(format.height - 1 - y) * pitch], pitch);
    return flipped;
}

// Peak signal to noise ratio of two pictures of one layout, in dB (99 when equal).
inline double psnr(const Bytes& a, const Bytes& b)
{
    double error = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); i++)
        error += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return error == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / error);
}

// Signal to noise ratio of decoded 16-bit audio against the original, in dB, at the best of the
// shifts up to `most` sample frames that codecs add at the start.
inline double snr(const Bytes& original, const Bytes& decoded, unsigned channels, unsigned most = 3000)
{
    const auto value = [](const Bytes& pcm, size_t i) {
        int16_t v;
        memcpy(&v, &pcm[2 * i], 2);
        return double(v);
    };
    const size_t count = std::min(original.size(), decoded.size()) / 2;
    double best = -99;
    for (unsigned shift = 0; shift <= most && shift * channels < count; shift++) {
        double signal = 0, noise = 0;
        for (size_t i = 0; i + shift * channels < count && i < original.size() / 2; i++) {
            const double o = value(original, i), d = value(decoded, i + shift * channels);
            signal += o * o;
            noise += (o - d) * (o - d);
        }
        best = std::max(best, noise == 0 ? 99 : 10 * std::log10(signal / noise));
    }
    return best;
}

// The chunks of an AVI file in file order, as its RIFF structure has them: each RIFF segment (by
// its form) at depth 0, what it holds at its top (a list by its type) at depth 1, the chunks of
// its 'movi' lists at depth 2.
struct RiffChunk {
    std::string id;
    uint32_t size;  // with the header
    int depth;
};

inline std::vector<RiffChunk> riffChunks(const std::string& path)
{
    const Bytes file = readFile(path);
    const auto u32 = [&](size_t at) {
        uint32_t value = 0;
        if (at + 4 <= file.size())
            memcpy(&value, &file[at], 4);
        return value;
    };
    const auto id = [&](size_t at) { return std::string(reinterpret_cast<const char*>(&file[at]), 4); };
    const auto next = [&](size_t at) { return at + 8 + u32(at + 4) + (u32(at + 4) & 1); };
    std::vector<RiffChunk> found;
    for (size_t riff = 0; riff + 12 <= file.size(); riff = next(riff)) {
        const size_t riffEnd = std::min<size_t>(file.size(), riff + 8 + u32(riff + 4));
        found.push_back({id(riff + 8), 8 + u32(riff + 4), 0});
        for (size_t top = riff + 12; top + 12 <= riffEnd; top = next(top)) {
            const bool movi = id(top) == "LIST" && id(top + 8) == "movi";
            found.push_back({id(id(top) == "LIST" ? top + 8 : top), 8 + u32(top + 4), 1});
            const size_t end = std::min<size_t>(riffEnd, top + 8 + u32(top + 4));
            for (size_t chunk = top + 12; movi && chunk + 8 <= end; chunk = next(chunk))
                found.push_back({id(chunk), u32(chunk + 4), 2});
        }
    }
    return found;
}

// The chunks of the 'movi' lists, their size without the header.
inline std::vector<RiffChunk> moviChunks(const std::string& path)
{
    std::vector<RiffChunk> chunks = riffChunks(path);
    std::erase_if(chunks, [](const RiffChunk& c) { return c.depth != 2; });
    return chunks;
}

// The sizes of the 'movi' lists' chunks of one id, in file order.
inline std::vector<uint32_t> moviSizes(const std::string& path, const std::string& id)
{
    std::vector<uint32_t> sizes;
    for (const RiffChunk& chunk : moviChunks(path))
        if (chunk.id == id)
            sizes.push_back(chunk.size);
    return sizes;
}

// Everything the library's AVI reader serves of a file: its record, every frame, all PCM.
struct ReadBack {
    Ombrix_FileInfo info;
    bool valid = false;
    std::vector<Bytes> frames;
    Bytes pcm;
};

inline ReadBack readAvi(const std::string& path)
{
    ReadBack back;
    AVIReader reader(const_cast<char*>(path.c_str()), &back.info, false, false);
    back.valid = reader.GetIsValidAVIFile();
    if (!back.valid)
        return back;
    for (unsigned n = 0; back.info.HasVideo && n < back.info.NumFrames; n++) {
        unsigned char* frame = reader.LoadVideoFrame(n, back.info.Rate, back.info.Scale, false);
        if (!frame)
            break;
        back.frames.emplace_back(frame, frame + frameBytes(back.info));
        reader.ReleaseVideoFrame(frame);
    }
    if (back.info.HasAudio) {
        back.pcm.resize(size_t(back.info.NumSamples) * sampleBytes(back.info));
        if (!reader.LoadAudioSamples(back.pcm.data(), 0, back.info.NumSamples, false))
            back.pcm.clear();
    }
    return back;
}

// What FFMS2 finds in a file: its video frames (the last one decoded) and audio sample frames;
// -1 for a stream it does not find or cannot read.
inline std::tuple<int, int64_t> ffms2Counts(const std::string& path)
{
    FFMS_Init(0, 0);
    char message[1024];
    FFMS_ErrorInfo error{FFMS_ERROR_SUCCESS, FFMS_ERROR_SUCCESS, sizeof message, message};
    std::tuple<int, int64_t> counts{-1, -1};
    FFMS_Indexer* indexer = FFMS_CreateIndexer(path.c_str(), &error);
    if (!indexer)
        return counts;
    FFMS_TrackTypeIndexSettings(indexer, FFMS_TYPE_AUDIO, 1, 0);
    FFMS_Index* index = FFMS_DoIndexing2(indexer, FFMS_IEH_ABORT, &error);
    if (!index)
        return counts;
    const int video = FFMS_GetFirstTrackOfType(index, FFMS_TYPE_VIDEO, &error);
    if (FFMS_VideoSource* source =
            video < 0 ? nullptr : FFMS_CreateVideoSource(path.c_str(), video, index, 1, FFMS_SEEK_NORMAL, &error)) {
        const int frames = FFMS_GetVideoProperties(source)->NumFrames;
        std::get<0>(counts) = frames > 0 && FFMS_GetFrame(source, frames - 1, &error) ? frames : -1;
        FFMS_DestroyVideoSource(source);
    }
    const int audio = FFMS_GetFirstTrackOfType(index, FFMS_TYPE_AUDIO, &error);
    if (FFMS_AudioSource* source =
            audio < 0 ? nullptr : FFMS_CreateAudioSource(path.c_str(), audio, index, FFMS_DELAY_NO_SHIFT, &error)) {
        std::get<1>(counts) = FFMS_GetAudioProperties(source)->NumSamples;
        FFMS_DestroyAudioSource(source);
    }
    FFMS_DestroyIndex(index);
    return counts;
}

// The file's frames as FFmpeg decodes them and as the AVI reader serves them: those pushed, stored
// as format has them.
inline void expectFrames(const std::string& path, const FrameFormat& format, const std::vector<Bytes>& frames,
                         const std::string& label = "")
{
    const std::vector<Bytes> decoded = ffmpegFrames(path, format);
    const ReadBack back = readAvi(path);
    ASSERT_EQ(std::tuple(frames.size(), frames.size()), std::tuple(decoded.size(), back.frames.size())) << label;
    for (size_t n = 0; n < frames.size(); n++)
        EXPECT_TRUE(decoded[n] == topFirst(frames[n], format) && back.frames[n] == frames[n]) << label << " frame " << n;
}

// In a child whose files cannot grow past limit bytes, write writes the file at path and says
// whether it heard what it should of the refused write. The file must then end readable with more
// than least frames of format, frame n as frame(n) makes it, alike from the AVI reader and FFmpeg.
// The child runs the test again from the start, with a scratch folder of its own.
inline void expectFramesBeforeTheLimit(const std::string& path, rlim_t limit, const FrameFormat& format, size_t least,
                                       const std::function<bool()>& write, const std::function<Bytes(size_t)>& frame)
{
    expectInChild(
        [&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limits{limit, limit};
            setrlimit(RLIMIT_FSIZE, &limits);
            const bool heard = write();
            const ReadBack back = readAvi(path);
            const std::vector<Bytes> decoded = ffmpegFrames(path, format);
            bool good = heard && back.valid && back.frames.size() > least && decoded.size() == back.frames.size();
            for (size_t n = 0; good && n < back.frames.size(); n++)
                good = back.frames[n] == frame(n) && decoded[n] == back.frames[n];
            if (!good)
                fprintf(stderr, "heard %d, valid %d, %zu frames read back, %zu decoded\n", heard, back.valid,
                        back.frames.size(), decoded.size());
            std::filesystem::remove_all(std::filesystem::path(path).parent_path());
            return good;
        },
        "writing past a file size limit");
}
