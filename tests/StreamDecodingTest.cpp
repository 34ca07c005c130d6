// The sources' and decoders' FFmpeg engine on files written by the ffmpeg tool: each stream
// demuxed on its own, taken through its compressed media type to a decoder, and compared with
// FFmpeg's own decoding of the whole file in order: every picture and its time, every sample, the
// picture covering a seek's time and the exact sample a seek asks for.
#include <gtest/gtest.h>

#include <cmath>

#include "MediaFiles.h"
#include "TestSupport.h"
#include "platform/filters/AudioStreamDecoder.h"
#include "platform/filters/MediaTypes.h"
#include "platform/filters/StreamDemuxer.h"
#include "platform/filters/VideoStreamDecoder.h"

namespace {

struct MediaFile {
    const char* name;
    const char* extension;
    std::string command;
    int video;  // stream numbers, -1 for none
    int audio;
    FOURCC output;  // the pictures' DIB: UYVY, YUY2, or BI_RGB
    WORD bits;
    // How far samples after a seek may stray from a decode from the start: AAC's noise bands and
    // MPEG audio's dither draw on a state that everything decoded before has moved on.
    int audioSlack = 0;
    std::string path() const { return make(name, extension, command); }
};
void PrintTo(const MediaFile& file, std::ostream* out) { *out << file.name; }

const std::string picture = testsrc("320x240", "25"), tone44k = lavfi("sine=frequency=440:sample_rate=44100");
const std::string gop = " -g 12 -bf 2";

// DV pictures have one size per system.
MediaFile dv(const char* name, const std::string& size, const std::string& rate, const std::string& format)
{
    return {name, ".dv", ffmpeg(testsrc(size, rate) + lavfi("sine=frequency=440:sample_rate=48000"),
                                "-t 1.6 -c:v dvvideo -pix_fmt " + format + " -ac 2 -f dv"), 0, 1, FCC("UYVY"), 16};
}

const MediaFile files[] = {
    {"Wmv2Wma2", ".wmv", ffmpeg(picture + tone44k, "-t 3 -c:v wmv2 -c:a wmav2 -ac 2"), 0, 1, FCC("YUY2"), 16},
    {"Wmv1", ".wmv", ffmpeg(picture, "-t 2 -c:v wmv1"), 0, -1, BI_RGB, 24},
    {"Wma2", ".wma", ffmpeg(lavfi("sine=frequency=300:sample_rate=22050"), "-t 3 -c:a wmav2"), -1, 0, 0, 0},
    {"H264Aac", ".mp4", ffmpeg(picture + tone44k, "-t 3 -c:v libx264 -preset veryfast" + gop + " -c:a aac"), 0, 1,
     BI_RGB, 32, 4},
    {"Ffv1Flac", ".mkv", ffmpeg(picture + tone44k, "-t 2 -c:v ffv1 -pix_fmt yuv422p -c:a flac"), 0, 1, FCC("UYVY"), 16},
    {"Mpeg2Mp2", ".mpg", ffmpeg(picture + tone44k, "-t 3 -c:v mpeg2video" + gop + " -c:a mp2 -f mpeg"), 0, 1,
     FCC("UYVY"), 16, 4},
    dv("DvPal", "720x576", "25", "yuv420p"),
    dv("DvNtsc", "720x480", "30000/1001", "yuv411p"),
    {"Mpeg4Pcm", ".avi", ffmpeg(picture + tone44k, "-t 3 -c:v mpeg4" + gop + " -c:a pcm_s16le"), 0, 1, FCC("YUY2"), 16},
};

std::vector<MediaFile> filesWith(int MediaFile::*stream)
{
    std::vector<MediaFile> found;
    for (const MediaFile& file : files)
        if (file.*stream >= 0)
            found.push_back(file);
    return found;
}

// The decoder parameters that the stream's compressed media type carries.
AvCodecParametersPtr throughMediaType(const AVStream& stream)
{
    const std::optional<StreamFormat> type = CompressedFormat(stream);
    return type ? DecoderParameters(type->majortype, type->subtype, type->formattype, type->format.data(),
                                    type->format.size())
                : nullptr;
}

BITMAPINFOHEADER dib(int width, int height, FOURCC compression, WORD bits)
{
    return {40, width, height, 1, bits, compression, DWORD((width * bits + 31) / 32 * 4 * height), 0, 0, 0, 0};
}

struct Picture {
    REFERENCE_TIME start, stop;
    Bytes bits;
};

// Pictures from the demuxer's position on, `count` at most.
std::vector<Picture> decodePictures(StreamDemuxer& demuxer, VideoStreamDecoder& decoder, size_t count, size_t size)
{
    std::vector<Picture> pictures;
    auto take = [&] {
        Picture p{0, 0, Bytes(size)};
        while (pictures.size() < count && decoder.Next(&p.start, &p.stop)) {
            EXPECT_TRUE(decoder.Draw(p.bits.data()));
            pictures.push_back(p);
        }
    };
    AvPacketPtr packet(av_packet_alloc());
    for (; pictures.size() < count && demuxer.Read(packet.get()); av_packet_unref(packet.get())) {
        EXPECT_TRUE(decoder.Send(packet->data, packet->size, demuxer.Time(packet->pts), demuxer.Time(packet->dts)));
        take();
    }
    if (pictures.size() < count) {
        decoder.Drain();
        take();
    }
    return pictures;
}

// FFmpeg's decoding of the file's stream from its start, in order, drawn by the same converter.
std::vector<Bytes> ffmpegPictures(const std::string& path, int index, const BITMAPINFOHEADER& output, int lowres = 0)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(context, nullptr) < 0)
        throw std::runtime_error("cannot open " + path);
    AvFormatContextPtr format(context);
    const AVCodecParameters* parameters = context->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    AvCodecContextPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), parameters);
    decoder->lowres = lowres;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        throw std::runtime_error("cannot decode " + path);
    DibConverter converter(*DibLayout::Of(output, false));
    std::vector<Bytes> pictures;
    AvPacketPtr packet(av_packet_alloc());
    AvFramePtr frame(av_frame_alloc());
    for (bool more = true; more;) {
        more = av_read_frame(context, packet.get()) >= 0;
        if (more && packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        }
        avcodec_send_packet(decoder.get(), more ? packet.get() : nullptr);
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            pictures.emplace_back(output.biSizeImage);
            converter.Convert(frame.get(), pictures.back().data());
        }
    }
    return pictures;
}

