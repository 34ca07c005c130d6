// The writer: its codec lists and settings, the extension rule, the file it names, the format
// negotiation and time stamps, and every list entry written from a pattern and read back by
// FFmpeg and the library's AVI reader.
#include <filesystem>

#include "InChild.h"
#include "TestCompressor.h"
#include "WriterSupport.h"

namespace {

std::vector<std::string> names(OmbrixWriter& writer, bool video)
{
    std::vector<std::string> list;
    const unsigned count = video ? writer.GetNoVideoCodecs() : writer.GetNoAudioCodecs();
    for (unsigned i = 0; i < count; i++)
        list.push_back(video ? writer.GetVideoCodecName(i) : writer.GetAudioCodecName(i));
    return list;
}

std::vector<std::string> installed(REFCLSID category)
{
    std::vector<std::string> list;
    for (const DeviceEntry& device : DeviceRegistry::Instance().Devices(category))
        list.push_back(WideToAnsi(device.friendlyName.c_str()));
    return list;
}

unsigned indexOf(OmbrixWriter& writer, bool video, const std::string& name)
{
    const auto list = names(writer, video);
    return unsigned(std::find(list.begin(), list.end(), name) - list.begin());
}

const char* const WindowsMediaVideo = "WindowsMedia Video (asf,wmv)";
const char* const WindowsMediaAudio = "WindowsMedia Audio (asf,wmv,wma)";

// The fixed entries, then every installed compressor; a name is kept in 259 bytes, cut on a whole
// character. The selected entry's settings go to the host's frame, which changes them in place;
// entries without a filter have none, and the DV entry stands for the "DV Video Encoder" (here one
// with settings in place of the platform's, which has none).
TEST(OmbrixWriterLists, EveryEntryAndTheSettingsOfTheSelectedOne)
{
    // 400 bytes of two-byte characters: the 259th byte starts one, which goes.
    InstalledCompressor longName(std::wstring(200, L'\u00e9'), {{MEDIASUBTYPE_RGB32, false}});
    InstalledCompressor dv(L"DV Video Encoder", {{MEDIASUBTYPE_RGB24, true}}, true);
    InstalledCompressor plain(L"Without Settings", {{MEDIASUBTYPE_RGB24, true}});
    OmbrixWriter writer;
    std::vector<std::string> video = {"Uncompressed (UYVY)", "Uncompressed (YUY2)", "Uncompressed (BGR24)",
                                      "Uncompressed (BGR32)", "DV Video with interleaved DV Audio"};
    std::vector<std::string> audio = {"Uncompressed PCM"};
    // The Windows Media entries come where the writer has a Windows Media writer.
    if (names(writer, true).size() > 5 && names(writer, true)[5] == WindowsMediaVideo) {
        video.push_back(WindowsMediaVideo);
        audio.push_back(WindowsMediaAudio);
    }
    for (const std::string& name : installed(CLSID_VideoCompressorCategory))
        video.push_back(name.size() > 259 ? name.substr(0, 258) : name);
    for (const std::string& name : installed(CLSID_AudioCompressorCategory))
        audio.push_back(name);
    EXPECT_EQ(video, names(writer, true));
    EXPECT_EQ(audio, names(writer, false));
    EXPECT_EQ(std::tuple(0u, 0u), std::tuple(writer.GetVideoCodec(), writer.GetAudioCodec()));

    struct Shown {
        std::string caption;
        std::vector<std::string> names;
    } shown;
    Ombrix_SetPropertyFrame(
        [](HWND, const char* caption, Ombrix_Setting* settings, unsigned count, void* context) {
            auto* seen = static_cast<Shown*>(context);
            seen->caption = caption;
            for (unsigned i = 0; i < count; i++) {
                seen->names.push_back(settings[i].name);
                settings[i].value = 99;
            }
        },
        &shown);
    for (const unsigned entry : {0u, 1u, 2u, 3u, indexOf(writer, true, "Without Settings")}) {
        writer.SelectVideoCodec(entry);
        EXPECT_FALSE(writer.CanConfigureVideoCodec()) << entry;
    }
    writer.SelectVideoCodec(4);
    ASSERT_TRUE(writer.CanConfigureVideoCodec());
    writer.ConfigureVideoCodec(nullptr, const_cast<char*>("DV settings"));
    Ombrix_SetPropertyFrame(nullptr, nullptr);
    EXPECT_EQ("DV settings", shown.caption);
    EXPECT_EQ(std::vector<std::string>{"Quality"}, shown.names);
    EXPECT_FALSE(writer.CanConfigureAudioCodec());
    writer.ConfigureMultiplexer(nullptr, const_cast<char*>("AVI"));  // nothing to show: no call, no failure
}

TEST(OmbrixWriterFacade, PreferredFileExtension)
{
    OmbrixWriter writer;
    const struct {
        bool video, audio;
        unsigned videoCodec, audioCodec;
        const char* extension;
    } cases[] = {{false, false, 5, 1, ".avi"}, {true, true, 5, 0, ".wmv"}, {true, false, 0, 1, ".avi"},
                 {false, true, 0, 1, ".wma"}, {false, true, 5, 0, ".avi"}, {true, true, 0xFFFFFFFF, 1, ".avi"}};
    for (const auto& c : cases)
        EXPECT_STREQ(c.extension, writer.GetPreferredFileExtension(c.video, c.audio, c.videoCodec, c.audioCodec))
            << c.video << c.audio << " " << c.videoCodec << " " << c.audioCodec;
    writer.SelectVideoCodec(5);
    writer.SelectAudioCodec(1);
    EXPECT_STREQ(".wmv", writer.GetPreferredFileExtension(true, true, 0xFFFFFFFF, 0xFFFFFFFF));
    EXPECT_STREQ(".wma", writer.GetPreferredFileExtension(false, true, 0xFFFFFFFF, 0xFFFFFFFF));
}

// The name and the record follow the open file; descriptions that cannot be written are refused,
// and a file of the name is gone even when the graph cannot be built.
TEST(OmbrixWriterFacade, FileNameRecordAndRefusals)
{
    InstalledCompressor refusesAll(L"Refuses Everything", {});
    ScratchDir dir;
    OmbrixWriter writer;
    EXPECT_EQ(nullptr, writer.GetFileName());
    EXPECT_EQ(0u, writer.GetWritingInfo().Width);
    std::string path = dir.path("open.avi");
    Ombrix_FileInfo info = describe(true, true);
    ASSERT_TRUE(writer.OpenFile(path.data(), &info));
    EXPECT_EQ(path, writer.GetFileName());
    EXPECT_EQ(std::tuple(160, 120, 1), std::tuple(writer.GetWritingInfo().Width, writer.GetWritingInfo().Height,
                                                  int(writer.GetWritingInfo().ColorSpace)));
    writer.CloseFile();
    writer.CloseFile();
    EXPECT_EQ(nullptr, writer.GetFileName());
    EXPECT_EQ(std::tuple(0, 0u), std::tuple(writer.GetWritingInfo().Width, writer.GetWritingInfo().SampleRate));
    EXPECT_FALSE(std::filesystem::exists(path)) << "a file closed before any data is left behind";

    for (Ombrix_FileInfo refused : {describe(false, false), describe(true, false, 160, 120, 0), describe(false, true, 0, 0, 25, 1, 0),
                                    describe(false, true, 0, 0, 25, 1, 48000, 0)}) {
        EXPECT_FALSE(writer.OpenFile(path.data(), &refused));
        EXPECT_EQ(nullptr, writer.GetFileName());
    }
    path = dir.write("existing.avi", Bytes(100, 'x'));
    writer.SelectVideoCodec(indexOf(writer, true, "Refuses Everything"));
    EXPECT_FALSE(writer.OpenFile(path.data(), &info));
    EXPECT_FALSE(std::filesystem::exists(path));
    // The DV entry: with audio it goes through the DV Mux, video alone through the "DV Video Encoder".
    writer.SelectVideoCodec(4);
    EXPECT_TRUE(writer.OpenFile(path.data(), &info));
    writer.CloseFile();
    info.HasAudio = false;
    EXPECT_TRUE(writer.OpenFile(path.data(), &info));
    writer.CloseFile();
    // Audio alone with the DV entry selected is written with the audio entry; the selection goes back to 0.
    Ombrix_FileInfo audio = describe(false, true);
    EXPECT_TRUE(writer.OpenFile(path.data(), &audio));
    EXPECT_EQ(0u, writer.GetVideoCodec());
    writer.CloseFile();
}

// A compressor that refuses YUY2 but takes top-down RGB32 ends the tries there; one that takes
// only bottom-up RGB24 at try c. Frames then reach the file as the host delivered them.
TEST(OmbrixWriterNegotiation, TheTriesEndAtTheFirstFormatTaken)
{
    InstalledCompressor rgb32(L"RGB32 Top-Down", {{MEDIASUBTYPE_RGB32, false}});
    InstalledCompressor rgb24(L"RGB24 Bottom-Up", {{MEDIASUBTYPE_RGB24, true}});
    ScratchDir dir;
    OmbrixWriter writer;
    for (const auto& [name, colorSpace, bottomUp] : {std::tuple{"RGB32 Top-Down", 4, false}, {"RGB24 Bottom-Up", 3, true}}) {
        writer.SelectVideoCodec(indexOf(writer, true, name));
        Ombrix_FileInfo info = describe(true, false, 64, 48);
        info.ColorSpace = 2;
        const std::string path = dir.path(std::string(name) + ".avi");
        const Pushed pushed = writeFile(writer, path, info, 3, 0);
        EXPECT_EQ(std::tuple(colorSpace, bottomUp), std::tuple(pushed.format.colorSpace, pushed.format.bottomUp)) << name;
        expectFrames(path, pushed.format, pushed.frames, name);
    }
}

// Frame n runs from n x scale / rate; audio goes out in samples of 1602 frames of 16-bit stereo.
TEST(OmbrixWriterTimes, FramesAndAudioBlocksAreStampedFromTheirCounts)
{
    ScratchDir dir;
    OmbrixWriter writer;
    writer.SelectVideoCodec(1);
    const std::string path = dir.path("times.avi");
    Ombrix_FileInfo info = describe(true, true, 720, 480, 30000, 1001);
    ASSERT_TRUE(writer.OpenFile(const_cast<char*>(path.c_str()), &info));
    EXPECT_TRUE(writer.AddAudioSamples(nullptr, 0));
    const Bytes pcm = tone(48000, 2, 0, 4000);
    EXPECT_TRUE(writer.AddAudioSamples(const_cast<uint8_t*>(pcm.data()), 4000));
    for (int n = 0; n < 30; n++) {
        unsigned char* buffer = writer.AllocateVideoBuffer();
        ASSERT_NE(nullptr, buffer);
        writer.ReleaseVideoBuffer(buffer);
        if (n == 0) {
            EXPECT_EQ(333666, writer.GetWritingInfo().VideoDuration);
        }
    }
    const Ombrix_FileInfo written = writer.GetWritingInfo();
    EXPECT_EQ(std::tuple(30u, 10010000LL, 4000u, 0LL),
              std::tuple(written.NumFrames, written.VideoDuration, written.NumSamples, written.AudioDuration));
    writer.CloseFile();
    // FFmpeg hands PCM out in packets of its own size: the chunks are counted in the file.
    EXPECT_EQ((std::vector<uint32_t>{6408, 6408, 3184}), moviSizes(path, "01wb"));
    EXPECT_TRUE(ffmpegPcm(path) == pcm);
}

struct Entry {
    const char* name;
    bool video;
    double quality;  // 0: exact; else the least PSNR (video) or SNR (audio) in dB
    unsigned beyond = 0;  // sample frames a decode may give past those pushed (a padded block, a codec's delay)
    int width = 160, height = 120;
    unsigned rate = 25, scale = 1, frames = 12;
    unsigned dvFrame = 0;  // DV: the bytes of each frame, which carries the sound; there is no other stream
};
void PrintTo(const Entry& e, std::ostream* out) { *out << e.name << ", " << e.width << "x" << e.height; }

class OmbrixWriterEntries : public testing::TestWithParam<Entry> {};

std::string EntryName(const testing::TestParamInfo<Entry>& info)
{
    std::string name = info.param.name;
    std::erase_if(name, [](char c) { return !isalnum(c); });
    return info.param.height == 120 ? name : name + std::to_string(info.param.height);
}

// A pattern and a tone through the entry: FFmpeg finds every frame and sample pushed, exact for
// uncompressed and lossless entries; the AVI reader serves the same.
TEST_P(OmbrixWriterEntries, WrittenAndReadBack)
{
    const Entry& entry = GetParam();
    ScratchDir dir;
    OmbrixWriter writer;
    const unsigned index = indexOf(writer, entry.video, entry.name);
    ASSERT_LT(index, names(writer, entry.video).size()) << entry.name << " is not listed";
    (writer.*(entry.video ? &OmbrixWriter::SelectVideoCodec : &OmbrixWriter::SelectAudioCodec))(index);
    const std::string path = dir.path("entry.avi");
    const Pushed pushed = writeFile(writer, path, describe(entry.video, true, entry.width, entry.height, entry.rate, entry.scale),
                                    entry.frames, 48000);
    const auto close = [&](double measured) { return entry.quality == 0 ? measured == 99 : measured >= entry.quality; };
    // The sound comes back exact but through a lossy audio entry.
    const auto expectSound = [&](const Bytes& pcm, const char* by) {
        if (entry.quality == 0 || entry.video)
            EXPECT_TRUE(pcm == pushed.pcm) << by << ": " << pcm.size() << " bytes of " << pushed.pcm.size();
        else
            EXPECT_GE(snr(pushed.pcm, pcm, 2), entry.quality) << by;
    };

    if (entry.video) {
        const std::vector<Bytes> decoded = ffmpegFrames(path, pushed.format);
        ASSERT_EQ(pushed.frames.size(), decoded.size());
        // A lossy frame one off may pass the bound, as the pattern moves little: its number tells.
        const FrameFormat topDown{pushed.format.colorSpace, pushed.format.width, pushed.format.height, false};
        for (size_t n = 0; n < decoded.size(); n++)
            EXPECT_TRUE(close(psnr(topFirst(pushed.frames[n], pushed.format), decoded[n])) &&
                        n == patternNumber(topDown, decoded[n].data()))
                << "frame " << n;
    }
    const Bytes pcm = ffmpegPcm(path);
    expectSound(pcm, "FFmpeg");
    EXPECT_TRUE(pushed.pcm.size() <= pcm.size() && pcm.size() <= pushed.pcm.size() + entry.beyond * 4) << pcm.size();
    EXPECT_EQ(std::tuple(entry.video ? int(pushed.frames.size()) : -1, int64_t(pcm.size() / 4)), ffms2Counts(path));

    const ReadBack back = readAvi(path);
    ASSERT_TRUE(back.valid);
    if (entry.video) {
        ASSERT_EQ(pushed.frames.size(), back.frames.size());
        const FrameFormat read{back.info.ColorSpace, back.info.Width, back.info.Height, back.info.BottomUp};
        for (size_t n = 0; n < back.frames.size(); n++) {
            const Bytes want = read.colorSpace == pushed.format.colorSpace && read.bottomUp == pushed.format.bottomUp
                                   ? pushed.frames[n]
                                   : ToRgb(pushed.format, pushed.frames[n].data()).pixels;
            const Bytes got = want.size() == back.frames[n].size() ? back.frames[n] : ToRgb(read, back.frames[n].data()).pixels;
            EXPECT_GE(psnr(want, got), entry.quality == 0 && want.size() == back.frames[n].size() ? 99 : 30.0) << "frame " << n;
            EXPECT_EQ(n, patternNumber(read, back.frames[n].data()));
        }
    }
    for (const RiffChunk& chunk : entry.dvFrame ? moviChunks(path) : std::vector<RiffChunk>())
        EXPECT_TRUE(chunk.id == "ix00" || (chunk.id == "00dc" && chunk.size == entry.dvFrame))
            << chunk.id << " " << chunk.size;
    // A-law and mu-law state 8 bits, which the reader serves.
    Bytes served = back.pcm;
    if (back.info.BitsPerSample == 8) {
        served.clear();
        for (uint8_t v : back.pcm)
            served.insert(served.end(), {0, uint8_t(v - 128)});
    }
    expectSound(served, "the AVI reader");
}

INSTANTIATE_TEST_SUITE_P(Uncompressed, OmbrixWriterEntries,
                         testing::Values(Entry{"Uncompressed (UYVY)", true, 0}, Entry{"Uncompressed (YUY2)", true, 0},
                                         Entry{"Uncompressed (BGR24)", true, 0}, Entry{"Uncompressed (BGR32)", true, 0},
                                         Entry{"Uncompressed PCM", false, 0}),
                         EntryName);
INSTANTIATE_TEST_SUITE_P(Compressed, OmbrixWriterEntries,
                         testing::Values(Entry{"Motion JPEG", true, 30}, Entry{"HuffYUV (lossless)", true, 0},
                                         Entry{"FFV1 (lossless)", true, 0}, Entry{"MPEG-4 Part 2", true, 30},
                                         Entry{"A-law", false, 30}, Entry{"mu-law", false, 30},
                                         Entry{"MS ADPCM", false, 20, 2040}, Entry{"IMA ADPCM", false, 20, 2040},
                                         Entry{"MP3", false, 20, 1105 + 1152}),
                         EntryName);
// A type-1 DV AVI, PAL or NTSC by the height; its audio is 16-bit PCM in the frames: exact. 43 NTSC
// frames hold 1601.6 sample frames each exactly, as the pushed tone.
INSTANTIATE_TEST_SUITE_P(DV, OmbrixWriterEntries,
                         testing::Values(Entry{"DV Video with interleaved DV Audio", true, 30, 0, 720, 576, 25, 1, 40, 144000},
                                         Entry{"DV Video with interleaved DV Audio", true, 30, 0, 720, 480, 30000, 1001, 43, 120000}),
                         EntryName);

// The DV Video Encoder chosen by name writes a video-only AVI of 'dvsd' frames, PAL's for frames
// nearer 576 lines than 480, each decoded by FFmpeg close to the scaled pattern.
TEST(OmbrixWriterDV, TheDVVideoEncoderWritesEveryFrame)
{
    for (const auto& [width, height, lines] : {std::tuple(160, 120, 480), std::tuple(720, 576, 576)}) {
        ScratchDir dir;
        OmbrixWriter writer;
        const unsigned index = indexOf(writer, true, "DV Video Encoder");
        ASSERT_LT(index, names(writer, true).size());
        writer.SelectVideoCodec(index);
        const std::string path = dir.path("dv.avi");
        const Pushed pushed = writeFile(writer, path, describe(true, false, width, height), 12, 48000);
        std::string tag;
        run("ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string,width,height -of csv=p=0 " +
                quote(path),
            &tag);
        EXPECT_EQ("dvsd,720," + std::to_string(lines) + "\n", tag);
        const FrameFormat dv{3, 720, lines, false};
        const std::vector<Bytes> frames = ffmpegFrames(path, dv);
        ASSERT_EQ(std::tuple(12u, 12u), std::tuple(pushed.frames.size(), frames.size()));
        for (size_t n = 0; n < frames.size(); n++) {
            Bytes scaled(frames[n].size());
            FromRgb(Scaled(patternPicture(width, height, unsigned(n)), 720, lines), dv, scaled.data());
            EXPECT_GT(psnr(scaled, frames[n]), 21) << lines << " lines, frame " << n;
        }
    }
}

// Nothing hangs when the disk fills up: the calls return, the file is closed, and the frames that
// reached the disk before read back.
TEST(OmbrixWriterFailures, ADiskThatFillsUpEndsTheFileWithoutHanging)
{
    ScratchDir dir;
    const std::string path = dir.path("full.avi");
    const auto write = [&] {
        OmbrixWriter writer;
        Ombrix_FileInfo info = describe(true, true);
        writer.OpenFile(const_cast<char*>(path.c_str()), &info);
        const Bytes pcm = tone(48000, 2, 0, 1920);
        for (int n = 0; n < 200; n++) {
            unsigned char* buffer = writer.AllocateVideoBuffer();
            if (!buffer)
                break;
            memset(buffer, n, 160 * 120 * 2);
            writer.ReleaseVideoBuffer(buffer);
            writer.AddAudioSamples(const_cast<uint8_t*>(pcm.data()), 1920);
        }
        writer.CloseFile();
        return true;  // the facade has no event to hear: that it returned is the point
    };
    expectFramesBeforeTheLimit(path, 2 << 20, {1, 160, 120, false}, 20, write,
                               [](size_t n) { return Bytes(160 * 120 * 2, uint8_t(n)); });
}

// A graph that does not run lends no buffer, nor does a writer refused an unwritable path; both
// still close and go. A copy of a writer shares its settings.
TEST(OmbrixWriterFailures, WritersThatCannotWriteLendNothingAndEnd)
{
    ScratchDir dir;
    const std::string path = dir.path("never.avi");
    expectInChild(
        [&] {
            InstalledCompressor refusing(L"Refuses To Run", {{MEDIASUBTYPE_UYVY, true}}, false, true);
            OmbrixWriter notRunning, unwritable, copy;
            notRunning.SelectVideoCodec(indexOf(notRunning, true, "Refuses To Run"));
            Ombrix_FileInfo info = describe(true, false), again = info;
            const bool opened = notRunning.OpenFile(const_cast<char*>(path.c_str()), &info);
            const bool lent = notRunning.AllocateVideoBuffer() != nullptr;
            notRunning.CloseFile();
            const bool refused = !unwritable.OpenFile(const_cast<char*>("/proc/no/such/folder/file.avi"), &again) ||
                                 !unwritable.AllocateVideoBuffer();
            unwritable.CloseFile();
            copy = unwritable;
            copy.SelectVideoCodec(2);
            if (!opened || lent || !refused)
                fprintf(stderr, "opened %d, lent %d, refused %d\n", opened, lent, refused);
            return opened && !lent && refused && unwritable.GetVideoCodec() == 2;
        },
        "a graph that does not run, an unwritable path and a shared writer");
}

// Writes frames of UYVY with sound through a video entry into a file over 4 GiB: fill(n, buffer)
// makes frame n, and audio(n) the sample frames that follow it.
void writeLarge(unsigned entry, const std::string& path, int width, int height, unsigned frames,
                const std::function<void(unsigned, unsigned char*)>& fill, const std::function<const Bytes&(unsigned)>& audio)
{
    const auto room = std::filesystem::space(std::filesystem::path(path).parent_path()).available;
    ASSERT_GT(room, 5ULL << 30) << "no room for a file over 4 GiB";
    OmbrixWriter writer;
    writer.SelectVideoCodec(entry);
    Ombrix_FileInfo info = describe(true, true, width, height);
    info.ColorSpace = 1;
    ASSERT_TRUE(writer.OpenFile(const_cast<char*>(path.c_str()), &info));
    ASSERT_EQ(info.ColorSpace, writer.GetWritingInfo().ColorSpace);
    for (unsigned n = 0; n < frames; n++) {
        unsigned char* buffer = writer.AllocateVideoBuffer();
        ASSERT_NE(nullptr, buffer) << n;
        fill(n, buffer);
        writer.ReleaseVideoBuffer(buffer);
        const Bytes& pcm = audio(n);
        ASSERT_TRUE(writer.AddAudioSamples(const_cast<uint8_t*>(pcm.data()), unsigned(pcm.size() / 4))) << n;
    }
    writer.CloseFile();
    ASSERT_GT(std::filesystem::file_size(path), 4ULL << 30);
}

}  // namespace

