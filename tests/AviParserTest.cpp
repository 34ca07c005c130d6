// The RIFF walk of avihandle: WAV and AVI headers, frame rates, buffer sizes, messages, type-1
// DV files and the DV frame analysis.
#include <gtest/gtest.h>

#include <cstring>

#include "AviTestSupport.h"
#include "RiffBuilder.h"
#include "avi/DVFrame.h"
#include "core/DebugOutput.h"

namespace {

struct AviParser : ::testing::Test {
    MessageLog log;
    ParsedFiles files;
};

Bytes wavWith(const Bytes& format, DWORD dataBytes, DWORD declaredSize)
{
    RiffBuilder b;
    b.open("RIFF", "WAVE");
    b.chunk("fmt ", format);
    b.chunk("fact", DWORD(0));
    b.setSize(b.chunk("data", Bytes(dataBytes, 7)), declaredSize);
    b.close();
    return b.image;
}

AviLayout threeFrames() { return videoAndAudio({{videoChunk(100), audioChunk(4000), videoChunk(110), videoChunk(120)}}); }

TEST_F(AviParser, WavIsOneStreamWithOneEntryCutToTheFile)
{
    // {bytes present, size stored in "data"}: a size past the end keeps the bytes the file has.
    const DWORD cases[][2] = {{400, 400}, {400, 1000000}, {400, 0xFFFFFFFF}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[1]);
        Bytes image = wavWith(bytesOf(waveFormat(WAVE_FORMAT_PCM, 2, 44100, 16)), c[0], c[1]);
        auto h = files.parse(image);
        ASSERT_FALSE(h->bError);
        EXPECT_TRUE(log.has("avihandle::handleWAVE Warning: undefined chunk skipping over"));
        EXPECT_TRUE(h->bIdx1Index && h->bHasAudio && !h->bHasVideo && !h->bDVType1);
        EXPECT_EQ(h->nFrames, 1u);
        EXPECT_EQ(h->pAudioFormat->nSamplesPerSec, 44100u);
        EXPECT_EQ(h->nAudioSamples, 100u);
        EXPECT_EQ(h->nAudioBufferSize, 100000u);
        ASSERT_TRUE(h->pAudioStream && h->pStreams == h->pAudioStream && !h->pStreams->next);
        ASSERT_EQ(h->nAudioChunks, 1u);
        EXPECT_EQ(h->pAudioSamples[0].dwSamples, 100u);
        ASSERT_TRUE(h->openavi());
        Located e = locate(*h, h->pAudioStream, 0);
        EXPECT_EQ(e.at, image.size() - c[0]);
        EXPECT_EQ(e.size, c[0]);
        h->closeavi();
    }
}

TEST_F(AviParser, ExtensiblePcmWavIsPcm)
{
    auto h = files.parse(wavWith(extensibleFormat(6, 48000, 24, WAVE_FORMAT_PCM), 180, 180));
    ASSERT_FALSE(h->bError);
    const WAVEFORMATEX& f = *h->pAudioFormat;
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.cbSize, 0);
    EXPECT_EQ(f.nChannels, 6);
    EXPECT_EQ(f.nSamplesPerSec, 48000u);
    EXPECT_EQ(f.wBitsPerSample, 24);
    EXPECT_EQ(f.nBlockAlign, 18);
    EXPECT_EQ(h->nAudioSamples, 10u);
}

