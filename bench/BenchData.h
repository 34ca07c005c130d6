// The benchmarks' input files, made once by the ffmpeg tool into the build tree's bench-data
// folder (beside bench/, where the benchmark programs live), the disk's own rate, and the plain
// libavcodec + libswscale decoding that the library's decoding is measured against.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ffmpeg/AvPointers.h"
#include "platform/vfw/DibConverter.h"
#include "platform/vfw/Vfw.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace bench {

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

}  // namespace bench