// Over 4 GiB the file goes on in further RIFF segments: FFmpeg finds every frame and the audio
// between them, and the AVI reader serves each frame with its own number.
TEST(OmbrixWriterLarge, AFileOver4GiBReadsWhole)
{
    ScratchDir dir;
    const std::string path = dir.path("large.avi");
    const unsigned frames = 1050;  // 1920x1080 UYVY: 4.35 GB
    const Bytes pcm = tone(48000, 2, 0, 1920);
    const auto fill = [](unsigned n, unsigned char* buffer) {
        memset(buffer, 0x80, 1920 * 1080 * 2);
        memcpy(buffer, &n, sizeof n);
    };
    const auto sound = [&](unsigned) -> const Bytes& { return pcm; };
    ASSERT_NO_FATAL_FAILURE(writeLarge(0, path, 1920, 1080, frames, fill, sound));

    std::string sizes, whole;
    run("ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 " + quote(path), &sizes);
    for (unsigned n = 0; n < frames; n++)
        whole += "4147200\n";
    EXPECT_EQ(whole, sizes);
    const Bytes audio = ffmpegPcm(path);
    ASSERT_EQ(pcm.size() * frames, audio.size());
    for (unsigned n = 0; n < frames; n += 149)
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), audio.begin() + std::ptrdiff_t(n * pcm.size()))) << n;

    Ombrix_FileInfo info;
    AVIReader reader(const_cast<char*>(path.c_str()), &info, false, false);
    ASSERT_TRUE(reader.GetIsValidAVIFile());
    ASSERT_EQ(std::tuple(frames, frames * 1920ULL), std::tuple(info.NumFrames, info.NumSamples));
    for (unsigned n = 0; n < frames; n++) {
        const unsigned char* frame = reader.LoadVideoFrame(n, info.Rate, info.Scale, false);
        ASSERT_NE(nullptr, frame) << n;
        unsigned number;
        memcpy(&number, frame, sizeof number);
        EXPECT_EQ(std::tuple(n, 0x80), std::tuple(number, int(frame[1920 * 1080 * 2 - 1])));
        reader.ReleaseVideoFrame(const_cast<unsigned char*>(frame));
    }
}

