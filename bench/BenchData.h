// The benchmarks' input files, made once by the ffmpeg tool into the build tree's bench-data
// folder (beside bench/, where the benchmark programs live), the disk's own rate, the plain
// libavcodec + libswscale decoding and the FFMS2 video source that the library's decoding is
// measured against, and the taking of turns that lets outside load weigh on both sides alike.
#pragma once

#include <ffms.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/ffmpeg/AvPointers.h"
#include "platform/vfw/DibConverter.h"
#include "platform/vfw/Vfw.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace bench {

// The parts of a benchmark that its arguments name; all of them without arguments.
class Parts {
public:
    Parts(int argc, char** argv) : m_Count(argc), m_Arguments(argv) {}
    bool operator()(const char* part) const
    {
        if (m_Count < 2)
            return true;
        for (int i = 1; i < m_Count; i++)
            if (std::strcmp(m_Arguments[i], part) == 0)
                return true;
        return false;
    }

private:
    const int m_Count;
    char** const m_Arguments;
};

inline std::filesystem::path dataDirectory()
{
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bench-data";
    std::filesystem::create_directories(dir);
    return dir;
}

// The file `name` of the data folder. When missing it is made by `command`, in which "{out}"
// stands for a temporary name that is renamed once the command succeeded.
inline std::filesystem::path makeOnce(const std::string& name, std::string command)
{
    const std::filesystem::path file = dataDirectory() / name;
    if (std::filesystem::exists(file))
        return file;
    const std::filesystem::path partial = file.parent_path() / (".partial-" + name);
    for (size_t at; (at = command.find("{out}")) != std::string::npos;)
        command.replace(at, 5, "'" + partial.string() + "'");
    printf("making %s (once)...\n", file.c_str());
    fflush(stdout);
    const int status = system((command + " </dev/null").c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("failed: " + command);
    std::filesystem::rename(partial, file);
    return file;
}

// The graph benchmarks' files: 20 s of 1280x720 at 25 frames per second, a key frame every 50.
inline std::filesystem::path wmv2File()
{
    return makeOnce("wmv2-wma2-720p-20s-gop50.wmv",
                    "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -f lavfi -i "
                    "sine=frequency=440:sample_rate=44100 -t 20 -c:v wmv2 -g 50 -b:v 6M -c:a wmav2 -ac 2 "
                    "-b:a 128k -f asf {out}");
}

inline std::filesystem::path h264File()
{
    return makeOnce("h264-aac-720p-20s-gop50-bf3.mp4",
                    "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -f lavfi -i "
                    "sine=frequency=440:sample_rate=44100 -t 20 -c:v libx264 -preset veryfast -crf 20 "
                    "-pix_fmt yuv420p -g 50 -bf 3 -c:a aac -ac 2 -f mp4 {out}");
}

// Bytes per second that `dd bs=4M iflag=direct` reports for the file (extra: dd's skip/count
// arguments); 0 when dd gave none.
inline double ddDirectRate(const std::filesystem::path& path, const std::string& extra = "")
{
    const std::string command =
        "LC_ALL=C dd if='" + path.string() + "' of=/dev/null bs=4M iflag=direct " + extra + " 2>&1";
    FILE* output = popen(command.c_str(), "r");
    double rate = 0;
    char line[512];
    while (output && std::fgets(line, sizeof line, output)) {
        unsigned long long bytes;
        const char* copied = std::strstr(line, "copied, ");
        if (copied && std::sscanf(line, "%llu bytes", &bytes) == 1)
            rate = (double)bytes / std::strtod(copied + 8, nullptr);
    }
    if (output)
        pclose(output);
    return rate;
}

// The packets of a file's first stream, all in memory, with its format as a decompressor gets it.
struct Stream {
    AVCodecID codec;
    std::vector<uint8_t> format;  // BITMAPINFOHEADER, then the codec's set-up bytes
    std::vector<AvPacketPtr> packets;

    const BITMAPINFOHEADER& header() const { return *(const BITMAPINFOHEADER*)format.data(); }
    size_t pictureSize() const { return size_t(header().biWidth) * 2 * header().biHeight; }
};

inline Stream loadStream(const std::filesystem::path& file)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(context, nullptr) < 0)
        throw std::runtime_error("libavformat cannot open " + file.string());
    const std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closer(&context, avformat_close_input);
    const AVCodecParameters* video = context->streams[0]->codecpar;
    Stream stream;
    stream.codec = video->codec_id;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header + video->extradata_size;
    header.biWidth = video->width;
    header.biHeight = video->height;
    header.biPlanes = 1;
    header.biBitCount = WORD(video->bits_per_coded_sample);
    header.biCompression = video->codec_tag;
    stream.format.resize(sizeof header);
    memcpy(stream.format.data(), &header, sizeof header);
    stream.format.insert(stream.format.end(), video->extradata, video->extradata + video->extradata_size);
    for (AvPacketPtr packet(av_packet_alloc()); av_read_frame(context, packet.get()) >= 0; packet.reset(av_packet_alloc()))
        if (packet->stream_index == 0)
            stream.packets.push_back(std::move(packet));
    return stream;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