class VideoStreams : public testing::TestWithParam<MediaFile> {};

// Every picture once, in order, with the time of its place in the stream; then seeks to pictures
// on both sides of key frames (the B-frames shown before an open GOP's key frame among them)
// give first the picture that covers the time.
TEST_P(VideoStreams, EveryPictureAndThePictureCoveringASeek)
{
    const MediaFile& file = GetParam();
    std::unique_ptr<StreamDemuxer> demuxer = StreamDemuxer::Open(file.path(), file.video);
    ASSERT_TRUE(demuxer);
    const REFERENCE_TIME frame = FrameDuration(demuxer->Stream());
    std::unique_ptr<VideoStreamDecoder> decoder =
        VideoStreamDecoder::Open(*throughMediaType(demuxer->Stream()), frame);
    ASSERT_TRUE(decoder);
    const BITMAPINFOHEADER output = dib(decoder->Width(), decoder->Height(), file.output, file.bits);
    ASSERT_TRUE(decoder->SetOutput(output));
    const std::vector<Bytes> expected = ffmpegPictures(file.path(), file.video, output);

    decoder->Restart(0);
    const std::vector<Picture> pictures = decodePictures(*demuxer, *decoder, SIZE_MAX, output.biSizeImage);
    ASSERT_EQ(pictures.size(), expected.size());
    // ASF counts milliseconds.
    const REFERENCE_TIME slack = 10000;
    for (size_t n = 0; n < pictures.size(); n++) {
        EXPECT_NEAR(pictures[n].start, REFERENCE_TIME(n) * frame, slack) << "picture " << n;
        EXPECT_TRUE(pictures[n].bits == expected[n]) << "picture " << n;
    }

    const long last = long(expected.size()) - 1;
    for (long n : {5L, 11L, 12L, 13L, 23L, 30L, 35L, last - 1, last}) {
        const REFERENCE_TIME time = n * frame + frame / 2;
        ASSERT_TRUE(demuxer->Seek(time)) << "picture " << n;
        decoder->Restart(time);
        const std::vector<Picture> first = decodePictures(*demuxer, *decoder, 1, output.biSizeImage);
        ASSERT_EQ(first.size(), 1u) << "picture " << n;
        EXPECT_LE(first[0].start, time) << "picture " << n;
        EXPECT_GT(first[0].stop, time) << "picture " << n;
        EXPECT_TRUE(first[0].bits == expected[n]) << "picture " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, VideoStreams, testing::ValuesIn(filesWith(&MediaFile::video)),
                         [](const auto& info) { return std::string(info.param.name); });

// The ffmpeg tool's own conversion of a 4:2:2 file to UYVY, an independent check of the drawing.
TEST(VideoStreamDecoder, Ffv1422AsTheFfmpegToolRepacksIt)
{
    const MediaFile& file = files[4];
    std::unique_ptr<StreamDemuxer> demuxer = StreamDemuxer::Open(file.path(), file.video);
    ASSERT_TRUE(demuxer);
    std::unique_ptr<VideoStreamDecoder> decoder = VideoStreamDecoder::Open(*demuxer->Stream().codecpar, 0);
    const BITMAPINFOHEADER output = dib(320, 240, FCC("UYVY"), 16);
    ASSERT_TRUE(decoder && decoder->SetOutput(output));
    const Bytes tool = readFile(make("Ffv1FlacUyvy", ".raw", "ffmpeg -v error -i " + quote(file.path()) +
                                                                 " -f rawvideo -pix_fmt uyvy422 -y {out}"));
    decoder->Restart(0);
    const std::vector<Picture> pictures = decodePictures(*demuxer, *decoder, SIZE_MAX, output.biSizeImage);
    ASSERT_EQ(pictures.size() * output.biSizeImage, tool.size());
    for (size_t n = 0; n < pictures.size(); n++)
        EXPECT_TRUE(std::equal(pictures[n].bits.begin(), pictures[n].bits.end(), tool.begin() + n * output.biSizeImage))
            << "picture " << n;
}

// DV at half, quarter and one-eighth size: the size, and the pictures of FFmpeg's decode at that size.
TEST(VideoStreamDecoder, DvAtReducedSizes)
{
    const MediaFile& file = files[6];
    for (int lowres : {1, 2, 3}) {
        std::unique_ptr<StreamDemuxer> demuxer = StreamDemuxer::Open(file.path(), file.video);
        ASSERT_TRUE(demuxer);
        std::unique_ptr<VideoStreamDecoder> decoder = VideoStreamDecoder::Open(*demuxer->Stream().codecpar, 0, lowres);
        ASSERT_TRUE(decoder);
        EXPECT_EQ(decoder->Width(), 720 >> lowres);
        EXPECT_EQ(decoder->Height(), 576 >> lowres);
        const BITMAPINFOHEADER output = dib(decoder->Width(), decoder->Height(), BI_RGB, 24);
        ASSERT_TRUE(decoder->SetOutput(output));
        decoder->Restart(0);
        const std::vector<Picture> pictures = decodePictures(*demuxer, *decoder, 3, output.biSizeImage);
        const std::vector<Bytes> expected = ffmpegPictures(file.path(), file.video, output, lowres);
        ASSERT_EQ(pictures.size(), 3u);
        for (size_t n = 0; n < pictures.size(); n++)
            EXPECT_TRUE(pictures[n].bits == expected[n]) << "lowres " << lowres << ", picture " << n;
    }
}

struct Block {
    int64_t first;
    Bytes pcm;
};

// PCM from the demuxer's position on, `samples` at least (all when SIZE_MAX), as blocks.
std::vector<Block> decodeAudio(StreamDemuxer& demuxer, AudioStreamDecoder& decoder, size_t samples)
{
    std::vector<Block> blocks;
    size_t bytes = 0;
    const size_t wanted = samples == SIZE_MAX ? SIZE_MAX : samples * decoder.Output().nBlockAlign;
    auto take = [&] {
        for (Block b; bytes < wanted && decoder.Next(&b.pcm, &b.first); blocks.push_back(b))
            bytes += b.pcm.size();
    };
    AvPacketPtr packet(av_packet_alloc());
    for (; bytes < wanted && demuxer.Read(packet.get()); av_packet_unref(packet.get())) {
        EXPECT_TRUE(decoder.Send(packet->data, packet->size, demuxer.Time(packet->pts)));
        take();
    }
    if (bytes < wanted) {
        decoder.Drain();
        take();
    }
    return blocks;
}

class AudioStreams : public testing::TestWithParam<MediaFile> {};

// Every sample in order as the ffmpeg tool decodes the stream, in blocks that follow each other;
// after seeks to times that fall inside codec frames, the first sample is exactly the one at the
// time, and the samples after it are the tool's.
TEST_P(AudioStreams, EverySampleAndTheExactSampleAfterASeek)
{
    const MediaFile& file = GetParam();
    const Bytes expected = readFile(make(std::string(file.name) + "Pcm", ".raw", "ffmpeg -v error -i " + quote(file.path()) +
                                     " -map 0:" + std::to_string(file.audio) + " -f s16le -c:a pcm_s16le -y {out}"));
    std::unique_ptr<StreamDemuxer> demuxer = StreamDemuxer::Open(file.path(), file.audio);
    ASSERT_TRUE(demuxer);
    std::unique_ptr<AudioStreamDecoder> decoder = AudioStreamDecoder::Open(*throughMediaType(demuxer->Stream()));
    ASSERT_TRUE(decoder);
    const WAVEFORMATEX& pcm = decoder->Output();
    ASSERT_EQ(pcm.wBitsPerSample, 16);
    ASSERT_EQ(pcm.nChannels, demuxer->Stream().codecpar->ch_layout.nb_channels);

    decoder->Restart(0);
    Bytes all;
    for (const Block& b : decodeAudio(*demuxer, *decoder, SIZE_MAX)) {
        ASSERT_EQ(b.first * pcm.nBlockAlign, int64_t(all.size()));
        all.insert(all.end(), b.pcm.begin(), b.pcm.end());
    }
    ASSERT_EQ(all.size(), expected.size());
    EXPECT_TRUE(all == expected);

    const int64_t total = int64_t(expected.size() / pcm.nBlockAlign);
    const double seconds = double(total) / pcm.nSamplesPerSec;
    for (double at : {0.013, 0.1 * seconds, 0.27 * seconds, 0.43 * seconds, 0.61 * seconds, 0.9 * seconds}) {
        const REFERENCE_TIME time = REFERENCE_TIME(at * 1e7);
        ASSERT_TRUE(demuxer->Seek(time)) << at;
        decoder->Restart(time);
        const std::vector<Block> blocks = decodeAudio(*demuxer, *decoder, 4096);
        ASSERT_FALSE(blocks.empty()) << at;
        const int64_t first = time * pcm.nSamplesPerSec / 10000000;
        EXPECT_EQ(blocks[0].first, first) << at;
        std::vector<int16_t> got;
        for (const Block& b : blocks)
            got.insert(got.end(), (const int16_t*)b.pcm.data(), (const int16_t*)(b.pcm.data() + b.pcm.size()));
        const int16_t* from = (const int16_t*)expected.data() + first * pcm.nChannels;
        got.resize(std::min(got.size(), size_t((const int16_t*)(expected.data() + expected.size()) - from)));
        const auto differ = std::mismatch(got.begin(), got.end(), from,
                                          [&](int a, int b) { return std::abs(a - b) <= file.audioSlack; });
        EXPECT_EQ(differ.first - got.begin(), got.end() - got.begin()) << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, AudioStreams, testing::ValuesIn(filesWith(&MediaFile::audio)),
                         [](const auto& info) { return std::string(info.param.name); });

// Each stream's length as ffprobe gives it (the stream's own, else the file's); PCM in AVI, which
// has neither, is as long as its samples.
TEST(StreamDemuxer, DurationsAsFfprobeGivesThem)
{
    for (const MediaFile& file : files)
        for (int index : {file.video, file.audio}) {
            if (index < 0)
                continue;
            std::string text;
            ASSERT_EQ(run("ffprobe -v error -of csv=p=0 -select_streams " + std::to_string(index) +
                              " -show_entries stream=duration:format=duration " + quote(file.path()), &text), 0);
            double seconds = 0;
            for (std::istringstream lines(text); std::getline(lines, text) && seconds == 0;)
                seconds = atof(text.c_str());
            std::unique_ptr<StreamDemuxer> demuxer = StreamDemuxer::Open(file.path(), index);
            ASSERT_TRUE(demuxer);
            EXPECT_NEAR(double(demuxer->Duration()) / 1e7, seconds, 1e-6) << file.name << " stream " << index;
        }
}

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
    const uint8_t setup[] = {1, 2, 3, 4, 5};
    for (const Case& c : cases) {
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
        p.extradata = (uint8_t*)av_mallocz(sizeof setup + AV_INPUT_BUFFER_PADDING_SIZE);
        memcpy(p.extradata, setup, sizeof setup);
        p.extradata_size = sizeof setup;
        stream->avg_frame_rate = {25, 1};
        const std::optional<StreamFormat> type = CompressedFormat(*stream);
        ASSERT_TRUE(type) << avcodec_get_name(c.codec);
        EXPECT_TRUE(type->subtype == c.subtype) << avcodec_get_name(c.codec);
        if (c.type == AVMEDIA_TYPE_VIDEO) {
            EXPECT_EQ(((const VIDEOINFOHEADER*)type->format.data())->AvgTimePerFrame, 400000);
        }
        const AvCodecParametersPtr back = throughMediaType(*stream);
        ASSERT_TRUE(back) << avcodec_get_name(c.codec);
        EXPECT_EQ(back->codec_id, c.codec);
        EXPECT_EQ(c.type == AVMEDIA_TYPE_VIDEO ? back->height : back->sample_rate, c.type == AVMEDIA_TYPE_VIDEO ? 288 : 32000);
        EXPECT_TRUE(Bytes(back->extradata, back->extradata + back->extradata_size) == Bytes(setup, setup + sizeof setup))
            << avcodec_get_name(c.codec);
    }
}

}  // namespace
