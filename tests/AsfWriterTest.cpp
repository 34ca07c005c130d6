// The ASF Writer through the library's writer: a .wmv with video and audio and a .wma with audio
// alone, decoded by FFmpeg and read back through OmbrixReader, and the pairing it refuses.
#include <filesystem>

#include "WriterSupport.h"
#include "ombrix/OmbrixReader.h"

namespace {

unsigned entry(OmbrixWriter& writer, bool video, const std::string& name)
{
    const unsigned count = video ? writer.GetNoVideoCodecs() : writer.GetNoAudioCodecs();
    for (unsigned i = 0; i < count; i++)
        if (name == (video ? writer.GetVideoCodecName(i) : writer.GetAudioCodecName(i)))
            return i;
    return count;
}

struct AsfCase {
    const char* file;
    bool video;
    unsigned frames, samples;
};

class AsfWriterFiles : public testing::TestWithParam<AsfCase> {};

TEST_P(AsfWriterFiles, DecodeCloseToWhatWasPushedAndReadBack)
{
    const AsfCase& c = GetParam();
    ScratchDir dir;
    const std::string path = dir.path(c.file);
    OmbrixWriter writer;
    ASSERT_EQ(5u, entry(writer, true, "WindowsMedia Video (asf,wmv)"));
    ASSERT_EQ(1u, entry(writer, false, "WindowsMedia Audio (asf,wmv,wma)"));
    writer.SelectVideoCodec(c.video ? 5 : 0);
    writer.SelectAudioCodec(1);
    const Pushed pushed = writeFile(writer, path, describe(c.video, true), c.frames, c.samples);

    const auto streams = ffprobeStreams(path, "codec_name");
    ASSERT_EQ(c.video ? 2u : 1u, streams.size());
    EXPECT_EQ("wmav2", streams.back().at("codec_name"));
    if (c.video) {
        EXPECT_EQ("wmv2", streams.front().at("codec_name"));
        const std::vector<Bytes> frames = ffmpegFrames(path, pushed.format);
        ASSERT_EQ(pushed.frames.size(), frames.size());
        for (size_t n = 0; n < frames.size(); n += 7)
            EXPECT_GT(psnr(topFirst(pushed.frames[n], pushed.format), frames[n]), 28) << n;
    }
    // Within one of wmav2's 2048-sample frames: the last is padded, and its delay dropped.
    const Bytes pcm = ffmpegPcm(path);
    EXPECT_NEAR(double(pushed.pcm.size()), double(pcm.size()), 2048 * 4);
    EXPECT_GT(snr(pushed.pcm, pcm, 2, 4096), 15);

    unsigned char none = 0;
    OmbrixReader reader(const_cast<char*>(path.c_str()), false, false, &none, 0, 0);
    ASSERT_FALSE(reader.Error());
    EXPECT_EQ(c.video, reader.GetInfo().HasVideo);
    EXPECT_TRUE(reader.GetInfo().HasAudio);
    if (c.video) {
        // The same frames: the duration of the frames pushed, and the last one loads.
        constexpr double Frame = 10000000.0 / 25;
        EXPECT_NEAR(c.frames * Frame, double(reader.GetInfo().VideoDuration), Frame);
        unsigned char* last = reader.LoadVideoFrame(c.frames - 1, 25, 1, true);
        EXPECT_NE(nullptr, last);
        if (last)
            reader.ReleaseVideoFrame(last);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, AsfWriterFiles,
                         testing::Values(AsfCase{"both.wmv", true, 60, 0}, AsfCase{"tone.wma", false, 0, 96000}));

TEST(AsfWriterFiles, WindowsMediaAudioWithAnotherVideoCodecWritesNothing)
{
    ScratchDir dir;
    const std::string path = dir.path("mixed.avi");
    OmbrixWriter writer;
    writer.SelectVideoCodec(1);
    writer.SelectAudioCodec(1);
    Ombrix_FileInfo info = describe(true, true);
    EXPECT_FALSE(writer.OpenFile(const_cast<char*>(path.c_str()), &info));
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
