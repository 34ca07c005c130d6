// AVIReader end to end, each against a reference measured in the same run:
//  1. every frame of a 1.2 GB uncompressed 1080p UYVY OpenDML AVI, dropped from the page cache,
//     through LoadVideoFrame, in MB/s against `dd bs=4M iflag=direct` over the same file (rounds
//     alternate, medians), and the reader's peak resident growth, measured in a forked child after
//     a quarter and after all frames: it must stay near its two read buffers whatever the file
//     length;
// 1b. the same file in the page cache: every frame, and 500 seeded random frames, against a
//     libavformat demuxer reading the same packets (seeking to each random one);
//  2. all audio of a 60 s type-1 DV AVI through LoadAudioSamples in 48000-frame requests: it has
//     to read every DV frame, so its rate is file bytes / time against dd's; the PCM is compared
//     with the ffmpeg tool's decode of the same raw DV;
// 2b. all audio of a 60 s type-2 PAL DV AVI (PCM chunks between the DV frames) the same way, in
//     the page cache against a libavformat demuxer that discards the video, and dropped from it
//     against the time `dd iflag=direct` takes over the whole file;
//  3. 500 seeded random frames of 1080p MJPEG AVIs (full-range 4:2:2 and 4:2:0), and of 1080p
//     MPEG-4 part 2 AVIs with GOP 50 (without and with B-frames), through LoadVideoFrame against
//     FFMS2 (single decoding thread, UYVY output), in frames per second, rounds alternating,
//     medians; then, untimed, every frame read in order and compared with FFmpeg's decoding of
//     the file in order (full-range pictures brought to studio range by libswscale's exact path,
//     chroma within 1; others through the same conversion, exactly), every one of the random
//     requests again against those in-order images, and a few images compared with FFMS2's;
//     every frame of the MJPEG AVIs in order against FFMS2 likewise;
//  4. every frame of that MPEG-4 AVI in order through LoadVideoFrame against libavcodec +
//     libswscale decoding the same packets from memory (as bench_vfw's reference), in frames per
//     second and the reader's overhead.
#include <ffms.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"
#include "ombrix/AVIReader.h"
#include "tests/StudioReference.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int rounds = 5;
constexpr int decodingRounds = 15;
constexpr int randomRounds = 3;
constexpr size_t page = 4096;
volatile unsigned sink;  // keeps the touched bytes used

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Bytes per second that `dd bs=4M iflag=direct` reports for the whole file.
double DdRate(const fs::path& path)
{
    const double rate = bench::ddDirectRate(path);
    if (rate <= 0)
        throw std::runtime_error("dd gave no rate for " + path.string());
    return rate;
}

// One byte per page of the image, so every page is really there.
unsigned Touch(const unsigned char* image, size_t size)
{
    unsigned sum = 0;
    for (size_t at = 0; at < size; at += page)
        sum += image[at];
    return sum + image[size - 1];
}

// Frame f through the reader, touched as above into sum and given back; false when refused.
bool LoadTouched(AVIReader& reader, const Ombrix_FileInfo& info, unsigned f, size_t size, unsigned& sum)
{
    unsigned char* image = reader.LoadVideoFrame(f, info.Rate, info.Scale, false);
    if (!image)
        return false;
    sum += Touch(image, size);
    reader.ReleaseVideoFrame(image);
    return true;
}

// Drops the file from the page cache: every read of it then comes from the disk.
void Evict(const fs::path& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0 || posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0)
        throw std::runtime_error("cannot drop " + path.string() + " from the page cache");
    close(fd);
}

// Reads the file through the page cache, so that all of it is there.
void Warm(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(8 << 20);
    while (in.read(block.data(), std::streamsize(block.size())) || in.gcount() > 0)
        sink = sink + unsigned(block[0]);
}

// ---- 1. sequential uncompressed video ----

struct VideoRun {
    double seconds;
    double bytes;
    long baseKB, peakQuarterKB, peakAllKB;
    unsigned frames, failures, sum;
};

// Reads every frame in a forked child (fresh peak RSS; the reader's memory does not stay in
// this process) and returns its figures.
VideoRun ReadAllFramesInChild(const fs::path& file)
{
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe");
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        VideoRun run{};
        {
            std::ofstream("/proc/self/clear_refs") << "5";  // restarts VmHWM from the current RSS
            run.baseKB = StatusKB("VmRSS");
        }
        std::string name = file.string();
        const auto start = Clock::now();
        Ombrix_FileInfo info;
        AVIReader reader(name.data(), &info, false, true);
        const size_t frameSize = size_t(info.Width) * info.Height * 2;
        if (reader.GetIsValidAVIFile() && info.ColorSpace == 1) {
            for (unsigned f = 0; f < info.NumFrames; f++) {
                if (!LoadTouched(reader, info, f, frameSize, run.sum)) {
                    run.failures++;
                    continue;
                }
                run.frames++;
                if (f + 1 == info.NumFrames / 4)
                    run.peakQuarterKB = StatusKB("VmHWM");
            }
        } else
            run.failures = ~0u;
        run.seconds = Seconds(start);
        run.bytes = double(run.frames) * frameSize;
        run.peakAllKB = StatusKB("VmHWM");
        (void)!write(fds[1], &run, sizeof run);
        _exit(0);
    }
    close(fds[1]);
    VideoRun run{};
    const bool got = read(fds[0], &run, sizeof run) == (ssize_t)sizeof run;
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!got)
        throw std::runtime_error("reader child failed");
    return run;
}