TEST_F(AviParser, FilesThatFail)
{
    Bytes noBlockAlign = bytesOf(waveFormat(WAVE_FORMAT_PCM, 2, 44100, 16));
    noBlockAlign[12] = 0;
    RiffBuilder noData;
    noData.open("RIFF", "WAVE");
    noData.chunk("fmt ", waveFormat(WAVE_FORMAT_PCM, 2, 44100, 16));
    noData.close();
    RiffBuilder noStreams;
    noStreams.open("RIFF", "AVI ");
    noStreams.open("LIST", "movi");
    noStreams.close();
    noStreams.close();
    const Bytes pcm = wavWith(bytesOf(waveFormat(WAVE_FORMAT_PCM, 2, 44100, 16)), 40, 40);
    Bytes otherForm = pcm;
    memcpy(&otherForm[8], "CDXA", 4);
    Bytes notRiff = pcm;
    memcpy(&notRiff[0], "RIFX", 4);
    struct Case {
        const char* name;
        Bytes image;
        bool skipAudio;
        const char* message;
    } cases[] = {
        {"wav without data", noData.image, false, nullptr},
        {"compressed wav", wavWith(bytesOf(waveFormat(2, 2, 44100, 4)), 40, 40), false, nullptr},
        {"extensible float wav", wavWith(extensibleFormat(2, 48000, 32, 3), 40, 40), false, nullptr},
        {"wav with nBlockAlign 0", wavWith(noBlockAlign, 40, 40), false, nullptr},
        {"wav while skipping audio", pcm, true, nullptr},
        {"other RIFF form", otherForm, false, "avihandle::avihandle Error:RIFF type AVI or AVIX expected"},
        {"not RIFF", notRiff, false, "RIFF header not found\n"},
        {"empty file", {}, false, nullptr},
        {"avi without stream headers", noStreams.image, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.lines.clear();
        EXPECT_TRUE(files.parse(c.image, false, c.skipAudio)->bError);
        if (c.message) {
            EXPECT_TRUE(log.has(c.message));
        }
    }
    const std::string absent = files.path("absent");
    avihandle missing(absent.c_str(), false, false);
    EXPECT_TRUE(missing.bError);
    EXPECT_TRUE(log.has("avihandle::avihandle Unable to open file"));
}

TEST_F(AviParser, CorruptFrameRatesRevertTo2997)
{
    const struct {
        DWORD rate, scale;
        bool reverted;
    } cases[] = {{0, 1, true},    {0, 0, true},   {1, 2, true},  {25, 0, true},
                 {301, 1, true},  {300, 1, false}, {1, 1, false}, {30000, 1001, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << "/" << c.scale);
        log.lines.clear();
        AviLayout layout = threeFrames();
        layout.streams[0].header.dwRate = c.rate;
        layout.streams[0].header.dwScale = c.scale;
        auto h = files.parse(buildAvi(layout).image);
        ASSERT_FALSE(h->bError);
        EXPECT_EQ(log.has("Warning: framerate is corrupt! reverting to 29.97"), c.reverted);
        EXPECT_EQ(h->dRate, c.reverted ? 30000.0 : c.rate);
        EXPECT_EQ(h->dScale, c.reverted ? 1001.0 : c.scale);
        EXPECT_DOUBLE_EQ(h->dFrameRate, h->dRate / h->dScale);
    }
}

TEST_F(AviParser, ForeignListsAndTrailingDataAreSkipped)
{
    RiffBuilder info;
    info.open("LIST", "INFO");
    info.chunk("ISFT", Bytes(9, 'x'));
    info.close();
    const struct {
        const char* name;
        bool inHdrl, afterHdrl, trailing;
        const char* message;
    } cases[] = {
        {"INFO in RIFF", false, true, false, "avihandle::handleRIFF Error:Unable to define AVI list type"},
        {"INFO in hdrl", true, false, false, "avihandle::handleLISThdrl Warning:Unsupported list type"},
        {"data after RIFF", false, false, true,
         "avihandle::avihandle Warning:excess data beyond RIFF Chunk not defined as RIFF:AVIX\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.lines.clear();
        AviLayout layout = threeFrames();
        if (c.inHdrl)
            layout.inHdrl = info.image;
        if (c.afterHdrl)
            layout.afterHdrl = info.image;
        BuiltAvi built = buildAvi(layout);
        if (c.trailing)
            built.image.insert(built.image.end(), {'J', 'U', 'N', 'K', 4, 0, 0, 0, 1, 2, 3, 4});
        auto h = files.parse(built.image);
        ASSERT_FALSE(h->bError);
        EXPECT_TRUE(log.has(c.message));
        EXPECT_EQ(h->nFrames, 3u);
        EXPECT_TRUE(h->bHasAudio && h->bHasVideo);
        ASSERT_TRUE(h->openavi());
        EXPECT_EQ(locate(*h, h->pVideoStream, 2).at, built.dataAt[3]);
        h->closeavi();
    }
}

TEST_F(AviParser, FormatsAreCopied)
{
    AviLayout layout = threeFrames();
    Bytes& video = layout.streams[0].format;
    video.resize(1100);
    for (size_t i = sizeof(BITMAPINFOHEADER); i < video.size(); i++)
        video[i] = uint8_t(i * 13);
    // A compressed audio format brings its cbSize extra bytes.
    Bytes audio = bytesOf(waveFormat(0x55, 2, 44100, 0, 12));
    for (uint8_t i = 0; i < 12; i++)
        audio.push_back(uint8_t(0xA0 + i));
    layout.streams[1].format = audio;
    auto h = files.parse(buildAvi(layout).image);
    ASSERT_FALSE(h->bError);
    // Past its 1064 bytes a video format is cut, and the parse goes on to the audio stream.
    EXPECT_EQ(h->nVideoFormatSize, avihandle::VideoFormatCapacity);
    EXPECT_EQ(memcmp(h->pVideoFormat, video.data(), avihandle::VideoFormatCapacity), 0);
    EXPECT_EQ(h->fccVideoHandler, FCC("MJPG"));
    ASSERT_TRUE(h->bHasAudio);
    EXPECT_EQ(memcmp(h->pAudioFormat, audio.data(), audio.size()), 0);
}

TEST_F(AviParser, BufferSizesFromHeadersOrTheIndex)
{
    // Audio chunks of 4000, 6000 and 2000 bytes; a stream header without a size takes the largest.
    const struct {
        DWORD video, audio, main, expectVideo, expectAudio;
    } cases[] = {{5000, 4000, 3000, 5000, 4000}, {5000, 4000, 9000, 9000, 9000}, {5000, 0, 9000, 9000, 6000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.audio);
        log.lines.clear();
        AviLayout layout = videoAndAudio(
            {{videoChunk(100), audioChunk(4000), videoChunk(100), audioChunk(6000), audioChunk(2000)}});
        layout.streams[0].header.dwSuggestedBufferSize = c.video;
        layout.streams[1].header.dwSuggestedBufferSize = c.audio;
        layout.avih.dwSuggestedBufferSize = c.main;
        auto h = files.parse(buildAvi(layout).image);
        ASSERT_FALSE(h->bError);
        EXPECT_EQ(h->nVideoBufferSize, c.expectVideo);
        EXPECT_EQ(h->nAudioBufferSize, c.expectAudio);
        EXPECT_EQ(log.has("avihandle::handleLISTstrl have to manually configure audiobuffer size"), c.audio == 0);
    }
}

TEST_F(AviParser, DvType1TakesSizeAndAudioFromTheFirstFrame)
{
    const struct {
        bool pal;
        uint8_t smp, chn;
        bool skipVideo, skipAudio;
        LONG height;
        DWORD rate, samples;
    } cases[] = {
        {true, 2, 1, false, false, 576, 32000, 2560},   // 2 frames at 25 fps
        {false, 1, 0, false, false, 480, 44100, 2942},  // 2 frames at 30000/1001
        {true, 0, 0, true, false, 480, 48000, 3840},
        {true, 2, 0, false, true, 576, 48000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pal << c.skipVideo << c.skipAudio);
        DvFrameParams dv;
        dv.pal = c.pal;
        dv.audio[0] = dv.audio[1] = {.smp = c.smp, .chn = c.chn};
        AviLayout layout;
        layout.avih = mainHeader(2, 1);
        layout.streams = {{streamHeader("iavs", "dvsd", c.pal ? 1 : 1001, c.pal ? 25 : 30000, 2, 150000), Bytes(32)}};
        layout.segments = {{{"00db", dvFrame(dv)}, {"00db", dvFrame(dv)}}};
        auto h = files.parse(buildAvi(layout).image, c.skipVideo, c.skipAudio);
        ASSERT_FALSE(h->bError);
        EXPECT_TRUE(h->bDVType1 && h->bHasVideo);
        EXPECT_EQ(h->nVideoBufferSize, 150000u);
        const BITMAPINFOHEADER& v = *h->videoFormat();
        EXPECT_EQ(v.biWidth, 720);
        EXPECT_EQ(v.biHeight, c.height);
        EXPECT_EQ(v.biCompression, FCC("dvsd"));
        EXPECT_EQ(v.biSizeImage, 120000u);
        EXPECT_EQ(h->nVideoFormatSize, 40u);
        EXPECT_EQ(h->pAudioFormat->nSamplesPerSec, c.rate);
        EXPECT_EQ(h->pAudioSamples, nullptr);
        if (c.skipAudio)
            continue;
        EXPECT_EQ(h->pAudioFormat->nBlockAlign, 4);
        EXPECT_EQ(h->pAudioFormat->nAvgBytesPerSec, c.rate * 4);
        EXPECT_EQ(h->bDVTwoChannels, c.chn != 0);
        EXPECT_EQ(h->nAudioBufferSize, DVMaxAudioData);
        EXPECT_EQ(h->nAudioSamples, c.samples);
        EXPECT_EQ(h->pVideoStream, h->pAudioStream);
    }
}

Bytes padded(Bytes frame)
{
    frame.resize(DVFrameSize625);
    return frame;
}

TEST(DvFrameAnalysis, SampleCountsFollowSystemRateAndAfSize)
{
    const struct {
        bool pal;
        uint8_t smp, afSize;
        DWORD samples;
    } cases[] = {{false, 0, 20, 1600}, {true, 0, 24, 1920}, {true, 1, 0, 1742},   {false, 1, 40, 1492},
                 {false, 2, 3, 1056},  {true, 2, 63, 1327}, {false, 5, 7, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pal << " smp " << int(c.smp));
        DvFrameParams dv;
        dv.pal = c.pal;
        dv.audio[0] = {.afSize = c.afSize, .smp = c.smp};
        dv.audio[1] = {.afSize = uint8_t(c.afSize ^ 1), .smp = c.smp};
        Bytes frame = padded(dvFrame(dv));
        tr_dv_aux aux = {};
        analyze_fr0(&aux, frame.data());
        EXPECT_EQ(aux.valid, 1);
        EXPECT_EQ(aux.pal, int(c.pal));
        EXPECT_EQ(aux.system, c.pal ? 0x20 : 0);
        EXPECT_EQ(aux.width, 720);
        EXPECT_EQ(aux.height, c.pal ? 576 : 480);
        EXPECT_EQ(aux.audio[0].samples, c.samples);
        EXPECT_EQ(aux.audio[1].samples, c.samples - c.afSize + (c.afSize ^ 1));
    }
}

TEST(DvFrameAnalysis, PacksAreRecordedPerHalf)
{
    DvFrameParams dv;
    dv.audio[0] = {.qu = 1, .chn = 1, .audioMode = 2, .locked = true};
    dv.audio[1] = {.smp = 2, .audioMode = 1};
    dv.timecode = 0x12345678;
    dv.vauxSource = 0xE0;
    Bytes frame = dvFrame(dv);
    tr_dv_aux aux = {};
    analyze_fr0(&aux, frame.data());
    const tr_dv_audio& a = aux.audio[0];
    EXPECT_TRUE(a.locked == 1 && a.QU == 1 && a.CHN == 1 && a.AUDIO_MODE == 2 && a.SMP == 0 && a.fiftySixty == 1);
    const tr_dv_audio& b = aux.audio[1];
    EXPECT_TRUE(b.locked == 0 && b.QU == 0 && b.CHN == 0 && b.AUDIO_MODE == 1 && b.SMP == 2);
    EXPECT_EQ(aux.timecode, 0x12345638u);
    EXPECT_TRUE(aux.vauxBW == 1 && aux.vauxEN == 1 && aux.vauxCLF == 2);
}

TEST(DvFrameAnalysis, AudioDataIsCopiedInBlockOrder)
{
    for (bool pal : {false, true}) {
        SCOPED_TRACE(pal);
        DvFrameParams dv;
        dv.pal = pal;
        Bytes frame = padded(dvFrame(dv));
        // Blocks past a 525/60 frame are not walked: audio blocks there would show.
        for (size_t at = DVFrameSize525; !pal && at < frame.size(); at += DVBlockSize) {
            const uint8_t block[8] = {0x7F, 0x07, 0, 0x50, 0x3F, 0, 0, 0x10};
            memcpy(&frame[at], block, sizeof block);
        }
        Bytes out(DVMaxAudioData + 16, 0xEE);
        tr_dv_aux aux = {};
        analyze_fr(&aux, out.data(), frame.data());
        const unsigned blocks = pal ? 108 : 90;
        for (unsigned n = 0; n < blocks; n++)
            for (unsigned i = 0; i < DVAudioDataSize; i++)
                ASSERT_EQ(out[n * DVAudioDataSize + i], dvAudioByte(n, i)) << "block " << n;
        EXPECT_EQ(std::count(out.begin() + blocks * DVAudioDataSize, out.end(), 0xEE),
                  ptrdiff_t(out.size() - blocks * DVAudioDataSize));
        EXPECT_EQ(aux.audio[0].SMP, 0);
    }
}

TEST(DvFrameAnalysis, WithoutAHeaderAllBlocksAreWalkedAndAtMost7776BytesCopied)
{
    Bytes frame = dvFrame(DvFrameParams{});
    for (size_t at = 0; at < frame.size(); at += DVBlockSize)
        frame[at] = 0x7F;  // every block an audio block
    Bytes out(DVMaxAudioData + DVAudioDataSize, 0xEE);
    tr_dv_aux aux = {};
    analyze_fr(&aux, out.data(), frame.data());
    EXPECT_EQ(aux.valid, 0);
    for (unsigned n = 0; n < DVMaxAudioBlocks; n++)
        ASSERT_EQ(memcmp(&out[n * DVAudioDataSize], &frame[n * DVBlockSize + 8], DVAudioDataSize), 0) << n;
    EXPECT_EQ(std::count(out.begin() + DVMaxAudioData, out.end(), 0xEE), ptrdiff_t(DVAudioDataSize));
}

TEST_F(AviParser, OverlongMessagesAreCut)
{
    DebugOutput("%s", std::string(5000, 'x').c_str());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], std::string(4095, 'x'));
}

}  // namespace