// A type-1 DV AVI over 4 GiB, every frame encoded: FFmpeg demuxes every frame and decodes the
// last ones, and the AVI reader counts every frame and serves the last with its sound. The last
// frames carry their numbers and their own stretch of the tone; those before are grey (quicker
// to encode than the pattern) with tone 0.
TEST(OmbrixWriterLarge, ADVFileOver4GiBReadsWhole)
{
    ScratchDir dir;
    const std::string path = dir.path("large.avi");
    const unsigned frames = 30000, last = 3, first = frames - last;  // 144,000 bytes each: 4.32 GB
    const FrameFormat format{1, 720, 576, false};
    std::vector<Bytes> pictures, tones;
    for (const unsigned n : {0u, first, first + 1, first + 2}) {
        pictures.emplace_back(frameSize(format), 0x80);
        if (n)
            FromRgb(patternPicture(720, 576, n), format, pictures.back().data());
        tones.push_back(tone(48000, 2, n * 1920, 1920));
    }
    const auto slot = [&](unsigned n) { return n < first ? 0 : n - first + 1; };
    ASSERT_NO_FATAL_FAILURE(writeLarge(
        4, path, 720, 576, frames,
        [&](unsigned n, unsigned char* buffer) { memcpy(buffer, pictures[slot(n)].data(), pictures[slot(n)].size()); },
        [&](unsigned n) -> const Bytes& { return tones[slot(n)]; }));
    const Bytes tail = tone(48000, 2, first * 1920, last * 1920);  // the last frames' tones end to end

    std::string counts, raw, pcm;
    run("ffprobe -v error -count_packets -show_entries stream=codec_type,nb_read_packets -of csv=p=0 " + quote(path), &counts);
    EXPECT_EQ("video," + std::to_string(frames) + "\naudio," + std::to_string(frames) + "\n", counts);
    run("ffmpeg -v error -sseof -0.2 -i " + quote(path) + " -map 0:v -f rawvideo -pix_fmt uyvy422 -", &raw);
    const size_t size = frameSize(format);
    ASSERT_GE(raw.size(), (last + 1) * size);
    for (unsigned n = first - 1; n < frames; n++) {
        const auto* frame = reinterpret_cast<const uint8_t*>(raw.data() + raw.size() - (frames - n) * size);
        EXPECT_EQ(n < first ? 0 : n, patternNumber(format, frame)) << n;
        EXPECT_GT(psnr(pictures[slot(n)], Bytes(frame, frame + size)), 30) << n;
    }
    run("ffmpeg -v error -sseof -0.2 -i " + quote(path) + " -map 0:a -f s16le -", &pcm);
    EXPECT_TRUE(pcm.size() >= tail.size() && Bytes(pcm.end() - std::ptrdiff_t(tail.size()), pcm.end()) == tail);

    Ombrix_FileInfo info;
    AVIReader reader(const_cast<char*>(path.c_str()), &info, false, false);
    ASSERT_TRUE(reader.GetIsValidAVIFile());
    EXPECT_EQ(std::tuple(frames, frames * 1920ULL), std::tuple(info.NumFrames, info.NumSamples));
    const unsigned char* frame = reader.LoadVideoFrame(frames - 1, info.Rate, info.Scale, false);
    ASSERT_NE(nullptr, frame);
    const FrameFormat read{info.ColorSpace, info.Width, info.Height, info.BottomUp};
    EXPECT_EQ(frames - 1, patternNumber(read, frame));
    reader.ReleaseVideoFrame(const_cast<unsigned char*>(frame));
    Bytes served(tail.size());
    ASSERT_TRUE(reader.LoadAudioSamples(served.data(), first * 1920, last * 1920, false));
    EXPECT_TRUE(served == tail);
}