template <class Work>
double milliseconds(Work work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Milliseconds of processor time that all threads of the process spent while work ran.
template <class Work>
double processorMilliseconds(Work work)
{
    timespec start, end;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    work();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    return (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
}

// rounds + 1 rounds of ours(counted) and theirs(counted), the first a warm-up that is not
// counted; which goes first alternates from round to round.
template <class Ours, class Theirs>
void alternateRounds(int rounds, Ours ours, Theirs theirs)
{
    for (int r = 0; r <= rounds; r++)
        for (int which = 0; which < 2; which++) {
            if ((which == 0) == (r % 2 == 0))
                ours(r > 0);
            else
                theirs(r > 0);
        }
}

// The median milliseconds that open() of each side takes over alternated rounds; what it opened
// is closed after the clock stopped.
template <class OpenOurs, class OpenTheirs>
std::pair<double, double> medianOpenings(int rounds, OpenOurs openOurs, OpenTheirs openTheirs)
{
    std::vector<double> ours, theirs;
    const auto time = [](auto open, std::vector<double>& times, bool counted) {
        decltype(open()) opened;
        const double ms = milliseconds([&] { opened = open(); });
        if (counted)
            times.push_back(ms);
    };
    alternateRounds(
        rounds, [&](bool counted) { time(openOurs, ours, counted); },
        [&](bool counted) { time(openTheirs, theirs, counted); });
    return {median(ours), median(theirs)};
}

// Sequential reading: frames per second, and the processor time per frame of all threads (what
// the hand-offs between threads cost beyond the work). Over rounds, the best of each stands:
// reading is bound by the processor, and the other rounds lost time to whatever else ran.
struct Pace {
    double rate = 0, processor = HUGE_VAL;

    void KeepBest(const Pace& round)
    {
        rate = std::max(rate, round.rate);
        processor = std::min(processor, round.processor);
    }
};

inline void printPaceHeader()
{
    std::printf("  %-52s %10s %10s %14s %10s\n", "", "frames/s", "ratio", "CPU ms/frame", "ratio");
}

inline void printPace(const char* what, const Pace& pace, const Pace& reference, const std::string& note = "")
{
    std::printf("  %-52s %10.1f %10.2f %14.3f %10.2f%s\n", what, pace.rate, pace.rate / reference.rate, pace.processor,
                reference.processor / pace.processor, note.c_str());
}

// One way of answering frame requests, and the time it took over all of them: on the clock, and
// in processor time of all threads (beyond which the clock's time was spent waiting).
struct Requester {
    const char* name;
    std::function<bool(size_t frame)> request;  // false: no picture came
    double ms = 0, processorMs = 0;
    unsigned failures = 0;
};

// The requests go in chunks, each answered by every requester in turn, the order rotating from
// chunk to chunk: whatever else the machine runs weighs on all alike.
inline void takeInChunks(const std::vector<size_t>& frames, std::vector<Requester>& requesters, size_t chunk)
{
    const size_t count = requesters.size();
    for (size_t at = 0; at < frames.size(); at += chunk)
        for (size_t k = 0; k < count; k++) {
            Requester& requester = requesters[(k + at / chunk) % count];
            requester.processorMs += processorMilliseconds([&] {
                requester.ms += milliseconds([&] {
                    for (size_t i = at; i < std::min(at + chunk, frames.size()); i++)
                        requester.failures += !requester.request(frames[i]);
                });
            });
        }
}

inline void printHeader(const char* unit)
{
    std::printf("  %-52s %10s %10s\n", "", unit, "ratio");
}

// A measurement and its ratio (ours over theirs for rates, theirs over ours for times: above 1,
// we are faster).
inline void printLine(const char* what, double value, double ratio, const std::string& note = "")
{
    std::printf("  %-52s %10.1f %10.2f%s\n", what, value, ratio, note.c_str());
}

// libavcodec set up as the library's decompressor sets it up, and libswscale converting to UYVY.
class PlainDecoder {
public:
    explicit PlainDecoder(const Stream& stream) : m_Header(stream.header())
    {
        const AVCodec* codec = avcodec_find_decoder(stream.codec);
        m_Context.reset(avcodec_alloc_context3(codec));
        m_Context->codec_tag = m_Header.biCompression;
        m_Context->width = m_Header.biWidth;
        m_Context->height = m_Header.biHeight;
        m_Context->bits_per_coded_sample = m_Header.biBitCount;
        m_Context->thread_type = FF_THREAD_SLICE;
        m_Context->thread_count = 0;
        const size_t extraBytes = stream.format.size() - sizeof m_Header;
        m_Context->extradata = (uint8_t*)av_mallocz(extraBytes + AV_INPUT_BUFFER_PADDING_SIZE);
        memcpy(m_Context->extradata, &stream.header() + 1, extraBytes);
        m_Context->extradata_size = int(extraBytes);
        if (avcodec_open2(m_Context.get(), codec, nullptr) < 0)
            throw std::runtime_error("libavcodec does not open the decoder");
    }

    void Flush() { avcodec_flush_buffers(m_Context.get()); }

    // Sends the packet (null: the end of the stream) and hands each picture that comes out to
    // take(frame).
    template <class Take>
    void Send(const AVPacket* packet, Take take)
    {
        if (avcodec_send_packet(m_Context.get(), packet) < 0 && packet)
            throw std::runtime_error("libavcodec refuses a packet");
        while (avcodec_receive_frame(m_Context.get(), m_Frame.get()) == 0) {
            take(*m_Frame);
            av_frame_unref(m_Frame.get());
        }
    }

    // Draws the frame straight into picture, which needs room for libswscale's writes past the
    // last row.
    void Convert(const AVFrame& frame, uint8_t* picture)
    {
        m_Scaler.reset(sws_getCachedContext(m_Scaler.release(), frame.width, frame.height, AVPixelFormat(frame.format),
                                            m_Header.biWidth, m_Header.biHeight, AV_PIX_FMT_UYVY422, DibConverter::Flags,
                                            nullptr, nullptr, nullptr));
        uint8_t* const planes[4] = {picture};
        const int strides[4] = {m_Header.biWidth * 2};
        sws_scale(m_Scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    }

private:
    const BITMAPINFOHEADER m_Header;
    AvCodecContextPtr m_Context;
    AvFramePtr m_Frame{av_frame_alloc()};
    SwsContextPtr m_Scaler;
};

// Milliseconds to decode every packet to UYVY, the decoder opened beforehand, the pictures held
// back at the end drained too. onPicture(n) sees picture n, in display order.
template <class OnPicture = void (*)(size_t)>
double plainFFmpeg(const Stream& stream, std::vector<uint8_t>& picture, OnPicture onPicture = [](size_t) {})
{
    PlainDecoder decoder(stream);
    size_t pictures = 0;
    const auto take = [&](const AVFrame& frame) {
        decoder.Convert(frame, picture.data());
        onPicture(pictures++);
    };
    return milliseconds([&] {
        for (const AvPacketPtr& packet : stream.packets)
            decoder.Send(packet.get(), take);
        decoder.Send(nullptr, take);
    });
}

// The FFMS2 video source of the file's first video track: one decoding thread, UYVY out.
class FfmsVideo {
public:
    explicit FfmsVideo(const std::filesystem::path& file)
    {
        FFMS_Init(0, 0);
        const std::string name = file.string();
        FFMS_Indexer* indexer = FFMS_CreateIndexer(name.c_str(), &m_Error);
        m_pIndex = indexer ? FFMS_DoIndexing2(indexer, FFMS_IEH_ABORT, &m_Error) : nullptr;
        const int track = m_pIndex ? FFMS_GetFirstTrackOfType(m_pIndex, FFMS_TYPE_VIDEO, &m_Error) : -1;
        m_pSource = track >= 0 ? FFMS_CreateVideoSource(name.c_str(), track, m_pIndex, 1, FFMS_SEEK_NORMAL, &m_Error)
                               : nullptr;
        const FFMS_Frame* first = m_pSource ? FFMS_GetFrame(m_pSource, 0, &m_Error) : nullptr;
        const int formats[] = {AV_PIX_FMT_UYVY422, -1};
        if (!first || FFMS_SetOutputFormatV2(m_pSource, formats, first->EncodedWidth, first->EncodedHeight,
                                             FFMS_RESIZER_BICUBIC, &m_Error) != 0 ||
            !Frame(0))
            throw std::runtime_error("FFMS2 cannot read " + name + ": " + m_Message);
    }
    ~FfmsVideo()
    {
        if (m_pSource)
            FFMS_DestroyVideoSource(m_pSource);
        if (m_pIndex)
            FFMS_DestroyIndex(m_pIndex);
    }
    FfmsVideo(const FfmsVideo&) = delete;
    FfmsVideo& operator=(const FfmsVideo&) = delete;

    const FFMS_Frame* Frame(int n) { return FFMS_GetFrame(m_pSource, n, &m_Error); }
    int Frames() { return FFMS_GetVideoProperties(m_pSource)->NumFrames; }

private:
    char m_Message[1024] = "";
    FFMS_ErrorInfo m_Error{FFMS_ERROR_SUCCESS, FFMS_ERROR_SUCCESS, sizeof m_Message, m_Message};
    FFMS_Index* m_pIndex = nullptr;
    FFMS_VideoSource* m_pSource = nullptr;
};

// Runs a benchmark: what it throws is said on stderr under the benchmark's name, and ends it with 1.
template <class Body>
int Reporting(const char* name, Body body)
{
    try {
        body();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
    } catch (const char* text) {
        std::fprintf(stderr, "%s: %s\n", name, text);
    }
    return 1;
}

}  // namespace bench
