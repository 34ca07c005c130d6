// OmbrixReader as a host drives it (opened with video and audio, UYVY asked for, frames by number
// on the file's own timeline: Rate / Scale of the record, each frame given back at once), on a
// 1280x720 WMV2 .wmv and a 1280x720 H.264 .mp4 with B-frames, both with a key frame every 50,
// against FFMS2's FFMS_GetFrame (one decoding thread, UYVY output) in the same run:
//  1. random access: 300 seeded random frames, in requests per second and in processor time per
//     request of all threads, taken in chunks by each in turn (beside them, ours opened without
//     audio: what the audio stream's seeks cost); then, untimed, every one of those frames of ours against FFmpeg's decoding of the file
//     in order through the same converter, byte for byte;
//  2. sequential reading: every frame in order, in frames per second and in processor time per
//     frame of all threads, best of several rounds; then, untimed, every frame of ours in order
//     against FFmpeg's, byte for byte;
//  3. opening: the constructor and the first frame against FFMS2's indexing, video source and first
//     frame, in milliseconds, median of several rounds.
// Ratios are ours over theirs for rates and theirs over ours for times: above 1, we are faster.
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"
#include "ombrix/OmbrixReader.h"
#include "tests/GraphMediaFiles.h"

namespace fs = std::filesystem;

namespace {

constexpr int sequentialRounds = 5;
constexpr int openingRounds = 5;
constexpr size_t randomRequests = 300;
constexpr size_t chunk = 25;
volatile unsigned sink;  // keeps the read bytes used

// The reader over the file, opened as a host opens it (or without its audio), its timeline and
// the frames on it.
class Reader {
public:
    explicit Reader(const fs::path& file, bool noAudio = false) : m_Name(file.string())
    {
        unsigned char uyvy = 1;
        m_Reader = std::make_unique<OmbrixReader>(m_Name.data(), false, noAudio, &uyvy, 1u, 0u);
        Ombrix_FileInfo& info = m_Reader->GetInfo();
        if (m_Reader->Error() || !info.HasVideo || info.ColorSpace != 1 || info.Rate == 0 || info.Scale == 0)
            throw std::runtime_error("OmbrixReader gives no UYVY video for " + file.filename().string());
        m_Frames = info.GetNoFrames(info.Rate, info.Scale);
    }

    // Adds frame n's first byte to sum; false when no frame came.
    bool Touch(size_t n, unsigned& sum)
    {
        unsigned char* bits = Load(n);
        if (!bits)
            return false;
        sum += bits[0];
        m_Reader->ReleaseVideoFrame(bits);
        return true;
    }

    // Whether frame n is missing or differs from expected.
    bool Differs(size_t n, const Bytes& expected)
    {
        unsigned char* bits = Load(n);
        const Ombrix_FileInfo& info = m_Reader->GetInfo();
        const bool differs = !bits || size_t(info.Width) * 2 * info.Height != expected.size() ||
                             std::memcmp(bits, expected.data(), expected.size()) != 0;
        if (bits)
            m_Reader->ReleaseVideoFrame(bits);
        return differs;
    }

    // The UYVY picture the record describes, as FFmpeg's decoding is drawn for the comparison.
    BITMAPINFOHEADER Output() const
    {
        const Ombrix_FileInfo& info = m_Reader->GetInfo();
        BITMAPINFOHEADER header = {};
        header.biSize = sizeof header;
        header.biWidth = info.Width;
        header.biHeight = info.Height;
        header.biPlanes = 1;
        header.biBitCount = 16;
        header.biCompression = FCC("UYVY");
        header.biSizeImage = DWORD(info.Width) * 2 * info.Height;
        return header;
    }

    size_t Frames() const { return m_Frames; }

private:
    unsigned char* Load(size_t n)
    {
        const Ombrix_FileInfo& info = m_Reader->GetInfo();
        return m_Reader->LoadVideoFrame((long long)n, info.Rate, info.Scale, false);
    }

