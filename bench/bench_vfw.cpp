// Sequential decoding of a 1080p MPEG-4 part 2 AVI to UYVY: every chunk through ICDecompress,
// against libavcodec decoding the same packets with the same libswscale conversion and nothing
// else. Both start from packets already in memory. Prints both rates and the stand-in's overhead.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "BenchData.h"
#include "platform/vfw/AvPointers.h"
#include "platform/vfw/DibConverter.h"
#include "platform/vfw/Vfw.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

constexpr int repetitions = 7;

struct Stream {
    AVCodecID codec;
    std::vector<uint8_t> format;  // BITMAPINFOHEADER, then the codec's set-up bytes
    std::vector<AvPacketPtr> packets;

    const BITMAPINFOHEADER& header() const { return *(const BITMAPINFOHEADER*)format.data(); }
    size_t pictureSize() const { return size_t(header().biWidth) * 2 * header().biHeight; }
};

Stream load(const std::filesystem::path& file)
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
    stream.format.assign((const uint8_t*)&header, (const uint8_t*)(&header + 1));
    stream.format.insert(stream.format.end(), video->extradata, video->extradata + video->extradata_size);
    for (AvPacketPtr packet(av_packet_alloc()); av_read_frame(context, packet.get()) >= 0; packet.reset(av_packet_alloc()))
        if (packet->stream_index == 0)
            stream.packets.push_back(std::move(packet));
    return stream;
}

BITMAPINFOHEADER uyvy(const Stream& stream)
{
    BITMAPINFOHEADER output = stream.header();
    output.biSize = sizeof output;
    output.biBitCount = 16;
    output.biCompression = FCC("UYVY");
    output.biSizeImage = DWORD(stream.pictureSize());
    return output;
}

template <class Work>
double milliseconds(Work work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double throughVfw(Stream& stream, std::vector<uint8_t>& picture)
{
    BITMAPINFOHEADER* input = (BITMAPINFOHEADER*)stream.format.data();
    BITMAPINFOHEADER output = uyvy(stream);
    HIC decoder = ICOpen(ICTYPE_VIDEO, input->biCompression, ICMODE_DECOMPRESS);
    if (!decoder || ICSendMessage(decoder, ICM_DECOMPRESS_BEGIN, (DWORD_PTR)input, (DWORD_PTR)&output) != ICERR_OK)
        throw std::runtime_error("the decompressor does not open");
    const double elapsed = milliseconds([&] {
        for (const AvPacketPtr& packet : stream.packets) {
            input->biSizeImage = packet->size;
            if (ICDecompress(decoder, 0, input, packet->data, &output, picture.data()) != ICERR_OK)
                throw std::runtime_error("ICDecompress failed");
        }
    });
    ICSendMessage(decoder, ICM_DECOMPRESS_END, 0, 0);
    ICClose(decoder);
    return elapsed;
}

// The decoder set up as the stand-in sets it up; pictures converted straight into the buffer.
double plainFFmpeg(const Stream& stream, std::vector<uint8_t>& picture)
{
    const BITMAPINFOHEADER& header = stream.header();
    const AVCodec* codec = avcodec_find_decoder(stream.codec);
    AvCodecContextPtr context(avcodec_alloc_context3(codec));
    context->codec_tag = header.biCompression;
    context->width = header.biWidth;
    context->height = header.biHeight;
    context->bits_per_coded_sample = header.biBitCount;
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = 0;
    const size_t extraBytes = stream.format.size() - sizeof header;
    context->extradata = (uint8_t*)av_mallocz(extraBytes + AV_INPUT_BUFFER_PADDING_SIZE);
    memcpy(context->extradata, &header + 1, extraBytes);
    context->extradata_size = int(extraBytes);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        throw std::runtime_error("libavcodec does not open the decoder");
    AvFramePtr frame(av_frame_alloc());
    SwsContextPtr scaler;
    uint8_t* const planes[4] = {picture.data()};
    const int strides[4] = {header.biWidth * 2};
    return milliseconds([&] {
        for (const AvPacketPtr& packet : stream.packets) {
            if (avcodec_send_packet(context.get(), packet.get()) < 0)
                throw std::runtime_error("libavcodec refuses a packet");
            while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
                scaler.reset(sws_getCachedContext(scaler.release(), frame->width, frame->height,
                                                  AVPixelFormat(frame->format), header.biWidth, header.biHeight,
                                                  AV_PIX_FMT_UYVY422, DibConverter::Flags, nullptr, nullptr, nullptr));
                sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
                av_frame_unref(frame.get());
            }
        }
    });
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main()
{
    try {
        av_log_set_level(AV_LOG_ERROR);
        const std::filesystem::path file =
            bench::makeOnce("mpeg4-1080p-10s.avi", "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 "
                                                   "-t 10 -c:v mpeg4 -q:v 4 -g 50 -bf 0 -an {out}");
        Stream stream = load(file);
        // Room for libswscale's writes past the last row in the plain conversion.
        std::vector<uint8_t> ours(stream.pictureSize()), theirs(stream.pictureSize() + 256);
        std::vector<double> vfw, plain;
        for (int i = 0; i <= repetitions; i++) {  // the first round warms up and is not counted
            const double a = throughVfw(stream, ours), b = plainFFmpeg(stream, theirs);
            if (i > 0) {
                vfw.push_back(a);
                plain.push_back(b);
            }
        }
        if (memcmp(ours.data(), theirs.data(), ours.size()) != 0)
            throw std::runtime_error("the last pictures differ");
        const double frames = double(stream.packets.size()), a = median(vfw), b = median(plain);
        printf("1080p MPEG-4 part 2 to UYVY, %zu frames, median of %d runs:\n", stream.packets.size(), repetitions);
        printf("  libavcodec + libswscale  %7.1f frames/s  (%.3f ms/frame)\n", frames * 1000 / b, b / frames);
        printf("  ICDecompress             %7.1f frames/s  (%.3f ms/frame)\n", frames * 1000 / a, a / frames);
        printf("  overhead %+.1f%% (target <= +5%%)\n", (a / b - 1) * 100);
    } catch (const std::exception& e) {
        fprintf(stderr, "bench_vfw: %s\n", e.what());
        return 1;
    }
    return 0;
}
