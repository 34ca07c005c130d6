#include "Picture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "platform/ffmpeg/PaddedFrame.h"
#include "platform/win32/DebugChannel.h"

extern "C" {
#include <libavutil/error.h>
}

namespace {

constexpr int MaxSide = 1 << 15;
// FFmpeg's default: frames come out as the ffmpeg tool's own conversions to RGB give them.
constexpr int ConvertFlags = SWS_BICUBIC;
constexpr int ThumbnailFlags = SWS_AREA | SWS_ACCURATE_RND;

std::runtime_error ffmpegError(const std::string& what, int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE];
    av_strerror(code, text, sizeof text);
    return std::runtime_error(what + ": " + text);
}

void checkSize(int width, int height)
{
    if (width <= 0 || height <= 0 || width > MaxSide || height > MaxSide)
        throw std::runtime_error("unusable picture size " + std::to_string(width) + "x" + std::to_string(height));
}

AvFramePtr newFrame(AVPixelFormat format, int width, int height)
{
    AvFramePtr frame = NewPaddedFrame(format, width, height);
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

// The rows, top first, copied into a frame with room after each.
AvFramePtr padded(AVPixelFormat format, int width, int height, const uint8_t* data, size_t pitch, bool bottomFirst)
{
    AvFramePtr frame = newFrame(format, width, height);
    for (int y = 0; y < height; y++)
        memcpy(frame->data[0] + size_t(y) * frame->linesize[0], data + size_t(bottomFirst ? height - 1 - y : y) * pitch,
               pitch);
    return frame;
}

RgbPicture convert(const AVFrame& source, int width, int height, int toWidth, int toHeight, int flags)
{
    checkSize(toWidth, toHeight);
    SwsContextPtr context(sws_getContext(width, height, AVPixelFormat(source.format), toWidth, toHeight,
                                         AV_PIX_FMT_RGB24, flags, nullptr, nullptr, nullptr));
    if (!context)
        throw std::runtime_error("libswscale cannot convert this picture");
    AvFramePtr target = newFrame(AV_PIX_FMT_RGB24, toWidth, toHeight);
    if (int code = sws_scale(context.get(), source.data, source.linesize, 0, height, target->data, target->linesize);
        code < 0)
        throw ffmpegError("libswscale failed", code);
    RgbPicture picture(toWidth, toHeight);
    for (int y = 0; y < toHeight; y++)
        memcpy(picture.Row(y), target->data[0] + size_t(y) * target->linesize[0], size_t(toWidth) * 3);
    return picture;
}

struct Layout {
    AVPixelFormat format;
    size_t pitch;  // bytes a row takes, padded to 4
    int height;
    bool bottomFirst;
};

Layout layoutOf(const FrameFormat& format)
{
    static const struct {
        AVPixelFormat format;
        int bits;
    } layouts[] = {{AV_PIX_FMT_UYVY422, 16}, {AV_PIX_FMT_YUYV422, 16}, {AV_PIX_FMT_BGR24, 24}, {AV_PIX_FMT_BGR0, 32}};
    if (format.colorSpace < 1 || format.colorSpace > 4)
        throw std::runtime_error("unknown colour space " + std::to_string(format.colorSpace));
    const auto& layout = layouts[format.colorSpace - 1];
    const int height = std::abs(format.height);
    checkSize(format.width, height);
    return {layout.format, (size_t(format.width) * layout.bits + 31) / 32 * 4, height,
            format.bottomUp && format.height > 0};
}

}  // namespace

RgbPicture ToRgb(const FrameFormat& format, const uint8_t* data)
{
    RouteFFmpegMessages();
    const Layout layout = layoutOf(format);
    AvFramePtr source = padded(layout.format, format.width, layout.height, data, layout.pitch, layout.bottomFirst);
    return convert(*source, format.width, layout.height, format.width, layout.height, ConvertFlags);
}

void FromRgb(const RgbPicture& picture, const FrameFormat& format, uint8_t* data)
{
    RouteFFmpegMessages();
    const Layout layout = layoutOf(format);
    if (picture.width != format.width || picture.height != layout.height)
        throw std::runtime_error("the picture is not the frame's size");
    AvFramePtr source =
        padded(AV_PIX_FMT_RGB24, picture.width, picture.height, picture.pixels.data(), size_t(picture.width) * 3, false);
    SwsContextPtr context(sws_getContext(picture.width, picture.height, AV_PIX_FMT_RGB24, picture.width, picture.height,
                                         layout.format, ConvertFlags, nullptr, nullptr, nullptr));
    if (!context)
        throw std::runtime_error("libswscale cannot convert this picture");
    AvFramePtr target = newFrame(layout.format, picture.width, picture.height);
    if (int code = sws_scale(context.get(), source->data, source->linesize, 0, picture.height, target->data,
                             target->linesize);
        code < 0)
        throw ffmpegError("libswscale failed", code);
    for (int y = 0; y < layout.height; y++)
        memcpy(data + size_t(layout.bottomFirst ? layout.height - 1 - y : y) * layout.pitch,
               target->data[0] + size_t(y) * target->linesize[0], layout.pitch);
}

RgbPicture Scaled(const RgbPicture& picture, int width, int height)
{
    RouteFFmpegMessages();
    AvFramePtr source =
        padded(AV_PIX_FMT_RGB24, picture.width, picture.height, picture.pixels.data(), size_t(picture.width) * 3, false);
    return convert(*source, picture.width, picture.height, width, height, ThumbnailFlags);
}

void WritePng(const RgbPicture& picture, const std::string& path)
{
    RouteFFmpegMessages();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec)
        throw std::runtime_error("this FFmpeg has no PNG encoder");
    AvCodecContextPtr context(avcodec_alloc_context3(codec));
    AvFramePtr frame(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet)
        throw std::bad_alloc();
    context->width = picture.width;
    context->height = picture.height;
    context->pix_fmt = AV_PIX_FMT_RGB24;
    context->time_base = {1, 1};
    if (int code = avcodec_open2(context.get(), codec, nullptr); code < 0)
        throw ffmpegError("cannot open the PNG encoder", code);

    frame->format = AV_PIX_FMT_RGB24;
    frame->width = picture.width;
    frame->height = picture.height;
    frame->data[0] = const_cast<uint8_t*>(picture.pixels.data());  // the encoder only reads it
    frame->linesize[0] = picture.width * 3;
    int code = avcodec_send_frame(context.get(), frame.get());
    if (code >= 0)
        code = avcodec_receive_packet(context.get(), packet.get());
    if (code < 0)
        throw ffmpegError("cannot encode " + path, code);

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write((const char*)packet->data, packet->size);
    file.close();
    if (!file)
        throw std::runtime_error("cannot write " + path + ": " + strerror(errno));
}