void SequentialVideo()
{
    const fs::path file = bench::makeOnce(
        "uyvy-1080p-290.avi", "ffmpeg -nostdin -v error -y -f lavfi -i color=c=0x4080c0:size=1920x1080:rate=25 "
                              "-frames:v 290 -c:v rawvideo -pix_fmt uyvy422 -f avi {out}");
    std::vector<double> ours, dd;
    VideoRun last{};
    long worstGrowth = 0, worstQuarter = 0;
    for (int r = 0; r < rounds; r++) {
        for (int which = 0; which < 2; which++) {
            if ((which == 0) == (r % 2 == 0)) {
                Evict(file);
                const VideoRun run = ReadAllFramesInChild(file);
                if (run.failures)
                    std::printf("  reader: %u failed frames\n", run.failures);
                ours.push_back(run.bytes / run.seconds);
                worstGrowth = std::max(worstGrowth, run.peakAllKB - run.baseKB);
                worstQuarter = std::max(worstQuarter, run.peakQuarterKB - run.baseKB);
                last = run;
            } else
                dd.push_back(DdRate(file));
        }
    }
    const double a = bench::median(ours), b = bench::median(dd);
    std::printf("1. sequential 1920x1080 UYVY AVI, %u frames, %.2f GB (OpenDML), %d rounds, medians\n", last.frames,
                fs::file_size(file) / 1e9, rounds);
    std::printf("  %-44s %9s %9s\n", "", "MB/s", "ratio");
    std::printf("  %-44s %9.0f %9.2f  (target >= 0.9)\n", "AVIReader LoadVideoFrame, 1 byte/page", a / 1e6, a / b);
    std::printf("  %-44s %9.0f %9.2f\n", "dd bs=4M iflag=direct", b / 1e6, 1.0);
    std::printf("  peak RSS growth of the reader child: %.1f MB after 1/4 of the frames, %.1f MB after all "
                "(read buffers ~2 x %.1f MB)\n",
                worstQuarter / 1024.0, worstGrowth / 1024.0, 1920.0 * 1080 * 2 / 1048576);
}

// ---- 1b. the same file in the page cache ----

// A libavformat demuxer over the file, single-threaded, as a player reads packets.
struct Demuxer {
    explicit Demuxer(const fs::path& file)
    {
        if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(context, nullptr) < 0)
            throw std::runtime_error("libavformat cannot open " + file.string());
    }
    ~Demuxer() { avformat_close_input(&context); }
    // The next packet's bytes touched, 1 a page; its size (0 at the end).
    size_t Next()
    {
        AVPacket* packet = av_packet_alloc();
        size_t size = 0;
        if (av_read_frame(context, packet) >= 0) {
            size = size_t(packet->size);
            sink = sink + Touch(packet->data, size);
        }
        av_packet_free(&packet);
        return size;
    }
    AVFormatContext* context = nullptr;
};

void WarmVideo()
{
    const fs::path file = bench::makeOnce(
        "uyvy-1080p-290.avi", "ffmpeg -nostdin -v error -y -f lavfi -i color=c=0x4080c0:size=1920x1080:rate=25 "
                              "-frames:v 290 -c:v rawvideo -pix_fmt uyvy422 -f avi {out}");
    Warm(file);
    std::string name = file.string();
    Ombrix_FileInfo info;
    AVIReader reader(name.data(), &info, false, true);
    if (!reader.GetIsValidAVIFile() || info.ColorSpace != 1)
        throw std::runtime_error("the reader does not open " + name);
    const size_t frameSize = size_t(info.Width) * info.Height * 2;
    std::mt19937 random(15);
    std::vector<unsigned> requests(500);
    for (unsigned& n : requests)
        n = unsigned(random() % info.NumFrames);

    const auto ours = [&](bool sequential) {
        const auto start = Clock::now();
        unsigned sum = 0;
        for (unsigned i = 0; i < (sequential ? info.NumFrames : unsigned(requests.size())); i++)
            if (!LoadTouched(reader, info, sequential ? i : requests[i], frameSize, sum))
                throw std::runtime_error("frame refused");
        sink = sum;
        return Seconds(start);
    };
    const auto theirs = [&](bool sequential) {
        Demuxer demuxer(file);
        const auto start = Clock::now();
        if (sequential)
            while (demuxer.Next()) {
            }
        else
            for (unsigned n : requests)
                if (av_seek_frame(demuxer.context, 0, n, AVSEEK_FLAG_ANY) < 0 || demuxer.Next() != frameSize)
                    throw std::runtime_error("libavformat missed a frame");
        return Seconds(start);
    };
    std::printf("1b. the same file in the page cache, %d rounds, medians\n", rounds);
    std::printf("  %-44s %9s %9s %9s\n", "", "ours", "theirs", "ratio");
    for (bool sequential : {true, false}) {
        std::vector<double> a, b;
        for (int r = 0; r < rounds; r++)
            for (int which = 0; which < 2; which++)
                ((which == 0) == (r % 2 == 0) ? a : b).push_back((which == 0) == (r % 2 == 0) ? ours(sequential) : theirs(sequential));
        const double count = sequential ? info.NumFrames : double(requests.size());
        const double x = bench::median(a), y = bench::median(b);
        if (sequential)
            std::printf("  %-44s %9.0f %9.0f %9.2f  (target >= 0.9)\n", "sequential MB/s vs libavformat packets",
                        count * frameSize / x / 1e6, count * frameSize / y / 1e6, y / x);
        else
            std::printf("  %-44s %9.0f %9.0f %9.2f  (target >= 0.9)\n", "500 random frames/s vs libavformat seeks",
                        count / x, count / y, y / x);
    }
}

