// The AVI reader on files written by the ffmpeg and mencoder tools: frames against FFmpeg's own
// decoding put through the decompressors' libswscale conversion, PCM against the tool's decoding,
// and the start/release lifecycle, alone and from several threads.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <numeric>
#include <random>
#include <thread>

#include "FourKilobyteDevice.h"
#include "GraphMediaFiles.h"
#include "InChild.h"
#include "RiffBuilder.h"
#include "ombrix/AVIReader.h"

namespace {

struct Clip {
    const char* name;
    std::string command;
    unsigned char colorSpace = 1;
    bool bottomUp = false;
    unsigned bits = 16;
    int dropped = -1, drops = 0;  // the first of `drops` frames written as empty chunks: they show the one before
};
void PrintTo(const Clip& clip, std::ostream* out) { *out << clip.name; }

const std::string qcif = testsrc("176x144", "25"), stereo = lavfi(
    "aevalsrc=0.6*sin(2*PI*440*t)|0.5*sin(2*PI*1000*t)+0.2*random(0):s=44100");
const Clip rawUyvy = {"ReaderUyvy", ffmpeg(qcif, "-frames:v 10 -c:v rawvideo -pix_fmt uyvy422")};
// 40 frames, P-frames in GOPs of 12, and PCM stereo beside them.
const Clip mpeg4 = {"ReaderMpeg4Pcm", ffmpeg(qcif + stereo, "-t 1.6 -c:v mpeg4 -g 12 -bf 0 -c:a pcm_s16le -ac 2")};
// Type-2 DV: the audio is a PCM stream of its own.
const Clip dvPal = {"ReaderDvPal", ffmpeg(testsrc("720x576", "25") + stereo,
                                          "-t 0.48 -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ar 48000 -ac 2")};
// Re-encoded by mencoder ("{src}": an MJPEG and PCM clip), which writes its PCM chunks ahead of the video.
const Clip mencoder = {"ReaderMencoderMpeg4Pcm",
                       "mencoder {src} -really-quiet -ovc lavc -lavcopts vcodec=mpeg4:keyint=12 -oac pcm -o {out}"};
// A-law, decoded through the compressed-audio path to 8-bit PCM, as long as the stream is.
const Clip alaw = {"ReaderMpeg4Alaw", ffmpeg(qcif + stereo, "-t 1.7 -c:v mpeg4 -g 12 -bf 0 -c:a pcm_alaw -ac 2"), 1, false, 8};
// MP3 alone, one frame a chunk; and mencoder's, whose frames run across chunks.
const Clip mp3 = {"ReaderMp3AudioOnly", ffmpeg(stereo, "-t 1.3 -c:a libmp3lame -b:a 128k"), 0};
const Clip mencoderMp3 = {"ReaderMencoderMp3",
                          "mencoder {src} -really-quiet -ovc copy -oac mp3lame -lameopts cbr:br=96 -o {out}"};
const Clip pcm8 = {"ReaderMjpegPcmU8", ffmpeg(qcif + stereo, "-t 1 -c:v mjpeg -c:a pcm_u8 -ac 2"), 1, false, 8};
// 24-bit PCM, which the ffmpeg tool stores as WAVE_FORMAT_EXTENSIBLE.
const Clip pcm24 = {"ReaderMjpegPcm24", ffmpeg(qcif + stereo, "-t 1 -c:v mjpeg -c:a pcm_s24le -ac 2"), 1, false, 24};
// The audio stream before the video stream: each takes its rate and length from its own header.
const Clip audioFirst = {"ReaderAudioBeforeVideo",
                         ffmpeg(qcif + stereo, "-map 1:a -map 0:v -t 2.4 -c:v mjpeg -c:a pcm_s16le")};
const Clip clips[] = {
    {"ReaderBgr24BottomUp", ffmpeg(qcif, "-frames:v 10 -vf vflip -c:v rawvideo -pix_fmt bgr24 -flipped_raw_rgb 1"), 3, true},
    // The ffmpeg tool's own raw RGB: top-down rows, a negative height.
    {"ReaderBgr24TopDown", ffmpeg(qcif, "-frames:v 10 -c:v rawvideo -pix_fmt bgr24"), 3, false},
    {"ReaderBgraBottomUp", ffmpeg(qcif, "-frames:v 10 -vf vflip -c:v rawvideo -pix_fmt bgra -flipped_raw_rgb 1"), 4, true},
    rawUyvy, {"ReaderYuy2", ffmpeg(qcif, "-frames:v 10 -c:v rawvideo -pix_fmt yuyv422"), 2, false},
    {"ReaderMjpeg", ffmpeg(qcif, "-frames:v 10 -c:v mjpeg")}, mpeg4, dvPal,
    {"ReaderHuffyuv", ffmpeg(qcif, "-frames:v 10 -c:v huffyuv")},
    {"ReaderFfv1", ffmpeg(qcif, "-frames:v 10 -c:v ffv1 -g 4")},
    {"ReaderCinepak", ffmpeg(qcif, "-frames:v 10 -c:v cinepak"), 1, true}, mencoder, audioFirst,
    // Open groups: the B-frames after each key frame are shown before it and refer to the group
    // before. The decoder holds one picture back (H.264 with B-pyramids two), shown in display order.
    {"ReaderMpeg4BFrames", ffmpeg(qcif, "-frames:v 30 -c:v mpeg4 -g 8 -bf 2")},
    {"ReaderH264BFrames", ffmpeg(qcif, "-frames:v 40 -c:v libx264 -g 12 -bf 3 -pix_fmt yuv420p")},
    // Frames 5 and 6 left out: the muxer fills the gap with empty chunks inside a run of P-frames.
    {"ReaderMpeg4Dropped", ffmpeg(qcif, "-frames:v 20 -vf select='not(between(n\\,5\\,6))' -vsync passthrough -c:v mpeg4 "
                                        "-g 12 -bf 0"), 1, false, 16, 5, 2}};

std::string fileOf(const Clip& clip)
{
    std::string command = clip.command;
    if (size_t at = command.find("{src}"); at != std::string::npos)
        command.replace(at, 5, quote(make("ReaderSource", ".avi", ffmpeg(qcif + stereo, "-t 1.6 -c:v mjpeg -c:a pcm_s16le -ac 2"))));
    return make(clip.name, ".avi", command);
}

// A reader on a file, with what FFmpeg makes of the file for comparison.
struct Opened {
    explicit Opened(const std::string& path, bool noVideo = false, bool noAudio = true)
        : path(path), reader(new AVIReader(this->path.data(), &info, noVideo, noAudio)) {}
    // A file of these bytes, in a folder of its own.
    explicit Opened(const Bytes& image, bool noVideo = false, bool noAudio = true, const char* name = "file.avi")
        : path(dir.write(name, image)), reader(new AVIReader(path.data(), &info, noVideo, noAudio)) {}
    // FFmpeg's pictures of the stream served, its last video stream.
    std::vector<Bytes> frames() { return ffmpegPictures(path, -1, readerDib(info), 0, info.BottomUp); }
    // 8-bit PCM is unsigned, wider signed.
    Bytes pcm()
    {
        const std::string format = info.BitsPerSample == 8 ? "u8" : "s" + std::to_string(info.BitsPerSample) + "le";
        return readFile(make("ReaderPcm" + hexHash(path), ".raw", ffmpeg("-i " + quote(path) + " ", "-vn -f " + format)));
    }
    size_t block() const { return size_t(info.Channels) * info.BitsPerSample / 8; }

