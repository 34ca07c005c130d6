// The graph path end to end (source, decoder, capture renderer, driven as the graph reader drives
// it), each against a reference measured in the same run:
//  1. every video frame of a 1280x720 WMV2 .wmv and a 1280x720 H.264 .mp4 with B-frames through a
//     CaptureGraph (UYVY; each held sample taken and released at once; audio left parked on its
//     first sample) against libavcodec + libswscale decoding the same packets from memory to UYVY,
//     both decoders set up alike (slice threading, which neither file's codec or slicing can use:
//     one decoding thread on both sides), in frames per second and in processor time per frame
//     of all threads (what the hand-offs between threads cost beyond the work), best of several
//     rounds;
//  2. 300 seeded random frames of the WMV2 file, each a Seek to the middle of the frame and its
//     held video sample, against FFMS2's FFMS_GetFrame of the same frames (one decoding thread,
//     UYVY output), in requests per second, with the decoding floor beside them (libavcodec from
//     the key frame at or before each frame, packets in memory); then, untimed, every one of those
//     frames of ours against FFmpeg's decoding of the file in order through the same converter,
//     byte for byte;
//  3. opening: the CaptureGraph's construction (graph built, first frame held) against FFMS2's
//     indexing, video source and first frame, in milliseconds, median of several rounds.
// Ratios are ours over theirs for rates and theirs over ours for times: above 1, we are faster.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"
#include "tests/CaptureGraph.h"
#include "tests/GraphMediaFiles.h"

namespace fs = std::filesystem;

namespace {

constexpr int sequentialRounds = 7;
constexpr int openingRounds = 5;
constexpr size_t randomRequests = 300;
constexpr REFERENCE_TIME frameLength = 400000;  // both files are 25 frames per second
volatile unsigned sink;  // keeps the read bytes used

// A graph over the file, or an exception saying why there is none.
struct OpenGraph : CaptureGraph {
    explicit OpenGraph(const fs::path& file) : CaptureGraph(file.string(), MEDIASUBTYPE_UYVY)
    {
        if (!Ok() || !HasVideo() || !Video()->Ombrix_RendererFilter_GetVideoInformation())
            throw std::runtime_error("the graph gives no UYVY video for " + file.filename().string());
    }
};

// ---- 1. sequential decoding ----

// Every video frame through a graph; the first, decoded while the graph was built, is not counted.
bench::Pace GraphSequential(const fs::path& file, size_t& frames)
{
    OpenGraph graph(file);
    frames = 0;
    unsigned sum = 0;
    double ms = 0;
    const double processor = bench::processorMilliseconds([&] {
        ms = bench::milliseconds([&] {
            graph.ReadAll(graph.Video(), [&](BYTE* bits, LONG bytes, LONGLONG, LONGLONG) {
                sum += bits[0] + bits[bytes - 1];
                frames++;
            });
        });
    });
    sink = sum;
    return frames > 1 ? bench::Pace{(frames - 1) * 1000 / ms, processor / (frames - 1)} : bench::Pace{};
}

void Sequential(const char* label, const fs::path& file)
{
    av_log_set_level(AV_LOG_ERROR);
    const bench::Stream stream = bench::loadStream(file);
    std::vector<uint8_t> picture(stream.pictureSize() + 256);
    bench::Pace ours, theirs;
    size_t frames = 0, pictures = 0;
    bench::alternateRounds(
        sequentialRounds,
        [&](bool counted) {
            const bench::Pace round = GraphSequential(file, frames);
            if (counted)
                ours.KeepBest(round);
        },
        [&](bool counted) {
            pictures = 0;
            double ms = 0;
            const double processor = bench::processorMilliseconds(
                [&] { ms = bench::plainFFmpeg(stream, picture, [&](size_t) { pictures++; }); });
            if (counted)
                theirs.KeepBest({pictures * 1000 / ms, processor / pictures});
        });
    std::printf("1. sequential, every frame of the %ux%u %s, UYVY out, best of %d rounds\n", stream.header().biWidth,
                stream.header().biHeight, label, sequentialRounds);
    bench::printPaceHeader();
    bench::printPace("CaptureGraph, video only, each sample released at once", ours, theirs,
                     "  (target >= 0.9; " + std::to_string(frames) + " frames)");
    bench::printPace("libavcodec + libswscale, packets in memory", theirs, theirs,
                     "  (" + std::to_string(pictures) + " pictures)");
}

// ---- 2. random access ----

// The video sample the graph holds after the graph reader's seek to frame n; null when none came.
const BYTE* SeekFrame(CaptureGraph& graph, size_t n, DWORD sampleRate, LONG& bytes)
{
    const REFERENCE_TIME time = REFERENCE_TIME(n) * frameLength + frameLength / 2;
    const LONGLONG sample = LONGLONG(time * double(sampleRate) / 10000000);
    if (!graph.Seek(time, sample))
        return nullptr;
    return CaptureGraph::Held(graph.Video(), nullptr, &bytes);
}

// The decoding floor of a request: libavcodec from the key frame at or before the frame, packets
// in memory, only that frame converted. The file has no B-frames: packet n is frame n.
class PlainSeeker {
public:
    explicit PlainSeeker(const bench::Stream& stream)
        : m_Stream(stream), m_Decoder(stream), m_Picture(stream.pictureSize() + 256)
    {
    }