// ---- 2. DV audio ----

void Put32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out += char(v >> (8 * i));
}
void Put16(std::string& out, uint16_t v)
{
    out += char(v);
    out += char(v >> 8);
}

// A type-1 DV AVI: one "iavs" stream whose 00db chunks are the raw DV frames.
fs::path MakeType1DV(const fs::path& raw)
{
    const fs::path file = bench::dataDirectory() / "dv-pal-48k-60s-type1.avi";
    if (fs::exists(file))
        return file;
    constexpr uint32_t frameSize = 144000;
    const uint64_t rawSize = fs::file_size(raw);
    if (rawSize % frameSize)
        throw std::runtime_error("raw DV is not whole PAL frames");
    const uint32_t frames = uint32_t(rawSize / frameSize);
    std::printf("making %s (once)...\n", file.c_str());

    std::string strl = "strh";
    Put32(strl, 56);
    strl += "iavsdvsd";
    Put32(strl, 0);  // flags
    Put16(strl, 0);
    Put16(strl, 0);
    Put32(strl, 0);  // initial frames
    Put32(strl, 1);  // scale
    Put32(strl, 25);  // rate
    Put32(strl, 0);  // start
    Put32(strl, frames);
    Put32(strl, 144008);
    Put32(strl, 0xFFFFFFFFu);  // quality
    Put32(strl, 0);  // sample size
    Put16(strl, 0), Put16(strl, 0), Put16(strl, 720), Put16(strl, 576);
    strl += "strf";
    Put32(strl, 32);
    strl += std::string(32, '\0');

    std::string hdrl = "avih";
    Put32(hdrl, 56);
    Put32(hdrl, 40000);
    Put32(hdrl, frameSize * 25);
    Put32(hdrl, 0);
    Put32(hdrl, 0x10);  // has index
    Put32(hdrl, frames);
    Put32(hdrl, 0);
    Put32(hdrl, 1);  // streams
    Put32(hdrl, 144008);
    Put32(hdrl, 720);
    Put32(hdrl, 576);
    hdrl += std::string(16, '\0');
    hdrl += "LIST";
    Put32(hdrl, uint32_t(4 + strl.size()));
    hdrl += "strl" + strl;

    const uint64_t moviSize = 4 + uint64_t(frames) * (8 + frameSize);
    const uint64_t riffSize = 4 + (8 + 4 + hdrl.size()) + (8 + moviSize) + (8 + 16ull * frames);
    std::string head = "RIFF";
    Put32(head, uint32_t(riffSize));
    head += "AVI LIST";
    Put32(head, uint32_t(4 + hdrl.size()));
    head += "hdrl" + hdrl + "LIST";
    Put32(head, uint32_t(moviSize));
    head += "movi";

    const fs::path partial = file.parent_path() / ".partial-type1.avi";
    {
        std::ifstream in(raw, std::ios::binary);
        std::ofstream out(partial, std::ios::binary);
        out << head;
        std::vector<char> frame(frameSize);
        std::string idx = "idx1";
        Put32(idx, 16 * frames);
        for (uint32_t f = 0; f < frames; f++) {
            in.read(frame.data(), frameSize);
            out.write("00db", 4);
            const char size[4] = {char(frameSize), char(frameSize >> 8), char(frameSize >> 16), 0};
            out.write(size, 4);
            out.write(frame.data(), frameSize);
            idx += "00db";
            Put32(idx, 0x10);
            Put32(idx, 4 + f * (8 + frameSize));
            Put32(idx, frameSize);
        }
        out << idx;
        if (!in || !out)
            throw std::runtime_error("cannot write " + partial.string());
    }
    fs::rename(partial, file);
    return file;
}