    // An empty string when the reader hands out the expected image of timeline frame `frame`.
    std::string checkFrame(long long frame, const Bytes& expected, bool single = false, long long rate = 0, long long scale = 1)
    {
        unsigned char* got = reader->LoadVideoFrame(frame, rate ? rate : info.Rate, rate ? scale : info.Scale, single);
        if (!got)
            return "frame " + std::to_string(frame) + ": null";
        const bool same = std::equal(expected.begin(), expected.end(), got);
        reader->ReleaseVideoFrame(got);
        return same ? "" : "frame " + std::to_string(frame) + " differs";
    }
    // The same for the sample frames [start, start + count).
    std::string checkSamples(const Bytes& pcm, unsigned start, unsigned count)
    {
        Bytes got(size_t(count) * block() + 16, 0xA5);
        const std::string where = " at " + std::to_string(start) + "+" + std::to_string(count);
        if (!reader->LoadAudioSamples(got.data(), start, count, false))
            return "refused" + where;
        if (std::count(got.end() - 16, got.end(), 0xA5) != 16)
            return "written past the end" + where;
        return std::equal(got.begin(), got.end() - 16, pcm.begin() + size_t(start) * block()) ? "" : "differs" + where;
    }

    ScratchDir dir;  // before the path made in it
    std::string path;
    Ombrix_FileInfo info;
    std::unique_ptr<AVIReader> reader;
};

class AVIReaderFrames : public testing::TestWithParam<Clip> {};

TEST_P(AVIReaderFrames, ShuffledSequentialAndSingleFrameRequestsMatchFFmpeg)
{
    Opened file(fileOf(GetParam()));
    ASSERT_TRUE(file.reader->GetIsValidAVIFile());
    EXPECT_EQ(std::tuple(file.info.ColorSpace, file.info.BottomUp, file.info.Height > 0),
              std::tuple(GetParam().colorSpace, GetParam().bottomUp, true));
    std::vector<Bytes> expected = file.frames();
    if (GetParam().dropped >= 0)
        expected.insert(expected.begin() + GetParam().dropped, GetParam().drops, expected[GetParam().dropped - 1]);
    ASSERT_EQ(expected.size(), file.info.NumFrames);
    std::vector<unsigned> order(expected.size());
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (size_t i = 0; i < expected.size(); i += 5)
        order.insert(order.begin() + i, order[i]);  // the same frame twice in a row
    for (unsigned frame = 0; frame < expected.size(); frame++)
        order.push_back(frame);
    for (unsigned frame : order)
        EXPECT_EQ(file.checkFrame(frame, expected[frame]), "");
    // Backwards, each frame read and decoded anew; the first is the frame the pass above ended on.
    for (unsigned frame = unsigned(expected.size()); frame-- > 0;)
        EXPECT_EQ(file.checkFrame(frame, expected[frame], true), "") << "single frame";
}

INSTANTIATE_TEST_SUITE_P(AVIReader, AVIReaderFrames, testing::ValuesIn(clips),
                         [](const auto& info) { return std::string(info.param.name); });

// On storage of 4096-byte sectors every read keeps to them: frames and audio as on any disk.
// Reads off that grid fail there, and a reader that made them serves nothing rather than zeros.
TEST(AVIReaderFourKilobyteSectors, FramesAndAudioAsOnAnyDisk)
{
    for (const Clip& clip : {rawUyvy, mpeg4, dvPal}) {
        SCOPED_TRACE(clip.name);
        {
            OnFourKilobyteDevice device(4096);
            Opened file(fileOf(clip), false, false);
            ASSERT_TRUE(file.reader->GetIsValidAVIFile());
            const std::vector<Bytes> expected = file.frames();
            for (unsigned frame : {3u, 4u, 0u, 9u, 5u})
                EXPECT_EQ(file.checkFrame(frame, expected[frame]), "");
            const Bytes pcm = file.info.HasAudio ? file.pcm() : Bytes();
            for (unsigned start : {0u, 1001u, 777u, 12345u})
                EXPECT_TRUE(pcm.empty() || file.checkSamples(pcm, start, 1500).empty()) << start;
        }
        OnFourKilobyteDevice misjudged(512);
        Opened file(fileOf(clip), false, false);
        EXPECT_FALSE(file.reader->GetIsValidAVIFile());
    }
}

// An OpenDML file over a GiB whose served video (its last video stream) is MPEG-4 with B-frames:
// key frames come from its standard indexes. A partial copy of it has lost the indexes of its
// second segment: its index is rebuilt and its key frames told from the MPEG-4 data. Both serve
// every frame they hold as FFmpeg decodes the whole file, in any order; the copy's last few are
// shown without the chunks the copy lost and are not compared.
TEST(AVIReaderOpenDml, KeyFramesFromTheIndexesOrTheCodecsData)
{
    const std::string whole = make("OpenDmlTitled", ".avi", openDmlTitled());
    std::string cut = firstBytes(1150000000);
    cut.replace(cut.find("{src}"), 5, quote(whole));
    std::vector<Bytes> expected;
    for (const std::string& path : {whole, make("OpenDmlTitledCut", ".avi", cut)}) {
        SCOPED_TRACE(path);
        Opened file(path);
        ASSERT_TRUE(file.reader->GetIsValidAVIFile());
        if (expected.empty())
            expected = file.frames();
        const unsigned frames = path == whole ? file.info.NumFrames : file.info.NumFrames - 3;
        ASSERT_TRUE(path != whole || frames == expected.size());
        std::mt19937 random(path == whole ? 1 : 2);
        for (int i = 0; i < 60; i++) {
            const unsigned frame = random() % frames;
            EXPECT_EQ(file.checkFrame(frame, expected[frame]), "");
        }
    }
}

class AVIReaderAudio : public testing::TestWithParam<Clip> {};

// Random windows, requests of assorted sizes that continue each other, and the bounds, all as
// the ffmpeg tool decodes the file. DV frames have no bound: a request past the last frame is
// completed from that frame's audio.
void checkAudio(Opened& file, unsigned bits, bool bounded = true)
{
    ASSERT_TRUE(file.reader->GetIsValidAVIFile());
    EXPECT_TRUE(file.info.HasAudio && !file.info.HasVideo && file.info.Channels == 2 && file.info.BitsPerSample == bits);
    const Bytes pcm = file.pcm();
    const unsigned n = file.info.NumSamples;
    ASSERT_EQ(size_t(n) * file.block(), pcm.size());
    std::mt19937 random(11);
    for (int i = 0; i < 60; i++) {
        const unsigned count = std::uniform_int_distribution<unsigned>(1, std::min(n, 9000u))(random);
        EXPECT_EQ(file.checkSamples(pcm, std::uniform_int_distribution<unsigned>(0, n - count)(random), count), "");
    }
    const unsigned sizes[] = {1, 1152, 7, 4000, 1601, 2, 8192};
    for (unsigned start = 0, i = 0, count; start < n; start += count, i++)
        EXPECT_EQ(file.checkSamples(pcm, start, count = std::min(sizes[i % std::size(sizes)], n - start)), "");
    EXPECT_EQ(file.checkSamples(pcm, n - 10, 10) + file.checkSamples(pcm, 0, n), "");
    Bytes room(size_t(n + 1) * file.block());
    for (const auto& [start, count] : {std::pair{n - 10, 11u}, {0u, n + 1}, {n, 1u}})
        EXPECT_NE(file.reader->LoadAudioSamples(room.data(), start, count, false), bounded) << start << "+" << count;
}

TEST_P(AVIReaderAudio, RandomAndSequentialWindowsMatchFFmpeg)
{
    Opened file(fileOf(GetParam()), true, false);
    checkAudio(file, GetParam().bits);
}

// Type-1 DV (the audio inside the frames of one "iavs" stream), from the ffmpeg tool's frames:
// PAL, 1920 samples a frame, and NTSC, whose frames carry 1600 or 1602; the file also describes
// an audio stream of its own with no chunks.
TEST(AVIReaderAudio, DVFramesCarryTheAudio)
{
    for (const auto& [name, size, rate, pal] : {std::tuple{"ReaderDvRaw", "720x576", "25", true},
                                                {"ReaderDvNtscRaw", "720x480", "30000/1001", false}}) {
        const std::string dv = make(name, ".dv", ffmpeg(testsrc(size, rate) + stereo,
                                                         "-t 1.2 -c:v dvvideo -pix_fmt yuv411p -ar 48000 -ac 2 -f dv"));
        // A second audio stream, of a format whose blocks are 3 bytes, does not change the DV audio's.
        AviLayout layout = dvType1(packets(dv, AVMEDIA_TYPE_VIDEO), pal);
        layout.streams.push_back({{.fccType = FCC("auds"), .dwScale = 3, .dwRate = 22050 * 3, .dwSampleSize = 3},
                                  bytesOf(waveFormat(WAVE_FORMAT_PCM, 1, 22050, 24))});
        layout.avih.dwStreams = 2;
        Opened file(buildAvi(layout).image, true, false);
        SCOPED_TRACE(name);
        checkAudio(file, 16, false);
    }
}

INSTANTIATE_TEST_SUITE_P(AVIReader, AVIReaderAudio, testing::Values(mpeg4, dvPal, mencoder, alaw, pcm8, pcm24, mp3, mencoderMp3,
                                                                  audioFirst),
                         [](const auto& info) { return std::string(info.param.name); });

// The parent's reader is deleted only when the child's deletion returned.
void expectDeletes(std::unique_ptr<AVIReader>& reader)
{
    expectInChild([&] { return reader.reset(), true; }, "the destructor does not return");
    if (testing::Test::HasFailure())
        reader.release();
}

// Only names ending in .avi or .wav are read. 16-bit RGB has no colour space code: the parser
// takes the file, the reader is invalid, and a start of it is closed by its destructor.
TEST(AVIReaderLifecycle, InvalidReaders)
{
    const Bytes image = readFile(fileOf(rawUyvy));
    for (const auto& [name, valid] : {std::pair{"clip.mov", false}, {"clip", false}, {"clip.AVI", true}, {"clip.avi", true}}) {
        Opened file(image, false, true, name);
        EXPECT_EQ(file.reader->GetIsValidAVIFile(), valid) << name;
        EXPECT_EQ(file.checkFrame(0, {}).empty(), valid) << name;
    }
    // With PCM beside it: the audio decoder was never made.
    Opened file(make("ReaderRgb555", ".avi", ffmpeg(testsrc("64x48", "25") + stereo,
                                                    "-t 0.12 -c:v rawvideo -pix_fmt rgb555le -c:a pcm_s16le")), false, false);
    ASSERT_FALSE(file.reader->GetIsValidAVIFile());
    expectInChild([&] { return file.reader->AddStart(), file.reader->AddStart(), true; }, "a start of an invalid reader");
    file.reader->AddStart(), file.reader->AddStart();
    file.reader->ReleaseStart();  // ignored: the reader is not valid
    expectDeletes(file.reader);
}

// A chunk larger than the read buffers grows both; when memory runs out half way, every video
// buffer is let go and the next frame starts from fresh ones, never from the half that was made.
TEST(AVIReaderLifecycle, ReadBuffersThatCannotGrow)
{
#ifdef OMBRIX_TESTS_ASAN
    GTEST_SKIP() << "an address-space limit and AddressSanitizer's shadow memory do not go together";
#endif
    const BITMAPINFOHEADER rgb = {40, 64, 48, 1, 24, BI_RGB};
    AviLayout layout = videoAndAudio({{videoChunk(9216), videoChunk(3 << 20), videoChunk(9216), videoChunk(9216),
                                       videoChunk(9216)}});
    layout.streams[0] = {{.fccType = FCC("vids"), .dwScale = 1, .dwRate = 25, .dwLength = 5}, bytesOf(rgb)};
    Opened file(buildAvi(layout).image);
    ASSERT_TRUE(file.reader->GetIsValidAVIFile());
    expectInChild([&] {
        rlimit limit;
        getrlimit(RLIMIT_AS, &limit);
        // Room for one grown buffer (3 MiB, with the 2 MiB a huge-page block may need to align), not two.
        const rlimit room = {rlim_t(StatusKB("VmSize") * 1024 + (7 << 20)), limit.rlim_max};
        setrlimit(RLIMIT_AS, &room);
        const bool refused = !file.reader->LoadVideoFrame(1, 25, 1, false);
        setrlimit(RLIMIT_AS, &limit);
        bool served = refused;
        for (long long frame : {2, 3, 4, 1, 0}) {  // in sequence, each read ahead into the other buffer
            unsigned char* image = file.reader->LoadVideoFrame(frame, 25, 1, false);
            served = served && image && image[0] == 0x56;
            file.reader->ReleaseVideoFrame(image);
        }
        return served;
    }, "frames after a growth that failed");
}

// A message thrown from inside a load (a chunk no buffer can hold) leaves nothing held: loads,
// releases and the destructor go on. A suggested buffer smaller than the chunks is only a hint.
TEST(AVIReaderLifecycle, MessagesThrownFromLoadsAndSuggestedSizesTooSmall)
{
    Bytes image = readFile(fileOf(mp3));
    const std::string text(image.begin(), image.end());
    for (const size_t at : {text.find("strh") + 8 + 36, text.find("avih") + 8 + 28})
        memcpy(&image[at], "\1\0\0\0", 4);  // dwSuggestedBufferSize 1, in the stream header and the main header
    Opened small(image, true, false);
    EXPECT_EQ(small.checkSamples(small.pcm(), 0, small.info.NumSamples), "");

    AviLayout layout = videoAndAudio({{videoChunk(100), audioChunk(4000), videoChunk(100), audioChunk(4000)}});
    layout.streams[1].second = bytesOf(waveFormat(6, 2, 48000, 8));  // A-law
    BuiltAvi built = buildAvi(layout);
    built.patch(built.find("idx1") + 8 + 16 + 12, DWORD(0x7FFFFFF0));  // the first audio chunk's size
    Opened damaged(built.image, false, false);
    ASSERT_TRUE(damaged.reader->GetIsValidAVIFile() && damaged.info.HasAudio);
    Bytes pcm(400);
    EXPECT_THROW(damaged.reader->LoadAudioSamples(pcm.data(), 0, 100, false), const char*);
    expectInChild([&] {
        try {
            damaged.reader->LoadAudioSamples(pcm.data(), 0, 100, false);
        } catch (const char*) {
        }
        damaged.reader->ReleaseVideoFrame(damaged.reader->LoadVideoFrame(1, 25, 1, false));  // no picture in it
        damaged.reader->ReleaseStart();
        damaged.reader.reset();
        return true;
    }, "loads after a thrown message");
}

// Hand-made files: an empty chunk shows the frame before it whether it is reached in order or
// directly; a stored picture is whole in memory even when the file claims no size for it and its
// chunks are short; a picture too large to hold, or of no width, is refused; PCM is counted by its
// bytes whatever the stream header says, and not served when its blocks are not samples.
TEST(AVIReaderLifecycle, EmptyChunksShortChunksAndUnusablePictureSizes)
{
    std::vector<AviChunk> chunks;
    for (const std::string at : {"0", "0.2", "", "0.4"}) {
        const std::string jpeg = ffmpeg(testsrc("64x48", "25"), "-ss " + at + " -frames:v 1 -f image2");
        chunks.push_back({"00dc", at.empty() ? Bytes{} : readFile(make("ReaderJpeg" + at, ".jpg", jpeg))});
    }
    chunks.push_back(audioChunk(4000));
    for (const bool openDml : {false, true}) {
        AviLayout layout = videoAndAudio({chunks});
        layout.superIndex = openDml;
        layout.dmlhFrames = openDml ? 4 : 0;
        Opened jpegs(buildAvi(layout).image);
        ASSERT_TRUE(jpegs.reader->GetIsValidAVIFile());
        std::vector<Bytes> expected = jpegs.frames();  // FFmpeg skips the empty chunk
        ASSERT_EQ(expected.size(), 3u);
        expected.insert(expected.begin() + 2, expected[1]);
        for (long long frame : {2, 3, 1, 2, 0, 1, 2})
            EXPECT_EQ(jpegs.checkFrame(frame, expected[frame]), "") << (openDml ? "OpenDML" : "idx1");
    }

    AviLayout stored = videoAndAudio({{videoChunk(100), videoChunk(100), audioChunk(4000)}});
    auto& [header, format] = stored.streams[0];
    header.fccHandler = 0;
    format = bytesOf(BITMAPINFOHEADER{40, 640, 480, 1, 24, BI_RGB});
    Opened shortChunks(buildAvi(stored).image);
    ASSERT_TRUE(shortChunks.reader->GetIsValidAVIFile());
    for (long long frame : {0, 1}) {
        const unsigned char* image = shortChunks.reader->LoadVideoFrame(frame, 25, 1, false);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(std::accumulate(image, image + 100, 0u), 100u * 0x56);
        EXPECT_GE(std::accumulate(image, image + 640 * 480 * 3, 0ull), 100u * 0x56);  // all of it readable
        shortChunks.reader->ReleaseVideoFrame((unsigned char*)image);
    }
    // A compressed chunk that runs past the end of the file is decoded from what the file holds
    // of it: an I420 picture cut short is refused, not made up from memory no read filled.
    const DWORD i420 = 64 * 48 * 3 / 2;
    AviLayout raw = videoAndAudio({{videoChunk(i420), videoChunk(i420)}});
    raw.streams[0].first.fccHandler = FCC("I420");
    raw.streams[0].second = bytesOf(BITMAPINFOHEADER{40, 64, 48, 1, 12, FCC("I420"), i420});
    raw.idx1 = Idx1::Absolute;
    BuiltAvi cut = buildAvi(raw);
    cut.patch(cut.find("idx1") + 8 + 16 + 8, DWORD(cut.image.size() - i420 / 2 - 8));  // the second chunk's header
    Opened past(cut.image);
    ASSERT_TRUE(past.reader->GetIsValidAVIFile());
    for (const auto& [frame, whole] : {std::pair{0, true}, {1, false}})
        EXPECT_EQ(past.checkFrame(frame, {}).empty(), whole) << frame;

    for (const auto& [width, height] : {std::pair{100000, 100000}, {-64, 48}, {64, 0}}) {
        format = bytesOf(BITMAPINFOHEADER{40, width, height, 1, 24, BI_RGB});
        Opened unusable(buildAvi(stored).image);
        EXPECT_FALSE(unusable.reader->GetIsValidAVIFile()) << width << "x" << height;
    }
    // PCM whose stream header states no sample size is still counted by its bytes, up to an empty last chunk.
    AviLayout sizeless = videoAndAudio({{videoChunk(100), audioChunk(4000), audioChunk(4000), audioChunk(0)}});
    sizeless.streams[1].first.dwSampleSize = 0;
    Opened counted(buildAvi(sizeless).image, true, false);
    ASSERT_EQ(counted.info.NumSamples, 2000u);
    Bytes samples(8000 + 4);
    expectInChild([&] { return counted.reader->LoadAudioSamples(samples.data(), 0, 2000, false); }, "all of the audio");
    EXPECT_TRUE(counted.reader->LoadAudioSamples(samples.data(), 0, 2000, false));
    EXPECT_EQ(std::count(samples.begin(), samples.end(), 0x41), 8000);
    EXPECT_FALSE(counted.reader->LoadAudioSamples(samples.data(), 1, 2000, false));
    // PCM whose block is not one sample of its channels is not served, nor loaded into a buffer
    // sized by the record.
    format = bytesOf(BITMAPINFOHEADER{40, 64, 48, 1, 24, BI_RGB});
    for (const auto& [channels, bits, align] : {std::tuple{2, 16, 6}, {1, 17, 2}}) {
        WAVEFORMATEX skewed = waveFormat(WAVE_FORMAT_PCM, WORD(channels), 48000, WORD(bits));
        skewed.nBlockAlign = WORD(align);
        stored.streams[1].second = bytesOf(skewed);
        Opened pcm(buildAvi(stored).image, false, false);
        Bytes room(64);
        EXPECT_EQ(std::tuple(pcm.reader->GetIsValidAVIFile(), pcm.info.HasAudio,
                             pcm.reader->LoadAudioSamples(room.data(), 0, 1, false)),
                  std::tuple(true, false, false)) << bits << " bits";
    }
}

TEST(AVIReaderLifecycle, MapsTimelineFramesAndFailsLoadsAtOnceWhenNothingServesThem)
{
    Opened file(readFile(fileOf(mpeg4)), false, false);
    ASSERT_TRUE(file.reader->GetIsValidAVIFile());
    const std::vector<Bytes> expected = file.frames();
    const Bytes pcm = file.pcm();
    ASSERT_EQ(expected.size(), 40u);
    // A 25/1 file on a 30000/1001 timeline: 30 * 1001 / 30000 * 25 = 25.025, and 31 gives 25.859.
    EXPECT_EQ(file.checkFrame(30, expected[25], false, 30000, 1001), "");
    EXPECT_EQ(file.checkFrame(31, expected[25], false, 30000, 1001), "");
    // Past the end: the last frame, found at once; a timeline of no rate, or a frame before the start: none.
    expectInChild([&] { return file.checkFrame(1ll << 40, expected.back()).empty(); }, "a frame far past the end");
    for (const auto& [frame, rate, scale] : {std::tuple{5ll, 0ll, 1ll}, {5ll, 25ll, 0ll}, {-1ll, 25ll, 1ll}})
        EXPECT_EQ(file.reader->LoadVideoFrame(frame, rate, scale, false), nullptr) << frame << " at " << rate << "/" << scale;
    EXPECT_EQ(file.checkFrame(7, expected[7]), "");
    for (int round = 0; round < 3; round++) {
        file.reader->ReleaseStart();  // use count 0: closed
        if (round == 2) {
            std::filesystem::rename(file.path, file.path + ".gone");
            file.reader->AddStart();  // fails: the use count stays 1, the gates held
        }
        EXPECT_EQ(file.reader->LoadVideoFrame(3, 25, 1, false), nullptr);
        EXPECT_NE(file.checkSamples(pcm, 0, 1000), "");
        if (round < 2) {
            file.reader->AddStart();
            EXPECT_EQ(file.checkFrame(3 + round, expected[3 + round]), "");
            EXPECT_EQ(file.checkSamples(pcm, 500, 1000), "");
        }
    }
    expectDeletes(file.reader);
    for (const bool noVideo : {true, false}) {
        Opened one(fileOf(mpeg4), noVideo, !noVideo);
        EXPECT_EQ(one.checkFrame(0, expected[0]).empty(), !noVideo);
        EXPECT_EQ(one.checkSamples(pcm, 0, 100).empty(), noVideo);
    }
}

TEST(AVIReaderLifecycle, BuffersFreedWithAReadAheadInFlightServeTheNextFrames)
{
    // A copy whose idx1 marks no key frame, so that the reader has no key-frame table.
    Bytes image = readFile(fileOf(rawUyvy));
    const size_t idx1 = std::string(image.begin(), image.end()).rfind("idx1");
    ASSERT_NE(idx1, std::string::npos);
    for (size_t at = idx1 + 8 + 4; at + 4 <= image.size(); at += 16)
        image[at] &= ~uint8_t(AVIIF_KEYFRAME);
    MessageLog log;
    Opened file(image);
    ASSERT_TRUE(file.reader->GetIsValidAVIFile());
    const std::vector<Bytes> expected = file.frames();
    ASSERT_GE(expected.size(), 8u);
    // 1 comes from the buffer read ahead and starts reading 2 ahead, and so on.
    for (unsigned frame : {0u, 1u, 2u})
        EXPECT_EQ(file.checkFrame(frame, expected[frame], frame == 2), "");
    EXPECT_TRUE(log.has("AVIReader::ReleaseVideoFrame releasing video buffer frame (Aud=0) " + file.path + "\n"));
    for (unsigned frame : {3u, 4u})
        EXPECT_EQ(file.checkFrame(frame, expected[frame]), "");
    file.reader->ReleaseStart();  // 5 is being read ahead
    file.reader->AddStart();
    for (unsigned frame : {5u, 6u, 7u, 2u})
        EXPECT_EQ(file.checkFrame(frame, expected[frame]), "");
}

TEST(AVIReaderThreads, VideoAudioAndStartsFromSeveralThreadsBesideASecondReader)
{
    Opened file(fileOf(mpeg4), false, false);
    ASSERT_TRUE(file.reader->GetIsValidAVIFile());
    const std::vector<Bytes> expected = file.frames();
    const Bytes pcm = file.pcm();
    std::atomic<int> faults = 0;
    const auto fault = [&](const std::string& text) { faults += !text.empty() && fprintf(stderr, "%s\n", text.c_str()); };
    expectInChild([&] {
        std::vector<std::thread> threads;
        threads.emplace_back([&, random = std::mt19937(5)]() mutable {
            for (int i = 0; i < 300; i++) {
                const unsigned count = 1 + random() % 3000;
                fault(file.checkSamples(pcm, random() % (file.info.NumSamples - count), count));
            }
        });
        Opened second(file.path, false, false);
        for (Opened* reader : {&file, &second})
            threads.emplace_back([&, reader, random = std::mt19937(reader == &file ? 3 : 9)]() mutable {
                for (int i = 0; i < 100; i++) {
                    const unsigned frame = random() % expected.size();
                    fault(reader->checkFrame(frame, expected[frame]) + reader->checkSamples(pcm, frame * 1000, 1000));
                }
            });
        for (int t = 0; t < 3; t++)
            threads.emplace_back([&] {
                for (int i = 0; i < 200; i++)
                    file.reader->AddStart(), file.reader->ReleaseStart();
            });
        for (std::thread& thread : threads)
            thread.join();
        file.reader->ReleaseStart();  // back to 0 only when every thread paired its starts
        fault(file.reader->LoadVideoFrame(0, 25, 1, false) ? "served while closed" : "");
        return faults == 0;
    }, "threads");
}

}  // namespace
