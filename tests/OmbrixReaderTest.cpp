// The reader facade over real files: every frame as FFmpeg decodes it, in any order and at other
// timeline rates; audio windows exactly as the ffmpeg tool decodes lossless sources, read beside
// the frames; the record against ffprobe; long names; the colour list; the file information query.
#include <numeric>
#include <random>
#include <thread>

#include "OmbrixReaderSupport.h"
#include "ombrix/Ombrix_GetFileInfo.h"

namespace {

constexpr LONGLONG Units = 10000000;

testing::AssertionResult frameIs(OmbrixReader& reader, LONGLONG n, LONGLONG rate, LONGLONG scale, const Bytes& want)
{
    const Bytes got = copyFrame(reader, n, rate, scale);
    return got == want ? testing::AssertionSuccess()
                       : testing::AssertionFailure() << (got.empty() ? "no frame " : "frame ") << n << " at " << rate << "/" << scale;
}

// Random windows, across blocks and past the end, against the tool's PCM followed by silence.
void expectAudioWindows(OmbrixReader& reader, const Bytes& pcm, int windows, unsigned seed)
{
    const Ombrix_FileInfo& info = reader.GetInfo();
    const size_t frame = sampleBytes(info), total = pcm.size() / frame;
    std::mt19937 random(seed);
    for (int w = 0; w < windows; w++) {
        const unsigned first = w == windows - 1 ? unsigned(total - 100) : unsigned(random() % (total + 2000)), count = 1 + random() % 6000;
        Bytes got(count * frame, 0xAA), want(count * frame, 0);
        if (first < total)
            std::copy_n(pcm.begin() + first * frame, std::min<size_t>(count, total - first) * frame, want.begin());
        ASSERT_TRUE(reader.LoadAudioSamples(got.data(), first, count, false));
        ASSERT_TRUE(got == want) << "window " << first << " + " << count << ", first difference at byte "
                                 << std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin();
    }
}

struct FileCase {
    const char* name;
    bool exactAudio;  // lossless audio: every window exact
    bool otherRates;  // 25 frames per second, read at 50/1 and 30000/1001 too
};
void PrintTo(const FileCase& c, std::ostream* out) { *out << c.name; }

class OmbrixReaderFiles : public testing::TestWithParam<FileCase> {};

// What is compared of a file information record.
auto described(const Ombrix_FileInfo& i)
{
    return std::tuple(i.HasVideo, i.VideoDuration, i.Rate, i.Scale, i.HasAudio, i.AudioDuration, i.FileSize, i.DataRate,
                      i.Width + i.Height + i.SampleRate + i.Channels + i.NumSamples + i.ColorSpace);
}

// Opened by a name far longer than 260 characters, which the reader and the query take whole. The
// reader's record and the query's against ffprobe: the reader gives both streams the longer one's
// length and counts in frames; the query gives each stream its own length, the frame rate over 10^7,
// and nothing else. Every frame in order, shuffled, past the end and on other timelines, while audio
// windows are read on another thread: each stream moves on its own, a seek or a read forward for
// one never takes the other's sample.
TEST_P(OmbrixReaderFiles, RecordFramesAndAudio)
{
    const MediaFile& file = mediaFile(GetParam().name);
    const ScratchDir dir;
    std::filesystem::create_directory(dir.path(std::string(200, 'd')));
    const std::string path = dir.path(std::string(200, 'd') + "/" + std::string(120, 'n') + file.extension);
    std::filesystem::create_symlink(file.path(), path);
    const auto reader = openReader(path);
    ASSERT_FALSE(reader->Error());
    EXPECT_EQ(path, reader->GetFileName());
    const Ombrix_FileInfo& info = reader->GetInfo();
    Ombrix_FileInfo query;
    query.Width = 7;
    ASSERT_TRUE(Ombrix_GetFileInfo(const_cast<char*>(path.c_str()), query));
    const LONGLONG size = LONGLONG(std::filesystem::file_size(file.path()));
    ASSERT_EQ(std::tuple(file.video >= 0, file.audio >= 0, size, size),
              std::tuple(info.HasVideo, info.HasAudio, info.FileSize, query.FileSize));
    EXPECT_EQ(std::tuple(info.HasVideo, info.HasAudio, 0u),
              std::tuple(query.HasVideo, query.HasAudio, std::get<8>(described(query))));
    double longest = 0;
    for (auto [stream, duration] :
         {std::pair(file.video, query.VideoDuration), std::pair(file.audio, query.AudioDuration)})
        if (stream >= 0) {
            const double seconds = ffprobeSeconds(file, stream);
            longest = std::max(longest, seconds);
            EXPECT_NEAR(seconds * Units, duration, Units / 100.0) << stream;
        }
    EXPECT_NEAR(longest * Units, info.VideoDuration, Units / 25.0);
    EXPECT_EQ(info.VideoDuration, info.AudioDuration);
    EXPECT_EQ(unsigned(size * 100 / (info.VideoDuration / 100000)), info.DataRate);
    EXPECT_NEAR(size * double(Units) / std::max(query.VideoDuration, query.AudioDuration), query.DataRate, 1.0);
    if (info.HasAudio) {
        auto stream = ffprobeStreams(file.path(), "sample_rate,channels", file.audio).at(0);
        EXPECT_EQ(std::tuple(stoul(stream["sample_rate"]), stoul(stream["channels"]), 16u),
                  std::tuple(info.SampleRate, info.Channels, info.BitsPerSample));
        EXPECT_EQ(unsigned(LONGLONG(info.SampleRate) * info.AudioDuration / Units), info.NumSamples);
    }
    const std::jthread audio([&] {
        if (GetParam().exactAudio)
            expectAudioWindows(*reader, toolDecode(file, false), 60, 5);
    });
    if (info.HasVideo) {
        auto stream = ffprobeStreams(file.path(), "width,height,r_frame_rate", file.video).at(0);
        EXPECT_EQ(std::tuple(stoi(stream["width"]), stoi(stream["height"]), Units, Units),
                  std::tuple(info.Width, info.Height, LONGLONG(info.Rate), LONGLONG(query.Scale)));
        EXPECT_NEAR(Units / fraction(stream["r_frame_rate"]), info.Scale, 1.0);
        EXPECT_NEAR(fraction(stream["r_frame_rate"]) * Units, query.Rate, 1.0);
        // 576 and 480 lines are interlaced; the DV decoder gives the lower field first.
        const bool dv = std::string(file.extension) == ".dv";
        EXPECT_EQ(std::tuple(info.Height == 576 || info.Height == 480, !dv), std::tuple(info.Interlaced, info.UpperFieldFirst));

        const std::vector<Bytes> frames = ffmpegPictures(file.path(), file.video, readerDib(info));
        const LONGLONG count = LONGLONG(frames.size()), rate = info.Rate, scale = info.Scale;
        std::vector<LONGLONG> order(count);
        std::iota(order.begin(), order.end(), 0);
        for (LONGLONG n : order)
            EXPECT_TRUE(frameIs(*reader, n, rate, scale, frames[n]));
        std::shuffle(order.begin(), order.end(), std::mt19937(3));
        for (LONGLONG n : order)
            EXPECT_TRUE(frameIs(*reader, n, rate, scale, frames[n]) && frameIs(*reader, n, rate, scale, frames[n]));
        // Past the end: the last frame.
        EXPECT_TRUE(frameIs(*reader, count + 5, rate, scale, frames.back()));
        // Another timeline: the file frame under the start of the frame's window.
        for (auto [timelineRate, timelineScale] : {std::pair(50, 1), std::pair(30000, 1001)})
            for (LONGLONG n = 0; GetParam().otherRates && n * timelineScale * Units / timelineRate < info.VideoDuration; n++) {
                const LONGLONG a = n * timelineScale * Units / timelineRate + scale / 8;
                EXPECT_TRUE(frameIs(*reader, n, timelineRate, timelineScale, frames[std::min(a / scale, count - 1)]));
            }
    }
}

INSTANTIATE_TEST_SUITE_P(OmbrixReader, OmbrixReaderFiles,
                         testing::Values(FileCase{"GraphH264Aac", false, true}, FileCase{"GraphWmv2Wma2", false, false},
                                         FileCase{"GraphWmv1", false, false}, FileCase{"GraphWma2", false, false},
                                         FileCase{"GraphFfv1Flac", true, true}, FileCase{"GraphMpeg4Pcm", true, false},
                                         FileCase{"GraphDvPal", true, false}, FileCase{"GraphDvNtsc", true, false},
                                         FileCase{"GraphFfv1LongPcm", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The first code of the list that fits connects, and its pictures are FFmpeg's; codes other than 1
// to 4 connect nothing, a list is cut after 128 codes, and a list of no codes is the default.
TEST(OmbrixReaderColors, ConnectsTheFirstCodeThatFitsAndDeliversIt)
{
    const MediaFile& file = mediaFile("GraphH264Aac");
    std::vector<unsigned char> rgb32Last(200, 0), rgb32Cut(200, 0);
    rgb32Last[127] = rgb32Cut[128] = 4;
    const struct {
        std::vector<unsigned char> list;
        unsigned char colorSpace;  // 0: no video
        bool bottomUp;
    } cases[] = {{{}, 1, false},        {{4}, 4, true},         {{3}, 3, true},
                 {{9, 2, 1}, 2, false}, {rgb32Last, 4, true}, {rgb32Cut, 0, false}};
    for (const auto& c : cases) {
        const auto reader = openReader(file.path(), c.list);
        const Ombrix_FileInfo& info = reader->GetInfo();
        EXPECT_EQ(std::tuple(false, c.colorSpace, c.colorSpace != 0, c.bottomUp),
                  std::tuple(reader->Error(), info.ColorSpace, info.HasVideo, info.BottomUp)) << int(c.colorSpace);
        if (info.HasVideo) {
            const Bytes frame = ffmpegPictures(file.path(), file.video, readerDib(info))[10];
            EXPECT_TRUE(frameIs(*reader, 10, 25, 1, frame)) << int(c.colorSpace);
        }
    }
    unsigned char rgb32 = 4;
    OmbrixReader none(const_cast<char*>(file.path().c_str()), false, false, &rgb32, 0, 0);
    EXPECT_EQ(1, none.GetInfo().ColorSpace);
}

TEST(GetFileInfo, MissingAndNonMediaFilesAreRefused)
{
    ScratchDir dir;
    Ombrix_FileInfo info;
    for (const std::string& path : {dir.path("missing.avi"), dir.write("text.avi", Bytes(5000, 'x'))})
        EXPECT_FALSE(Ombrix_GetFileInfo(const_cast<char*>(path.c_str()), info)) << path;
}

TEST(GetFileInfo, TwoThreadsGetTheirOwnFilesRecords)
{
    const std::string paths[] = {mediaFile("GraphH264Aac").path(), mediaFile("GraphWma2").path()};
    Ombrix_FileInfo alone[2];
    for (int i = 0; i < 2; i++)
        ASSERT_TRUE(Ombrix_GetFileInfo(const_cast<char*>(paths[i].c_str()), alone[i]));
    auto query = [&](int i) {
        for (int n = 0; n < 20; n++) {
            Ombrix_FileInfo info;
            EXPECT_TRUE(Ombrix_GetFileInfo(const_cast<char*>(paths[i].c_str()), info));
            EXPECT_EQ(described(alone[i]), described(info));
        }
    };
    const std::jthread other(query, 1);
    query(0);
}

}  // namespace