void DVAudio()
{
    const std::string source = "-f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i "
                               "'aevalsrc=0.6*sin(2*PI*440*t)|0.5*sin(2*PI*1000*t)+0.3*random(0):s=48000' -t 60 "
                               "-c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 -f dv";
    const fs::path raw = bench::makeOnce("dv-pal-48k-60s.dv", "ffmpeg -nostdin -v error -y " + source + " {out}");
    const fs::path pcmFile = bench::makeOnce(
        "dv-pal-48k-60s.s16le", "ffmpeg -nostdin -v error -y -f dv -i '" + raw.string() + "' -f s16le -ac 2 {out}");
    const fs::path file = MakeType1DV(raw);

    std::vector<char> expected(fs::file_size(pcmFile));
    std::ifstream(pcmFile, std::ios::binary).read(expected.data(), std::streamsize(expected.size()));

    constexpr unsigned request = 48000;
    std::vector<char> got;
    std::vector<double> ours, dd;
    unsigned samples = 0, failures = 0;
    const double bytes = double(fs::file_size(file));
    for (int r = 0; r < rounds; r++) {
        for (int which = 0; which < 2; which++) {
            if ((which == 0) != (r % 2 == 0)) {
                dd.push_back(DdRate(file));
                continue;
            }
            Evict(file);
            std::string name = file.string();
            const auto start = Clock::now();
            Ombrix_FileInfo info;
            AVIReader reader(name.data(), &info, true, false);
            samples = reader.GetIsValidAVIFile() && info.HasAudio ? info.NumSamples : 0;
            const unsigned frameBytes = info.Channels * info.BitsPerSample / 8;
            if (got.size() < size_t(samples) * frameBytes)
                got.resize(size_t(samples) * frameBytes);
            for (unsigned at = 0; at < samples; at += request) {
                const unsigned count = std::min(request, samples - at);
                if (!reader.LoadAudioSamples(&got[size_t(at) * frameBytes], at, count, false))
                    failures++;
            }
            ours.push_back(bytes / Seconds(start));
        }
    }
    got.resize(size_t(samples) * 4);
    const double a = bench::median(ours), b = bench::median(dd);
    std::printf("2. DV audio, 60 s type-1 DV AVI (%.0f MB), LoadAudioSamples in %u-frame requests, %d rounds, medians\n",
                bytes / 1e6, request, rounds);
    std::printf("  %-44s %9s %9s\n", "", "MB/s", "ratio");
    std::printf("  %-44s %9.0f %9.2f  (target >= 0.9; file bytes / time)\n", "AVIReader LoadAudioSamples", a / 1e6,
                a / b);
    std::printf("  %-44s %9.0f %9.2f\n", "dd bs=4M iflag=direct", b / 1e6, 1.0);
    std::printf("  PCM vs ffmpeg decode of the raw DV: %s (%u sample frames vs %zu%s)\n",
                got == expected ? "identical" : "different", samples, expected.size() / 4,
                failures ? ", some requests failed" : "");
}

// ---- 2b. PCM beside DV video ----

// Every sample frame of the file's audio through LoadAudioSamples in 48000-frame requests; seconds.
double ReadAllAudio(const fs::path& file, std::vector<char>& pcm)
{
    std::string name = file.string();
    const auto start = Clock::now();
    Ombrix_FileInfo info;
    AVIReader reader(name.data(), &info, true, false);
    const unsigned samples = reader.GetIsValidAVIFile() && info.HasAudio ? info.NumSamples : 0;
    pcm.resize(size_t(samples) * 4);
    for (unsigned at = 0; at < samples; at += 48000)
        if (!reader.LoadAudioSamples(&pcm[size_t(at) * 4], at, std::min(48000u, samples - at), false))
            throw std::runtime_error("an audio request failed");
    return Seconds(start);
}

