// The ASF Writer through the library's writer: a .wmv with video and audio and a .wma with audio
// alone, decoded by FFmpeg and read back through OmbrixReader and Ombrix_GetFileInfo, and the
// pairing it refuses. (Files the ffmpeg tool writes are read by OmbrixReaderTest.)
#include <filesystem>

#include "WriterSupport.h"
#include "ombrix/OmbrixReader.h"
#include "ombrix/Ombrix_GetFileInfo.h"

namespace {

// The writer's Windows Media entries: the codecs FFmpeg finds in the files tell they are these.
constexpr unsigned WindowsMediaVideo = 5, WindowsMediaAudio = 1;
constexpr double FrameTime = 10000000.0 / 25;

// The SNR of the decode's part that the last 2048 sample frames pushed became, found at the
// codec's delay (at most 4096 sample frames); what is missing there counts as silence.
double endSnr(const Bytes& pushed, const Bytes& decoded)
{
    constexpr size_t Frame = 4, End = 2048 * Frame, Most = 4096 * Frame;
    const size_t from = pushed.size() - End;
    Bytes original(pushed.begin() + long(from), pushed.end()), found(End + Most);
    original.resize(found.size());
    if (decoded.size() > from)
        std::copy_n(decoded.begin() + long(from), std::min(decoded.size() - from, found.size()), found.begin());
    return snr(original, found, 2, Most / Frame);
}

struct AsfCase { const char* file; bool video; unsigned frames, samples; };
void PrintTo(const AsfCase& c, std::ostream* out) { *out << c.file; }

class AsfWriterFiles : public testing::TestWithParam<AsfCase> {};

TEST_P(AsfWriterFiles, DecodeCloseToWhatWasPushedAndReadBack)
{
    const AsfCase& c = GetParam();
    ScratchDir dir;
    const std::string path = dir.path(c.file);
    OmbrixWriter writer;
    writer.SelectVideoCodec(c.video ? WindowsMediaVideo : 0);
    writer.SelectAudioCodec(WindowsMediaAudio);
    const Pushed pushed = writeFile(writer, path, describe(c.video, true), c.frames, c.samples);

    const auto streams = ffprobeStreams(path, "codec_name");
    ASSERT_EQ(c.video ? 2u : 1u, streams.size());
    EXPECT_EQ("wmav2", streams.back().at("codec_name"));
    if (c.video) {
        EXPECT_EQ("wmv2", streams.front().at("codec_name"));
        // The frames as they are: the file starts with the audio's lead, which the ffmpeg tool
        // would fill with a copy of the first picture.
        const std::vector<Bytes> frames = ffmpegFrames(path, pushed.format, "-vsync passthrough");
        ASSERT_EQ(pushed.frames.size(), frames.size());
        for (size_t n = 0; n < frames.size(); n += 7)
            EXPECT_GT(psnr(topFirst(pushed.frames[n], pushed.format), frames[n]), 28) << n;
    }
    // Every sample frame pushed decodes, the last ones too: wmav2's frames and its delay are
    // padded with silence at the end.
    const Bytes pcm = ffmpegPcm(path);
    EXPECT_GE(pcm.size(), pushed.pcm.size());
    EXPECT_GT(snr(pushed.pcm, pcm, 2, 4096), 15);
    EXPECT_GT(endSnr(pushed.pcm, pcm), 15);

    unsigned char none = 0;
    OmbrixReader reader(const_cast<char*>(path.c_str()), false, false, &none, 0, 0);
    ASSERT_FALSE(reader.Error());
    const Ombrix_FileInfo& read = reader.GetInfo();
    EXPECT_EQ(std::tuple(c.video, true), std::tuple(read.HasVideo, read.HasAudio));
    if (c.video) {
        // The video's length is its frames'. The graph's, for both streams, is its longer stream's:
        // the audio runs on by its padding, at most two WMA frames (85 ms). The last frame loads.
        Ombrix_FileInfo info;
        ASSERT_TRUE(Ombrix_GetFileInfo(const_cast<char*>(path.c_str()), info));
        EXPECT_NEAR(c.frames * FrameTime, double(info.VideoDuration), FrameTime);
        EXPECT_NEAR(double(std::max(info.VideoDuration, info.AudioDuration)), double(read.VideoDuration), FrameTime);
        EXPECT_NEAR(c.frames * FrameTime + FrameTime, double(read.VideoDuration), 2 * FrameTime);
        EXPECT_EQ(read.VideoDuration, read.AudioDuration);
        unsigned char* last = reader.LoadVideoFrame(c.frames - 1, 25, 1, true);
        EXPECT_NE(nullptr, last);
        if (last)
            reader.ReleaseVideoFrame(last);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, AsfWriterFiles,
                         testing::Values(AsfCase{"both.wmv", true, 60, 0}, AsfCase{"odd.wmv", true, 37, 0},
                                         AsfCase{"tone.wma", false, 0, 96000}, AsfCase{"odd.wma", false, 0, 50001},
                                         AsfCase{"whole.wma", false, 0, 40960}));

TEST(AsfWriterFiles, WindowsMediaAudioWithAnotherVideoCodecWritesNothing)
{
    ScratchDir dir;
    const std::string path = dir.path("mixed.avi");
    OmbrixWriter writer;
    writer.SelectVideoCodec(1);
    writer.SelectAudioCodec(WindowsMediaAudio);
    Ombrix_FileInfo info = describe(true, true);
    EXPECT_FALSE(writer.OpenFile(const_cast<char*>(path.c_str()), &info));
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
