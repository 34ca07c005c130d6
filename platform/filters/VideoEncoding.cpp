#include "VideoEncoding.h"

#include "CompressorCodecs.h"

namespace {

// Slice threads only: frame threads would hold pictures back. libswscale's fast paths, with RGB
// chroma taken from every pixel (averaging pairs first would mix the pixel past an odd-width row
// into its last pair).
constexpr const char* Threads = "threads=auto:thread_type=slice";
constexpr int ScaleFlags = SWS_FAST_BILINEAR | SWS_FULL_CHR_H_INP;
constexpr int64_t Units = 10000000;
// MPEG-4 writes the time base's denominator in 16 bits.
constexpr int LargestTimeDenominator = 65535;

bool IsRgb(AVPixelFormat input) { return input == AV_PIX_FMT_BGR24 || input == AV_PIX_FMT_BGR0; }

}  // namespace

std::optional<VideoEncoding> VideoEncodingOf(const VideoCodec& codec, const std::vector<int>& values,
                                             AVPixelFormat input)
{
    const bool yuv = input == AV_PIX_FMT_UYVY422 || input == AV_PIX_FMT_YUYV422;
    if (!yuv && !IsRgb(input))
        return std::nullopt;
    const std::string options = EncoderOptions(codec.options, codec.settings, values);
    return VideoEncoding{codec.encoder, yuv ? codec.fromYuv : codec.fromRgb,
                         std::string(Threads) + (options.empty() ? "" : ":") + options, ScaleFlags};
}

std::optional<VideoEncoding> DefaultVideoEncoding(const std::wstring& name, AVPixelFormat input)
{
    for (const VideoCodec& codec : VideoCodecs())
        if (name == codec.name)
            return VideoEncodingOf(codec, InitialValues(codec.settings), input);
    return std::nullopt;
}

AvCodecContextPtr OpenVideoEncoder(const VideoEncoding& encoding, int width, int height, int64_t frameDuration)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(encoding.encoder.c_str());
    AvCodecContextPtr context(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!context)
        return nullptr;
    context->width = width;
    context->height = height;
    context->pix_fmt = encoding.format;
    // The frame rate's nearest fraction: 333666 units give 30000/1001 frames a second.
    const AVRational rate = frameDuration > 0 ? av_d2q(double(Units) / double(frameDuration), LargestTimeDenominator)
                                              : AVRational{25, 1};
    context->time_base = av_inv_q(rate);
    context->framerate = rate;
    AVDictionary* options = nullptr;
    const bool opened = av_dict_parse_string(&options, encoding.options.c_str(), "=", ":", 0) >= 0 &&
                        avcodec_open2(context.get(), codec, &options) >= 0 && av_dict_count(options) == 0;
    av_dict_free(&options);
    return opened ? std::move(context) : nullptr;
}

int SendPicture(AVCodecContext& encoder, AVFrame* picture)
{
    if (picture)
        picture->quality = encoder.global_quality;
    return avcodec_send_frame(&encoder, picture);
}