// The same through a libavformat demuxer that discards the video; seconds.
double DemuxAllAudio(const fs::path& file, std::vector<char>& pcm)
{
    pcm.clear();
    const auto start = Clock::now();
    Demuxer demuxer(file);
    for (unsigned i = 0; i < demuxer.context->nb_streams; i++)
        if (demuxer.context->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            demuxer.context->streams[i]->discard = AVDISCARD_ALL;
    AVPacket* packet = av_packet_alloc();
    // Packets that finding the streams read before the video was discarded still come.
    while (av_read_frame(demuxer.context, packet) >= 0) {
        if (demuxer.context->streams[packet->stream_index]->discard != AVDISCARD_ALL)
            pcm.insert(pcm.end(), packet->data, packet->data + packet->size);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return Seconds(start);
}

void PCMBesideVideo()
{
    const fs::path file = bench::makeOnce(
        "dv-pal-pcm-60s-type2.avi", "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i "
                                    "sine=frequency=440:sample_rate=48000 -t 60 -c:v dvvideo -pix_fmt yuv420p "
                                    "-c:a pcm_s16le -ac 2 -f avi {out}");
    std::vector<char> ours, theirs;
    std::vector<double> warm, demuxer, cold, dd;
    for (int r = 0; r < rounds; r++) {
        Warm(file);
        const bool oursFirst = r % 2 == 0;
        for (int which = 0; which < 2; which++)
            (which == 0) == oursFirst ? warm.push_back(ReadAllAudio(file, ours)) : demuxer.push_back(DemuxAllAudio(file, theirs));
        for (int which = 0; which < 2; which++) {
            if ((which == 0) == oursFirst) {
                Evict(file);
                cold.push_back(ReadAllAudio(file, ours));
            } else
                dd.push_back(double(fs::file_size(file)) / DdRate(file));
        }
    }
    const double frames = double(ours.size() / 4);
    std::printf("2b. PCM beside DV video, 60 s type-2 PAL AVI (%.0f MB), LoadAudioSamples in 48000-frame requests, %d "
                "rounds, medians\n", fs::file_size(file) / 1e6, rounds);
    std::printf("  %-44s %9s %9s %9s\n", "Msample-frames/s", "ours", "theirs", "ratio");
    std::printf("  %-44s %9.1f %9.1f %9.2f  (target >= 1.0)\n", "warm, vs libavformat (video discarded)",
                frames / bench::median(warm) / 1e6, frames / bench::median(demuxer) / 1e6,
                bench::median(demuxer) / bench::median(warm));
    std::printf("  %-44s %9.1f %9.1f %9.2f  (target >= 0.9)\n", "cold, vs dd iflag=direct over the file",
                frames / bench::median(cold) / 1e6, frames / bench::median(dd) / 1e6, bench::median(dd) / bench::median(cold));
    std::printf("  PCM vs libavformat's packets: %s\n", ours == theirs ? "identical" : "different");
}

// ---- 3. random access ----

// The largest byte difference and the number of differing bytes between two UYVY images.
struct Difference {
    int largest = 0;
    size_t bytes = 0;
};

// FFMS2 leaves full-range (JPEG) pictures in full range; theirs is brought to studio range first
// when fullRange is set, which leaves the chroma interpolation as the only difference.
Difference Compare(const unsigned char* ours, const unsigned char* theirs, size_t theirStride, unsigned width,
                   unsigned height, bool fullRange)
{
    Difference d;
    for (unsigned y = 0; y < height; y++)
        for (size_t x = 0; x < size_t(width) * 2; x++) {
            int their = theirs[y * theirStride + x];
            if (fullRange)
                their = x % 2 ? int(their * 219.0 / 255 + 16.5) : int((their - 128) * 224.0 / 255 + 128.5);
            const int delta = std::abs(int(ours[y * size_t(width) * 2 + x]) - their);
            d.largest = std::max(d.largest, delta);
            d.bytes += delta != 0;
        }
    return d;
}

uint64_t Hash(const unsigned char* bytes, size_t size)
{
    uint64_t h = 0x9E3779B97F4A7C15u;
    for (size_t i = 0; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        h = (h ^ word) * 0x100000001B3u;
    }
    return h;
}

// Every frame read in order through the reader, against FFmpeg's decoding of the file in order:
// a full-range picture brought to studio range by libswscale's exact path (chroma within 1),
// any other through the same conversion (exactly). The hashes of the reader's images, in order.
struct InOrder {
    std::vector<uint64_t> hashes;
    unsigned within = 0;  // frames within the tolerance
    int largest = 0;      // largest byte difference
    bool fullRange = false;
};

InOrder CheckInOrder(AVIReader& reader, const Ombrix_FileInfo& info, const fs::path& file)
{
    const bench::Stream stream = bench::loadStream(file);
    const int width = int(info.Width), stride = width * 2;
    std::vector<uint8_t> converted(stream.pictureSize() + 256);
    bench::PlainDecoder decoder(stream);
    InOrder result;
    const auto take = [&](const AVFrame& frame) {
        const unsigned f = unsigned(result.hashes.size());
        result.fullRange = studio::isFullRange(frame);
        std::vector<uint8_t> reference;
        if (result.fullRange)
            reference = studio::pack(frame, AV_PIX_FMT_UYVY422, width, stride);
        else
            decoder.Convert(frame, converted.data());
        const uint8_t* expected = result.fullRange ? reference.data() : converted.data();
        unsigned char* image = f < info.NumFrames ? reader.LoadVideoFrame(f, info.Rate, info.Scale, false) : nullptr;
        result.hashes.push_back(image ? Hash(image, stream.pictureSize()) : 0);
        if (!image)
            return;
        bool within = true;
        for (size_t i = 0; i < stream.pictureSize(); i++) {
            const int delta = std::abs(int(image[i]) - int(expected[i]));
            result.largest = std::max(result.largest, delta);
            within = within && delta <= (result.fullRange ? studio::tolerance(AV_PIX_FMT_UYVY422, i) : 0);
        }
        result.within += within;
        reader.ReleaseVideoFrame(image);
    };
    for (const AvPacketPtr& packet : stream.packets)
        decoder.Send(packet.get(), take);
    decoder.Send(nullptr, take);
    return result;
}

void PrintInOrder(const InOrder& inOrder, unsigned frames)
{
    std::printf("  frames in order against FFmpeg's decoding in order, %s: %u of %u within (largest byte "
                "difference %d)\n",
                inOrder.fullRange ? "brought to studio range by libswscale's exact path (luma exact, chroma +-1)"
                                  : "same conversion (exact)",
                inOrder.within, frames, inOrder.largest);
}

// 500 seeded random frames of a compressed AVI through LoadVideoFrame against FFMS2, every
// request checked, then a few images compared with FFMS2's.
void RandomAccess(int part, const char* codec, const fs::path& file)
{
    std::string name = file.string();
    Ombrix_FileInfo info;
    AVIReader reader(name.data(), &info, false, true);
    if (!reader.GetIsValidAVIFile() || !info.HasVideo) {
        std::printf("%d. %s: AVIReader cannot open %s\n", part, codec, file.filename().c_str());
        return;
    }
    std::mt19937 random(20240611);
    std::vector<unsigned> frames(500);
    for (unsigned& f : frames)
        f = std::uniform_int_distribution<unsigned>(0, info.NumFrames - 1)(random);
    const size_t frameSize = size_t(info.Width) * info.Height * 2;

    unsigned sum = 0, failures = 0, theirFailures = 0, compared = 0;
    bool fullRange = false;
    Difference worst;
    std::vector<double> ours, theirs, ourProcessor, theirProcessor;  // frames/s; processor ms/frame
    char message[1024] = "";
    FFMS_ErrorInfo error{FFMS_ERROR_SUCCESS, FFMS_ERROR_SUCCESS, sizeof message, message};
    FFMS_Init(0, 0);
    FFMS_Indexer* indexer = FFMS_CreateIndexer(name.c_str(), &error);
    FFMS_Index* index = indexer ? FFMS_DoIndexing2(indexer, FFMS_IEH_ABORT, &error) : nullptr;
    const int track = index ? FFMS_GetFirstTrackOfType(index, FFMS_TYPE_VIDEO, &error) : -1;
    FFMS_VideoSource* source =
        track >= 0 ? FFMS_CreateVideoSource(name.c_str(), track, index, 1, FFMS_SEEK_NORMAL, &error) : nullptr;
    const int formats[] = {15 /* AV_PIX_FMT_UYVY422 */, -1};
    if (source && FFMS_SetOutputFormatV2(source, formats, info.Width, info.Height, FFMS_RESIZER_BICUBIC, &error) == 0) {
        bench::alternateRounds(
            randomRounds,
            [&](bool counted) {
                const auto start = Clock::now();
                const double processor = bench::processorMilliseconds([&] {
                    for (unsigned f : frames)
                        failures += !LoadTouched(reader, info, f, frameSize, sum);
                });
                if (counted) {
                    ours.push_back(frames.size() / Seconds(start));
                    ourProcessor.push_back(processor / frames.size());
                }
            },
            [&](bool counted) {
                const auto start = Clock::now();
                const double processor = bench::processorMilliseconds([&] {
                    for (unsigned f : frames) {
                        const FFMS_Frame* image = FFMS_GetFrame(source, int(f), &error);
                        if (!image) {
                            theirFailures++;
                            continue;
                        }
                        sum += Touch(image->Data[0], size_t(image->Linesize[0]) * image->EncodedHeight);
                    }
                });
                if (counted) {
                    theirs.push_back(frames.size() / Seconds(start));
                    theirProcessor.push_back(processor / frames.size());
                }
            });
        // Not timed: the first frames of the list again, each from both.
        for (size_t i = 0; i < 8 && i < frames.size(); i++) {
            unsigned char* mine = reader.LoadVideoFrame(frames[i], info.Rate, info.Scale, false);
            const FFMS_Frame* image = FFMS_GetFrame(source, int(frames[i]), &error);
            if (mine && image && image->ScaledWidth == int(info.Width) && image->ScaledHeight == int(info.Height)) {
                fullRange = image->ColorRange == FFMS_CR_JPEG;
                const Difference d =
                    Compare(mine, image->Data[0], size_t(image->Linesize[0]), info.Width, info.Height, fullRange);
                worst.largest = std::max(worst.largest, d.largest);
                worst.bytes = std::max(worst.bytes, d.bytes);
                compared++;
            }
            if (mine)
                reader.ReleaseVideoFrame(mine);
        }
    } else
        std::printf("  FFMS2 failed: %s\n", message);
    if (source)
        FFMS_DestroyVideoSource(source);
    if (index)
        FFMS_DestroyIndex(index);

    // Not timed: every frame in order against FFmpeg's, then the random requests against those.
    const InOrder inOrder = CheckInOrder(reader, info, file);
    unsigned same = 0;
    for (unsigned f : frames) {
        if (unsigned char* image = reader.LoadVideoFrame(f, info.Rate, info.Scale, false)) {
            same += f < inOrder.hashes.size() && Hash(image, frameSize) == inOrder.hashes[f];
            reader.ReleaseVideoFrame(image);
        }
    }
    const double a = ours.empty() ? 0 : bench::median(ours), b = theirs.empty() ? 0 : bench::median(theirs);

    std::printf("%d. random access, %zu seeded random frames of a %ux%u %s AVI (%u frames), UYVY out, %d rounds, "
                "medians\n",
                part, frames.size(), info.Width, info.Height, codec, info.NumFrames, randomRounds);
    const double pa = ourProcessor.empty() ? 0 : bench::median(ourProcessor),
                 pb = theirProcessor.empty() ? 0 : bench::median(theirProcessor);
    std::printf("  %-44s %9s %9s %14s\n", "", "frames/s", "ratio", "CPU ms/frame");
    std::printf("  %-44s %9.1f %9.2f %14.2f  (target >= 1; colour space %d%s)\n", "AVIReader LoadVideoFrame", a,
                b > 0 ? a / b : 0.0, pa, info.ColorSpace, failures ? ", some frames failed" : "");
    std::printf("  %-44s %9.1f %9.2f %14.2f%s\n", "FFMS2 FFMS_GetFrame, 1 thread", b, 1.0, pb,
                theirFailures ? "  (some frames failed)" : "");
    PrintInOrder(inOrder, info.NumFrames);
    std::printf("  random requests identical to the frame read in order: %u of %zu\n", same, frames.size());
    std::printf("  images vs FFMS2's, %u frames%s: %s (largest byte difference %d, at most %zu of %zu bytes differ;\n"
                "  FFMS2 interpolates 4:2:0 chroma bicubically, we repeat each chroma row)\n",
                compared, fullRange ? ", theirs brought from full to studio range" : "",
                compared && worst.bytes == 0 ? "identical" : "different", worst.largest, worst.bytes, frameSize);
    sink = sum;
}

// 1080p MPEG-4 part 2, GOP 50, without or with two B-frames between references.
fs::path MPEG4File(int bFrames = 0)
{
    const std::string b = std::to_string(bFrames);
    return bench::makeOnce("mpeg4-1080p-300-gop50" + std::string(bFrames ? "-bf" + b : "") + ".avi",
                           "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 300 "
                           "-c:v mpeg4 -g 50 -bf " + b + " -q:v 4 -an -f avi {out}");
}

// 1080p MJPEG as the ffmpeg tool writes it from 4:2:2 or 4:2:0 pictures: full range.
fs::path MJPEGFile(bool chroma422)
{
    return bench::makeOnce(chroma422 ? "mjpeg-1080p-422-300.avi" : "mjpeg-1080p-300.avi",
                           "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 300 "
                           "-c:v mjpeg -q:v 3" + std::string(chroma422 ? " -pix_fmt yuvj422p" : "") + " -f avi {out}");
}

void RandomMJPEG()
{
    RandomAccess(3, "MJPEG 4:2:2", MJPEGFile(true));
    RandomAccess(3, "MJPEG 4:2:0", MJPEGFile(false));
}

// Every frame in order through LoadVideoFrame against FFMS2 (one thread, UYVY out), rounds
// alternating, medians; untimed, every frame against FFmpeg's decoding brought to studio range.
void SequentialMJPEG(const char* what, const fs::path& file)
{
    std::string name = file.string();
    Ombrix_FileInfo info;
    AVIReader reader(name.data(), &info, false, true);
    if (!reader.GetIsValidAVIFile() || !info.HasVideo)
        throw std::runtime_error("AVIReader cannot open " + name);
    bench::FfmsVideo theirs(file);
    const size_t frameSize = size_t(info.Width) * info.Height * 2;
    std::vector<double> mine, peer;
    unsigned sum = 0, failures = 0;
    bench::alternateRounds(
        rounds,
        [&](bool counted) {
            const auto start = Clock::now();
            for (unsigned f = 0; f < info.NumFrames; f++)
                failures += !LoadTouched(reader, info, f, frameSize, sum);
            if (counted)
                mine.push_back(info.NumFrames / Seconds(start));
        },
        [&](bool counted) {
            const auto start = Clock::now();
            for (int f = 0; f < int(info.NumFrames); f++) {
                const FFMS_Frame* image = theirs.Frame(f);
                if (!image)
                    failures++;
                else
                    sum += Touch(image->Data[0], size_t(image->Linesize[0]) * image->EncodedHeight);
            }
            if (counted)
                peer.push_back(info.NumFrames / Seconds(start));
        });
    const double a = bench::median(mine), b = bench::median(peer);
    std::printf("3. sequential, every frame of a %ux%u %s AVI (%u frames) in order, UYVY out, %d rounds, medians\n",
                info.Width, info.Height, what, info.NumFrames, rounds);
    std::printf("  %-44s %9s %9s\n", "", "frames/s", "ratio");
    std::printf("  %-44s %9.1f %9.2f  (target >= 1%s)\n", "AVIReader LoadVideoFrame", a, a / b,
                failures ? "; some frames failed" : "");
    std::printf("  %-44s %9.1f %9.2f\n", "FFMS2 FFMS_GetFrame, 1 thread", b, 1.0);
    PrintInOrder(CheckInOrder(reader, info, file), info.NumFrames);
    sink = sum;
}

// ---- 4. MPEG-4 part 2 sequential decoding ----

// Every frame in order through LoadVideoFrame against libavcodec + libswscale decoding the
// file's packets from memory (the reader opened, and the decoder set up, outside the timing);
// rounds alternate, the first warms up; decoding is bound by the processor, so the best round of
// each stands (the others lost time to whatever else the machine ran).
void SequentialMPEG4()
{
    av_log_set_level(AV_LOG_ERROR);
    const fs::path file = MPEG4File();
    const bench::Stream stream = bench::loadStream(file);
    std::vector<uint8_t> ours(stream.pictureSize()), theirs(stream.pictureSize() + 256);
    std::vector<double> mine, plain;
    std::string name = file.string();
    unsigned frames = 0, failures = 0;
    for (int r = 0; r <= decodingRounds; r++) {
        for (int which = 0; which < 2; which++) {
            double ms;
            if ((which == 0) == (r % 2 == 0)) {
                Ombrix_FileInfo info;
                AVIReader reader(name.data(), &info, false, true);
                if (!reader.GetIsValidAVIFile() || !info.HasVideo)
                    throw std::runtime_error("AVIReader cannot open " + name);
                frames = info.NumFrames;
                ms = bench::milliseconds([&] {
                    for (unsigned f = 0; f < info.NumFrames; f++) {
                        unsigned char* image = reader.LoadVideoFrame(f, info.Rate, info.Scale, false);
                        if (!image) {
                            failures++;
                            continue;
                        }
                        if (f + 1 == info.NumFrames)
                            std::memcpy(ours.data(), image, ours.size());
                        reader.ReleaseVideoFrame(image);
                    }
                });
                if (r > 0)
                    mine.push_back(ms);
            } else {
                ms = bench::plainFFmpeg(stream, theirs);
                if (r > 0)
                    plain.push_back(ms);
            }
        }
    }
    const double a = *std::min_element(mine.begin(), mine.end()), b = *std::min_element(plain.begin(), plain.end());
    std::printf("4. sequential decoding, %ux%u MPEG-4 part 2 AVI (GOP 50, no B-frames), %u frames (%zu packets), "
                "UYVY out, best of %d rounds\n",
                stream.header().biWidth, stream.header().biHeight, frames, stream.packets.size(), decodingRounds);
    std::printf("  %-44s %9s %9s\n", "", "frames/s", "ms/frame");
    std::printf("  %-44s %9.1f %9.3f%s\n", "AVIReader LoadVideoFrame, all in order", frames * 1000 / a, a / frames,
                failures ? "  (some frames failed)" : "");
    std::printf("  %-44s %9.1f %9.3f\n", "libavcodec + libswscale, packets in memory",
                stream.packets.size() * 1000 / b, b / stream.packets.size());
    std::printf("  overhead %+.1f%% (target <= +5%%); last images %s\n",
                (a / frames) / (b / stream.packets.size()) * 100 - 100,
                std::memcmp(ours.data(), theirs.data(), ours.size()) == 0 ? "identical" : "different");
}

}  // namespace

// With arguments, only the named parts run: video, videowarm (part 1b), dv, pcm (part 2b), mjpeg
// (part 3 on the MJPEG files), mjpegseq (the MJPEG files in order), mpeg4 and mpeg4b (part 3 on the
// MPEG-4 files), mpeg4seq (part 4).
int main(int argc, char** argv)
{
    const bench::Parts wanted(argc, argv);
    return bench::Reporting("bench_avireader", [&] {
        if (wanted("video"))
            SequentialVideo();
        if (wanted("videowarm"))
            WarmVideo();
        if (wanted("dv"))
            DVAudio();
        if (wanted("pcm"))
            PCMBesideVideo();
        if (wanted("mjpeg"))
            RandomMJPEG();
        if (wanted("mjpegseq")) {
            SequentialMJPEG("MJPEG 4:2:2", MJPEGFile(true));
            SequentialMJPEG("MJPEG 4:2:0", MJPEGFile(false));
        }
        if (wanted("mpeg4"))
            RandomAccess(3, "MPEG-4 part 2 (GOP 50)", MPEG4File());
        if (wanted("mpeg4b"))
            RandomAccess(3, "MPEG-4 part 2 (GOP 50, 2 B-frames)", MPEG4File(2));
        if (wanted("mpeg4seq"))
            SequentialMPEG4();
    });
}