    std::string m_Name;  // the constructor takes a name it may write to
    std::unique_ptr<OmbrixReader> m_Reader;
    size_t m_Frames = 0;
};

void PrintDifferent(unsigned different, size_t of)
{
    std::printf("  frames of ours differing from FFmpeg's decoding in order, same converter: %u of %zu (must be 0)\n",
                different, of);
}

// FFmpeg's decoding of the file in order, drawn as the reader draws its frames.
std::vector<Bytes> Expected(const fs::path& file)
{
    std::vector<Bytes> pictures = ffmpegPictures(file.string(), 0, Reader(file).Output());
    if (pictures.empty())
        throw std::runtime_error("FFmpeg decodes no picture of " + file.string());
    return pictures;
}

// ---- 1. random access ----

void RandomAccess(const char* label, const fs::path& file, const std::vector<Bytes>& expected)
{
    Reader reader(file), silent(file, true);
    bench::FfmsVideo ffms(file);
    const size_t frames = std::min(reader.Frames(), expected.size());
    if (frames == 0)
        throw std::runtime_error("no frames to request in " + file.string());

    std::mt19937 random(20240611);
    std::vector<size_t> requests(randomRequests);
    for (size_t& f : requests)
        f = std::uniform_int_distribution<size_t>(0, frames - 1)(random);

    unsigned sum = 0;
    std::vector<bench::Requester> requesters = {
        {"OmbrixReader LoadVideoFrame + ReleaseVideoFrame", [&](size_t f) { return reader.Touch(f, sum); }},
        {"FFMS2 FFMS_GetFrame, 1 thread",
         [&](size_t f) {
             const FFMS_Frame* frame = ffms.Frame(int(f));
             return frame && (sum += frame->Data[0][0], true);
         }},
        // Beside the measurement: how much of ours the audio stream's seeks take.
        {"OmbrixReader opened without audio", [&](size_t f) { return silent.Touch(f, sum); }},
    };
    bench::takeInChunks(requests, requesters, chunk);
    sink = sum;

    // Not timed: the same requests again, each picture against FFmpeg's.
    unsigned different = 0;
    for (size_t f : requests)
        different += reader.Differs(f, expected[f]);

    const bench::Requester& theirs = requesters[1];
    std::printf("1. random access, %zu seeded random frames of the %s (%zu frames on its timeline, FFmpeg\n"
                "   decodes %zu, FFMS2 has %d), UYVY out, in chunks of %zu taken by each in turn\n",
                requests.size(), label, reader.Frames(), expected.size(), ffms.Frames(), chunk);
    std::printf("  %-52s %10s %10s %14s %10s\n", "", "requests/s", "ratio", "CPU ms/request", "ratio");
    for (const bench::Requester& requester : requesters) {
        std::string note = &requester == &requesters[0] ? "  (target >= 1.5)" : "";
        if (requester.failures)
            note += "  (" + std::to_string(requester.failures) + " requests gave no picture)";
        std::printf("  %-52s %10.1f %10.2f %14.1f %10.2f%s\n", requester.name, requests.size() * 1000 / requester.ms,
                    theirs.ms / requester.ms, requester.processorMs / requests.size(),
                    theirs.processorMs / requester.processorMs, note.c_str());
    }
    PrintDifferent(different, requests.size());
}

// ---- 2. sequential reading ----

// Every frame in order through touch(n), the source opened beforehand.
template <class Touch>
bench::Pace ReadAll(size_t frames, Touch touch)
{
    unsigned sum = 0, failures = 0;
    double ms = 0;
    const double processor = bench::processorMilliseconds([&] {
        ms = bench::milliseconds([&] {
            for (size_t n = 0; n < frames; n++)
                failures += !touch(n, sum);
        });
    });
    sink = sum;
    if (failures)
        throw std::runtime_error(std::to_string(failures) + " frames did not come");
    return {frames * 1000 / ms, processor / frames};
}

void Sequential(const char* label, const fs::path& file, const std::vector<Bytes>& expected)
{
    bench::Pace ours, theirs;
    size_t frames = 0;
    bench::alternateRounds(
        sequentialRounds,
        [&](bool counted) {
            Reader reader(file);
            frames = reader.Frames();
            const bench::Pace round = ReadAll(frames, [&](size_t n, unsigned& sum) { return reader.Touch(n, sum); });
            if (counted)
                ours.KeepBest(round);
        },
        [&](bool counted) {
            bench::FfmsVideo ffms(file);
            const bench::Pace round = ReadAll(size_t(ffms.Frames()), [&](size_t n, unsigned& sum) {
                const FFMS_Frame* frame = ffms.Frame(int(n));
                return frame && (sum += frame->Data[0][0], true);
            });
            if (counted)
                theirs.KeepBest(round);
        });
    // Not timed: every frame in order once more, against FFmpeg's.
    Reader reader(file);
    unsigned different = 0;
    for (size_t n = 0; n < std::min(reader.Frames(), expected.size()); n++)
        different += reader.Differs(n, expected[n]);

    std::printf("2. sequential, every frame of the %s in order, UYVY out, best of %d rounds\n", label,
                sequentialRounds);
    bench::printPaceHeader();
    bench::printPace("OmbrixReader LoadVideoFrame + ReleaseVideoFrame", ours, theirs,
                     "  (target >= 0.9; " + std::to_string(frames) + " frames)");
    bench::printPace("FFMS2 FFMS_GetFrame, 1 thread", theirs, theirs);
    PrintDifferent(different, std::min(reader.Frames(), expected.size()));
}

// ---- 3. opening ----

void Opening(const char* label, const fs::path& file)
{
    const auto [ours, theirs] = bench::medianOpenings(
        openingRounds,
        [&] {
            auto reader = std::make_unique<Reader>(file);
            unsigned sum = 0;
            if (!reader->Touch(0, sum))
                throw std::runtime_error("OmbrixReader gives no first frame of " + file.string());
            return reader;
        },
        [&] { return std::make_unique<bench::FfmsVideo>(file); });
    std::printf("3. opening the %s: first frame in hand, median of %d rounds\n", label, openingRounds);
    bench::printHeader("ms");
    bench::printLine("OmbrixReader constructor + first frame", ours, theirs / ours, "  (target >= 1)");
    bench::printLine("FFMS2 indexing + video source + first frame", theirs, 1.0);
}

}  // namespace

// With arguments, only the named parts run: random, sequential, opening.
int main(int argc, char** argv)
{
    const bench::Parts wanted(argc, argv);
    std::printf("build/bench/bench_ombrixreader%s\n", argc < 2 ? "  [random | sequential | opening]" : "");
    return bench::Reporting("bench_ombrixreader", [&] {
        av_log_set_level(AV_LOG_ERROR);
        const struct {
            const char* label;
            fs::path file;
        } files[] = {{"1280x720 WMV2 .wmv (GOP 50, WMA2 audio)", bench::wmv2File()},
                     {"1280x720 H.264 .mp4 (GOP 50, 3 B-frames, AAC)", bench::h264File()}};
        for (const auto& f : files) {
            if (!wanted("random") && !wanted("sequential"))
                break;
            const std::vector<Bytes> expected = Expected(f.file);
            if (wanted("random"))
                RandomAccess(f.label, f.file, expected);
            if (wanted("sequential"))
                Sequential(f.label, f.file, expected);
        }
        if (wanted("opening"))
            for (const auto& f : files)
                Opening(f.label, f.file);
    });
}
