// Compressed media types, which carry a codec's parameters from a source to a decoder. The engine
// under the sources and decoders is read through graphs (GraphReadingTest, GraphFiltersTest).
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/ffmpeg/AvPointers.h"
#include "platform/filters/MediaTypes.h"

namespace {

// Types round trip: the codec, its parameters and set-up bytes come back from the media type alone,
// for RIFF-tagged codecs, PCM of each size, and a codec no RIFF table names.
TEST(MediaTypes, DecoderParametersComeBackFromTheType)
{
    struct Case { AVMediaType type; AVCodecID codec; int bits; GUID subtype; };
    const Case cases[] = {
        {AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_DVVIDEO, 24, MEDIASUBTYPE_dvsd},
        {AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_MPEG4, 24, FourCCGuid(FCC("FMP4"))},
        {AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_PRORES, 0, LibavcodecSubtype(AV_CODEC_ID_PRORES)},
        {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_PCM_U8, 8, MEDIASUBTYPE_PCM},
        {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_PCM_S24LE, 24, MEDIASUBTYPE_PCM},
        {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_WMAV2, 0, FourCCGuid(0x161)},
        {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_OPUS, 0, LibavcodecSubtype(AV_CODEC_ID_OPUS)},
    };
    const Bytes setup = {1, 2, 3, 4, 5};
    for (const Case& c : cases) {
        SCOPED_TRACE(avcodec_get_name(c.codec));
        AvFormatContextPtr context(avformat_alloc_context());
        AVStream* stream = avformat_new_stream(context.get(), nullptr);
        AVCodecParameters& p = *stream->codecpar;
        p.codec_type = c.type;
        p.codec_id = c.codec;
        p.bits_per_coded_sample = c.bits;
        p.width = 352;
        p.height = 288;
        p.sample_rate = 32000;
        av_channel_layout_default(&p.ch_layout, 2);
        p.extradata = (uint8_t*)av_mallocz(setup.size() + AV_INPUT_BUFFER_PADDING_SIZE);
        memcpy(p.extradata, setup.data(), setup.size());
        p.extradata_size = int(setup.size());
        stream->avg_frame_rate = {25, 1};
        const std::optional<StreamFormat> type = CompressedFormat(*stream);
        ASSERT_TRUE(type);
        const bool video = c.type == AVMEDIA_TYPE_VIDEO;
        EXPECT_TRUE(type->subtype == c.subtype);
        EXPECT_TRUE(!video || ((const VIDEOINFOHEADER*)type->format.data())->AvgTimePerFrame == 400000);
        const AvCodecParametersPtr back =
            DecoderParameters(type->majortype, type->subtype, type->formattype, type->format.data(), type->format.size());
        ASSERT_TRUE(back);
        const int size = video ? back->height : back->sample_rate;
        EXPECT_EQ(std::tuple(c.codec, video ? 288 : 32000), std::tuple(back->codec_id, size));
        EXPECT_TRUE(Bytes(back->extradata, back->extradata + back->extradata_size) == setup);
    }
}

}  // namespace
