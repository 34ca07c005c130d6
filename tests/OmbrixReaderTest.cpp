// The reader facade over real files: every frame as FFmpeg decodes it, in any order and at other
// timeline rates; audio windows exactly as the ffmpeg tool decodes lossless sources; the record
// against ffprobe; the colour list; the file information query; two threads on one reader.
#include <map>
#include <numeric>
#include <random>
#include <thread>

#include "OmbrixReaderSupport.h"
#include "ombrix/Ombrix_GetFileInfo.h"

namespace {

constexpr LONGLONG Units = 10000000;

// ffprobe's entries of one stream.
std::map<std::string, std::string> probe(const MediaFile& file, int stream)
{
    return ffprobeStreams(file.path(), "width,height,r_frame_rate,sample_rate,channels", stream).at(0);
}

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

class OmbrixReaderFiles : public testing::TestWithParam<FileCase> {};

TEST_P(OmbrixReaderFiles, RecordFramesAndAudio)
{
    const MediaFile& file = mediaFile(GetParam().name);
    const auto reader = openReader(file.path());
    ASSERT_FALSE(reader->Error());
    const Ombrix_FileInfo& info = reader->GetInfo();
    ASSERT_EQ(file.video >= 0, info.HasVideo);
    ASSERT_EQ(file.audio >= 0, info.HasAudio);
    const double seconds = std::max(ffprobeSeconds(file, std::max(file.video, 0)), ffprobeSeconds(file, std::max(file.audio, 0)));
    EXPECT_NEAR(seconds * Units, info.VideoDuration, Units / 25.0);
    EXPECT_EQ(info.VideoDuration, info.AudioDuration);
    const LONGLONG size = LONGLONG(std::filesystem::file_size(file.path()));
    EXPECT_EQ(size, info.FileSize);
    EXPECT_EQ(unsigned(size * 100 / (info.VideoDuration / 100000)), info.DataRate);
    if (info.HasVideo) {
        auto stream = probe(file, file.video);
        EXPECT_EQ(std::tuple(stoi(stream["width"]), stoi(stream["height"]), Units), std::tuple(info.Width, info.Height, LONGLONG(info.Rate)));
        EXPECT_NEAR(Units / fraction(stream["r_frame_rate"]), info.Scale, 1.0);
        // 576 and 480 lines are interlaced; the DV decoder gives the lower field first.
        const bool dv = std::string(file.extension) == ".dv";
        EXPECT_EQ(std::tuple(info.Height == 576 || info.Height == 480, !dv), std::tuple(info.Interlaced, info.UpperFieldFirst));

        const std::vector<Bytes> frames = expectedFrames(file, info);
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
    if (info.HasAudio) {
        auto stream = probe(file, file.audio);
        EXPECT_EQ(std::tuple(stoul(stream["sample_rate"]), stoul(stream["channels"]), 16u),
                  std::tuple(info.SampleRate, info.Channels, info.BitsPerSample));
        EXPECT_EQ(unsigned(LONGLONG(info.SampleRate) * info.AudioDuration / Units), info.NumSamples);
        if (GetParam().exactAudio)
            expectAudioWindows(*reader, toolDecode(file, false), 40, 5);
    }
}

INSTANTIATE_TEST_SUITE_P(OmbrixReader, OmbrixReaderFiles,
                         testing::Values(FileCase{"GraphH264Aac", false, true}, FileCase{"GraphWmv2Wma2", false, false},
                                         FileCase{"GraphWmv1", false, false}, FileCase{"GraphWma2", false, false},
                                         FileCase{"GraphFfv1Flac", true, true}, FileCase{"GraphMpeg4Pcm", true, false},
                                         FileCase{"GraphDvPal", true, false}, FileCase{"GraphDvNtsc", true, false},
                                         FileCase{"GraphFfv1LongPcm", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ColorCase {
    const char* what;
    std::vector<unsigned char> list;
    unsigned char colorSpace;  // 0: no video
    bool bottomUp;
};

std::vector<unsigned char> longList(size_t rgb32At)
{
    std::vector<unsigned char> list(200, 0);
    list[rgb32At] = 4;
    return list;
}

class OmbrixReaderColors : public testing::TestWithParam<ColorCase> {};

TEST_P(OmbrixReaderColors, ConnectsTheFirstCodeThatFitsAndDeliversIt)
{
    const MediaFile& file = mediaFile("GraphH264Aac");
    const auto reader = openReader(file.path(), GetParam().list);
    const Ombrix_FileInfo& info = reader->GetInfo();
    ASSERT_FALSE(reader->Error());
    ASSERT_EQ(GetParam().colorSpace, info.ColorSpace);
    EXPECT_EQ(GetParam().colorSpace != 0, info.HasVideo);
    EXPECT_EQ(GetParam().bottomUp, info.BottomUp);
    if (info.HasVideo) {
        EXPECT_TRUE(frameIs(*reader, 10, 25, 1, expectedFrames(file, info)[10]));
    }
}

// Codes other than 1 to 4 connect nothing; a list is cut after 128 codes.
INSTANTIATE_TEST_SUITE_P(OmbrixReader, OmbrixReaderColors,
                         testing::Values(ColorCase{"Default", {}, 1, false}, ColorCase{"Rgb32", {4}, 4, true},
                                         ColorCase{"Rgb24", {3}, 3, true}, ColorCase{"Yuy2First", {9, 2, 1}, 2, false},
                                         ColorCase{"Rgb32Last", longList(127), 4, true},
                                         ColorCase{"Rgb32Cut", longList(128), 0, false}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(OmbrixReaderColorList, EmptyListIsTheDefault)
{
    unsigned char none = 4;
    OmbrixReader reader(const_cast<char*>(mediaFile("GraphH264Aac").path().c_str()), false, false, &none, 0, 0);
    EXPECT_EQ(1, reader.GetInfo().ColorSpace);
}

// A name far longer than 260 characters opens the file it names.
TEST(OmbrixReaderNames, LongNamesAreTakenWhole)
{
    const MediaFile& file = mediaFile("GraphMpeg4Pcm");
    ScratchDir dir;
    std::filesystem::create_directory(dir.path(std::string(200, 'd')));
    const std::string path = dir.path(std::string(200, 'd') + "/" + std::string(120, 'n') + ".avi");
    std::filesystem::create_symlink(file.path(), path);
    const auto reader = openReader(path);
    ASSERT_FALSE(reader->Error());
    EXPECT_EQ(path, reader->GetFileName());
    EXPECT_TRUE(frameIs(*reader, 3, 25, 1, expectedFrames(file, reader->GetInfo())[3]));
    Ombrix_FileInfo info;
    EXPECT_TRUE(Ombrix_GetFileInfo(const_cast<char*>(path.c_str()), info));
    EXPECT_EQ(reader->GetInfo().FileSize, info.FileSize);
}

// Each stream moves on its own: a seek or a read forward for one never takes the other's sample.
TEST(OmbrixReaderThreads, VideoAndAudioAtOnceStayExact)
{
    const MediaFile& file = mediaFile("GraphFfv1Flac");
    const auto reader = openReader(file.path());
    ASSERT_FALSE(reader->Error());
    const std::vector<Bytes> frames = expectedFrames(file, reader->GetInfo());
    const Bytes pcm = toolDecode(file, false);
    std::thread video([&] {
        std::vector<LONGLONG> order(frames.size());
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), std::mt19937(11));
        for (LONGLONG n : order)
            EXPECT_TRUE(frameIs(*reader, n, 25, 1, frames[n]));
    });
    expectAudioWindows(*reader, pcm, 60, 13);
    video.join();
}

// What is compared of a file information record.
auto described(const Ombrix_FileInfo& i)
{
    return std::tuple(i.HasVideo, i.VideoDuration, i.Rate, i.Scale, i.HasAudio, i.AudioDuration, i.FileSize, i.DataRate,
                      i.Width + i.Height + i.SampleRate + i.Channels + i.NumSamples + i.ColorSpace);
}

class GetFileInfoFiles : public testing::TestWithParam<const char*> {};

TEST_P(GetFileInfoFiles, DescribesTheStreamsAndTheFile)
{
    const MediaFile& file = mediaFile(GetParam());
    Ombrix_FileInfo info;
    info.Width = 7;
    ASSERT_TRUE(Ombrix_GetFileInfo(const_cast<char*>(file.path().c_str()), info));
    ASSERT_EQ(std::tuple(file.video >= 0, file.audio >= 0), std::tuple(info.HasVideo, info.HasAudio));
    double longest = 0;
    for (auto [stream, duration] : {std::pair(file.video, info.VideoDuration), std::pair(file.audio, info.AudioDuration)})
        if (stream >= 0) {
            longest = std::max(longest, duration / double(Units));
            EXPECT_NEAR(ffprobeSeconds(file, stream) * Units, duration, Units / 100.0) << stream;
        }
    if (info.HasVideo) {
        EXPECT_NEAR(fraction(probe(file, file.video)["r_frame_rate"]) * Units, info.Rate, 1.0);
        EXPECT_EQ(unsigned(Units), info.Scale);
    }
    const LONGLONG size = LONGLONG(std::filesystem::file_size(file.path()));
    EXPECT_EQ(size, info.FileSize);
    EXPECT_NEAR(size / longest, info.DataRate, 1.0);
    EXPECT_EQ(0, std::get<8>(described(info)));
}

INSTANTIATE_TEST_SUITE_P(GetFileInfo, GetFileInfoFiles,
                         testing::Values("GraphH264Aac", "GraphWmv2Wma2", "GraphWma2", "GraphWmv1", "GraphDvPal"));

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
    std::thread other(query, 1);
    query(0);
    other.join();
}

}  // namespace