    const uint8_t* Frame(size_t n)
    {
        size_t key = n;
        while (key > 0 && !(m_Stream.packets[key]->flags & AV_PKT_FLAG_KEY))
            key--;
        m_Decoder.Flush();
        size_t out = key;
        for (size_t p = key; p <= n; p++)
            m_Decoder.Send(m_Stream.packets[p].get(), [&](const AVFrame& frame) {
                if (out++ == n)
                    m_Decoder.Convert(frame, m_Picture.data());
            });
        return m_Picture.data();
    }

private:
    const bench::Stream& m_Stream;
    bench::PlainDecoder m_Decoder;
    std::vector<uint8_t> m_Picture;
};

void RandomAccess()
{
    const fs::path file = bench::wmv2File();
    OpenGraph graph(file);
    const BITMAPINFOHEADER output = graph.Video()->Ombrix_RendererFilter_GetVideoInformation()->bmiHeader;
    const WAVEFORMATEX* audio = graph.HasAudio() ? graph.Audio()->Ombrix_RendererFilter_GetAudioInformation() : nullptr;
    const DWORD sampleRate = audio ? audio->nSamplesPerSec : 0;
    const std::vector<Bytes> expected = ffmpegPictures(file.string(), 0, output);
    if (expected.empty())
        throw std::runtime_error("FFmpeg decodes no picture of " + file.string());

    std::mt19937 random(20240611);
    std::vector<size_t> frames(randomRequests);
    for (size_t& f : frames)
        f = std::uniform_int_distribution<size_t>(0, expected.size() - 1)(random);

    bench::FfmsVideo ffms(file);
    const bench::Stream stream = bench::loadStream(file);
    PlainSeeker plain(stream);
    unsigned sum = 0;
    LONG bytes = 0;
    std::vector<bench::Requester> requesters = {
        {"CaptureGraph Seek + held video sample",
         [&](size_t f) {
             const BYTE* bits = SeekFrame(graph, f, sampleRate, bytes);
             return bits && (sum += bits[0], true);
         }},
        {"FFMS2 FFMS_GetFrame, 1 thread",
         [&](size_t f) {
             const FFMS_Frame* frame = ffms.Frame(int(f));
             return frame && (sum += frame->Data[0][0], true);
         }},
        {"libavcodec from the key frame before, in memory",
         [&](size_t f) {
             sum += plain.Frame(f)[0];
             return true;
         }},
    };
    constexpr size_t chunk = 25;
    bench::takeInChunks(frames, requesters, chunk);
    sink = sum;

    // Not timed: the same requests again, each picture against FFmpeg's.
    unsigned different = 0;
    for (size_t f : frames) {
        const BYTE* bits = SeekFrame(graph, f, sampleRate, bytes);
        different += !bits || size_t(bytes) != expected[f].size() || std::memcmp(bits, expected[f].data(), bytes) != 0;
    }

    const double ffmsRate = frames.size() * 1000 / requesters[1].ms;
    std::printf("2. random access, %zu seeded random frames of the %dx%d WMV2 .wmv (GOP 50, %zu frames), UYVY out,\n"
                "   in chunks of %zu taken by each in turn\n",
                frames.size(), output.biWidth, output.biHeight, expected.size(), chunk);
    bench::printHeader("requests/s");
    for (const bench::Requester& requester : requesters) {
        const double rate = frames.size() * 1000 / requester.ms;
        std::string note = &requester == &requesters[0] ? "  (target >= 1.5)" : "";
        if (requester.failures)
            note += "  (" + std::to_string(requester.failures) + " requests gave no picture)";
        bench::printLine(requester.name, rate, rate / ffmsRate, note);
    }
    std::printf("  frames of ours differing from FFmpeg's decoding in order, same converter: %u of %zu (must be 0)\n",
                different, frames.size());
}

// ---- 3. opening ----

void Opening(const char* label, const fs::path& file)
{
    const auto [a, b] = bench::medianOpenings(
        openingRounds, [&] { return std::make_unique<OpenGraph>(file); },
        [&] { return std::make_unique<bench::FfmsVideo>(file); });
    std::printf("3. opening the %s: built and first frame held, median of %d rounds\n", label, openingRounds);
    bench::printHeader("ms");
    bench::printLine("CaptureGraph constructor", a, b / a);
    bench::printLine("FFMS2 indexing + video source + first frame", b, 1.0);
}

}  // namespace

// With arguments, only the named parts run: sequential, random, opening.
int main(int argc, char** argv)
{
    const bench::Parts wanted(argc, argv);
    std::printf("build/bench/bench_graphread%s\n", argc < 2 ? "  [sequential | random | opening]" : "");
    return bench::Reporting("bench_graphread", [&] {
        const struct {
            const char* label;
            fs::path file;
        } files[] = {{"WMV2 .wmv (GOP 50, WMA2 audio)", bench::wmv2File()}, {"H.264 .mp4 (GOP 50, 3 B-frames, AAC)", bench::h264File()}};
        if (wanted("sequential"))
            for (const auto& f : files)
                Sequential(f.label, f.file);
        if (wanted("random"))
            RandomAccess();
        if (wanted("opening"))
            for (const auto& f : files)
                Opening(f.label, f.file);
    });
}
