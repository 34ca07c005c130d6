// The RIFF walk of avihandle on built files, and the DV frame analysis; what real files show the
// real-file suite checks.
#include <gtest/gtest.h>

#include <filesystem>

#include "RiffBuilder.h"

namespace {

struct AviParser : testing::Test, ParsedFiles {};

const Bytes pcm16 = bytesOf(waveFormat(WAVE_FORMAT_PCM, 2, 44100, 16));

TEST_F(AviParser, WavDataIsCutToTheFileAndSplitIntoEntries)
{
    // Sparse files: the data costs no disk. A streamed WAV (its size all bits) runs to the end of
    // the file, as far as 32-bit sample counts reach. Extensible PCM is PCM, of whole blocks.
    const ULONGLONG GiB = 1ull << 30;
    for (auto [format, stored, dataBytes, align, expected] :
         {std::tuple{pcm16, 0xFFFFFFFFu, 402ull, 4, 402ull},
          {extensibleFormat(6, 48000, 24, WAVE_FORMAT_PCM), 402u, 402ull, 18, 402ull},
          {pcm16, 0xE0000000u, 7 * GiB / 2, 4, 7 * GiB / 2}, {pcm16, 0xFFFFFFFFu, 7 * GiB / 2, 4, 7 * GiB / 2},
          {pcm16, 0xFFFFFFFFu, 5 * GiB, 4, 5 * GiB},
          {bytesOf(waveFormat(WAVE_FORMAT_PCM, 1, 44100, 8)), 0xFFFFFFFFu, 5 * GiB, 1, 0xFFFFFFFFull}}) {
        SCOPED_TRACE(testing::Message() << stored << " " << dataBytes << " align " << align);
        const Bytes header = buildWav(format, 0, stored).image;
        names.push_back(dir.write("wav" + std::to_string(names.size()), header));
        std::filesystem::resize_file(names.back(), header.size() + dataBytes);
        avihandle h(names.back().c_str(), false, false);
        ASSERT_FALSE(h.bError);
        const WAVEFORMATEX& f = *h.pAudioFormat;
        EXPECT_EQ(std::tuple(f.wFormatTag, f.cbSize, f.nBlockAlign, h.nAudioSamples),
                  std::tuple(WAVE_FORMAT_PCM, 0, align, DWORD(expected / align)));
        ASSERT_TRUE(h.openavi());
        ULONGLONG at = header.size(), samples = 0;
        for (DWORD i = 0; i < h.nAudioChunks; samples += h.pAudioSamples[i++].dwSamples) {
            const Located e = locate(h, h.pAudioStream, i);
            EXPECT_TRUE(e.at == at && e.size <= GiB && h.pAudioSamples[i].dwStart == samples) << i;
            at += e.size;
        }
        EXPECT_TRUE(at == header.size() + expected && samples == expected / align);
        h.closeavi();
    }
}

TEST_F(AviParser, OddChunksForeignListsAndTrailingDataAreSteppedOver)
{
    // What follows a chunk of odd size is found after its pad byte; unknown lists and data after
    // the last RIFF are skipped with a message. Formats are copied: a video format cut at its 1064
    // bytes (the parse goes on to the audio stream), a compressed audio format with its cbSize bytes.
    AviLayout base = videoAndAudio({{videoChunk(100), audioChunk(4000), videoChunk(110), videoChunk(120)}});
    Bytes& video = base.streams[0].second;
    for (size_t i = video.size(); i < 1100; i++)
        video.push_back(uint8_t(i * 13));
    Bytes& audio = base.streams[1].second = bytesOf(waveFormat(0x55, 2, 44100, 0, 12));
    for (uint8_t i = 0; i < 12; i++)
        audio.push_back(uint8_t(0xA0 + i));
    RiffBuilder odd, info;
    odd.chunk("strn", Bytes{'T', 'e', 's', 't', 0});
    info.open("LIST", "INFO");
    info.chunk("ISFT", Bytes(9, 'x'));
    info.close();
    const struct { Bytes AviLayout::*where; Bytes part; const char* message; } cases[] = {  // none: after it
        {&AviLayout::inStrl, odd.image, nullptr},
        {&AviLayout::afterHdrl, odd.image, nullptr},
        {&AviLayout::afterHdrl, info.image, "avihandle::handleRIFF Error:Unable to define AVI list type"},
        {&AviLayout::inHdrl, info.image, "avihandle::handleLISThdrl Warning:Unsupported list type"},
        {nullptr, {'J', 'U', 'N', 'K', 4, 0, 0, 0, 1, 2, 3, 4},
         "avihandle::avihandle Warning:excess data beyond RIFF Chunk not defined as RIFF:AVIX\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        log.lines.clear();
        AviLayout layout = base;
        if (c.where)
            layout.*c.where = c.part;
        BuiltAvi built = buildAvi(layout);
        if (!c.where)
            built.raw(c.part);
        auto h = parse(built.image);
        ASSERT_FALSE(h->bError);
        EXPECT_TRUE(!c.message || log.has(c.message));
        EXPECT_TRUE(h->nFrames == 3 && h->bHasAudio && h->bHasVideo && h->fccVideoHandler == FCC("MJPG"));
        EXPECT_EQ(Bytes(h->pVideoFormat, h->pVideoFormat + h->nVideoFormatSize),
                  Bytes(video.begin(), video.begin() + avihandle::VideoFormatCapacity));
        EXPECT_EQ(memcmp(h->pAudioFormat, audio.data(), audio.size()), 0);
        ASSERT_TRUE(h->openavi());
        EXPECT_EQ(locate(*h, h->pVideoStream, 2).at, built.dataAt[3]);
        h->closeavi();
    }
}

TEST_F(AviParser, EachStreamsOwnHeader)
{
    // Rate and frame count from the last "vids", audio format and length cap from the last "auds",
    // among text and an MP3 stream. 5 frames (keys 0 and 3); 2100 PCM samples, capped at 1000.
    const AVISTREAMHEADER video{.fccType = FCC("vids"), .fccHandler = FCC("MJPG"), .dwScale = 1001, .dwRate = 30000};
    const AVISTREAMHEADER pcm{.fccType = FCC("auds"), .dwScale = 1, .dwRate = 22050, .dwLength = 1000,
                              .dwSuggestedBufferSize = 4000, .dwSampleSize = 1};
    const AVISTREAMHEADER mp3{.fccType = FCC("auds"), .dwScale = 1152, .dwRate = 44100, .dwLength = 5,
                              .dwSuggestedBufferSize = 4000};
    const AVISTREAMHEADER text{.fccType = FCC("txts"), .dwScale = 1, .dwRate = 1000, .dwLength = 2};
    const Bytes u8 = bytesOf(waveFormat(WAVE_FORMAT_PCM, 1, 22050, 8));
    Bytes mp3Format = bytesOf(waveFormat(0x55, 2, 44100, 0, 12));
    mp3Format.resize(mp3Format.size() + 12);
    AviLayout layout{.avih = {.dwTotalFrames = 9, .dwStreams = 5},
                     .streams = {{text, Bytes(4)}, {mp3, mp3Format}, {pcm, u8},
                                 {video, bytesOf(BITMAPINFOHEADER{40, 64, 48, 1, 24, FCC("MJPG")})}, {text, Bytes(4)}},
                     .segments = {{{"00tx", Bytes(3, 't')}, {"04tx", Bytes(3, 't')}}}};
    for (int i = 0; i < 5; i++) {
        layout.segments[0].push_back({"03dc", Bytes(31 + i, 1), i % 3 == 0});
        for (const char* audio : {"01wb", "02wb"})
            if (i < 3)
                layout.segments[0].push_back({audio, Bytes(700, 2)});
    }
    auto h = parse(buildAvi(layout).image);
    ASSERT_FALSE(h->bError);
    DWORD key = 0;
    EXPECT_TRUE(h->findkeyframe(4, &key));
    EXPECT_EQ(std::tuple(h->dRate, h->dScale, h->nFrames, key, h->nAudioBlockFrames, h->nAudioChunks, h->nAudioSamples),
              std::tuple(30000.0, 1001.0, 5u, 3u, 0u, 3u, 1000u));
    EXPECT_EQ(memcmp(h->pAudioFormat, u8.data(), u8.size()), 0);
}

TEST_F(AviParser, FilesThatFail)
{
    Bytes noBlockAlign = pcm16, otherFamily = extensibleFormat(2, 48000, 16, WAVE_FORMAT_PCM);
    noBlockAlign[12] = 0;
    otherFamily.back() ^= 1;
    const Bytes wav = buildWav(pcm16, 40, 40).image;
    Bytes otherForm = wav, notRiff = wav, noData = buildWav(pcm16, 0, 0).image;
    noData.resize(noData.size() - 8);
    memcpy(&otherForm[8], "CDXA", 4);
    memcpy(&notRiff[0], "RIFX", 4);
    const struct { const char* name; Bytes image; bool skipAudio; const char* message; } cases[] = {
        {"wav without data", noData, false, nullptr},
        {"compressed wav", buildWav(bytesOf(waveFormat(2, 2, 44100, 4)), 40, 40).image, false, nullptr},
        {"extensible float wav", buildWav(extensibleFormat(2, 48000, 32, 3), 40, 40).image, false, nullptr},
        {"extensible wav of another family", buildWav(otherFamily, 40, 40).image, false, nullptr},
        {"wav with nBlockAlign 0", buildWav(noBlockAlign, 40, 40).image, false, nullptr},
        {"wav while skipping audio", wav, true, nullptr},
        {"other RIFF form", otherForm, false, "avihandle::avihandle Error:RIFF type AVI or AVIX expected"},
        {"not RIFF", notRiff, false, "RIFF header not found\n"},
        {"empty file", {}, false, nullptr},
        {"avi without stream headers", buildAvi({.segments = {{}}}).image, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.lines.clear();
        EXPECT_TRUE(parse(c.image, false, c.skipAudio)->bError);
        EXPECT_TRUE(!c.message || log.has(c.message));
    }
    EXPECT_TRUE(avihandle(dir.path("absent").c_str(), false, false).bError &&
                log.has("avihandle::avihandle Unable to open file"));
}

TEST_F(AviParser, FrameRatesBufferSizesAndPcmCountFromTheHeaders)
{
    // A corrupt rate (below 1 or above 300 frames a second) reverts to 29.97. Of audio chunks of
    // 4000, 6000 and 2000 bytes, an audio stream header without a buffer size takes the largest;
    // the main header's size is taken when larger. PCM is counted by its blocks even with a sample
    // size of 0, which makes a compressed stream a codec frame a chunk; extensible PCM is served as
    // its first 18 bytes, tagged PCM.
    const Bytes extensible = extensibleFormat(6, 48000, 24, WAVE_FORMAT_PCM);
    for (auto [rate, scale, reverted, audio, main, expectVideo, expectAudio] :
         {std::tuple{0u, 1u, true, 4000u, 3000u, 5000u, 4000u}, {25u, 0u, true, 4000u, 9000u, 9000u, 9000u},
          {1u, 2u, true, 0u, 9000u, 9000u, 6000u}, {301u, 1u, true, 0u, 0u, 5000u, 6000u},
          {300u, 1u, false, 4000u, 0u, 5000u, 4000u}, {1u, 1u, false, 4000u, 0u, 5000u, 4000u}})
        for (auto [strf, served, samples] : {std::tuple{pcm16, pcm16, 3000u},
                                             {extensible, bytesOf(waveFormat(WAVE_FORMAT_PCM, 6, 48000, 24)), 666u}}) {
            SCOPED_TRACE(testing::Message() << rate << "/" << scale << ", buffers " << audio << " " << main << ", "
                                            << served.size() << "-byte format");
            log.lines.clear();
            AviLayout layout = videoAndAudio(
                {{videoChunk(100), audioChunk(4000), videoChunk(100), audioChunk(6000), audioChunk(2000)}});
            std::tie(layout.streams[0].first.dwRate, layout.streams[0].first.dwScale) = std::tuple(rate, scale);
            layout.streams[0].first.dwSuggestedBufferSize = 5000;
            layout.streams[1].first.dwSuggestedBufferSize = audio;
            layout.streams[1].first.dwSampleSize = 0;
            layout.streams[1].second = strf;
            layout.avih.dwSuggestedBufferSize = main;
            auto h = parse(buildAvi(layout).image);
            ASSERT_FALSE(h->bError);
            EXPECT_EQ(log.has("Warning: framerate is corrupt! reverting to 29.97"), reverted);
            EXPECT_TRUE(h->dRate == (reverted ? 30000 : rate) && h->dScale == (reverted ? 1001 : scale));
            EXPECT_DOUBLE_EQ(h->dFrameRate, h->dRate / h->dScale);
            EXPECT_TRUE(h->nVideoBufferSize == expectVideo && h->nAudioBufferSize == expectAudio);
            EXPECT_EQ(log.has("avihandle::handleLISTstrl have to manually configure audiobuffer size"), audio == 0);
            EXPECT_TRUE(!memcmp(h->pAudioFormat, served.data(), served.size()) && h->nAudioBlockFrames == 0 &&
                        h->nAudioSamples == samples);
        }
}

TEST_F(AviParser, DvType1TakesSizeAndAudioFromTheFirstFrame)
{
    // Two frames; without skipVideo a PAL frame makes the format 576 lines high. An audio stream
    // beside the DV stream (48 kHz 24-bit mono) replaces neither the DV audio stream nor its format.
    for (auto [pal, smp, chn, skipVideo, skipAudio, pcmBeside, height, rate, samples] :
         {std::tuple{true, 2, 1, false, false, false, 576, 32000u, 2560u},
          {true, 2, 1, false, false, true, 576, 32000u, 2560u}, {false, 1, 0, false, false, false, 480, 44100u, 2942u},
          {true, 0, 0, true, false, false, 480, 48000u, 3840u}, {true, 2, 0, false, true, false, 576, 48000u, 0u}}) {
        SCOPED_TRACE(testing::Message() << pal << skipVideo << skipAudio << pcmBeside);
        DvFrameParams dv{.pal = pal};
        dv.audio[0] = dv.audio[1] = {.smp = uint8_t(smp), .chn = uint8_t(chn)};
        AviLayout layout = dvType1(std::vector<Bytes>(2, dvFrame(dv)), pal);
        if (pcmBeside) {
            layout.streams.push_back({{.fccType = FCC("auds"), .dwScale = 1, .dwRate = 48000, .dwSampleSize = 3},
                                      bytesOf(waveFormat(WAVE_FORMAT_PCM, 1, 48000, 24))});
            layout.avih.dwStreams = 2;
            layout.segments[0].push_back({"01wb", Bytes(300, 3)});
        }
        auto h = parse(buildAvi(layout).image, skipVideo, skipAudio);
        ASSERT_TRUE(!h->bError && h->bDVType1 && h->bHasVideo);
        EXPECT_TRUE(h->pVideoStream == h->pAudioStream && !h->pAudioSamples);
        const BITMAPINFOHEADER& v = *h->videoFormat();
        EXPECT_EQ(std::tuple(v.biWidth, v.biHeight, v.biCompression, v.biSizeImage, h->nVideoFormatSize,
                             h->nVideoBufferSize),
                  std::tuple(720, height, FCC("dvsd"), 120000u, 40u, 150000u));
        EXPECT_EQ(std::tuple(h->pAudioFormat->nSamplesPerSec, h->pAudioFormat->nAvgBytesPerSec, h->bDVTwoChannels,
                             h->nAudioBufferSize, h->nAudioSamples),
                  std::tuple(rate, skipAudio ? 192000 : rate * 4, chn != 0, skipAudio ? 0 : DVMaxAudioData, samples));
    }
}

TEST(DvFrameAnalysis, PacksPerHalfAndAudioInBlockOrder)
{
    // The two halves differ in their AAUX source packs; AF_SIZE counts the samples above the
    // system's and rate's least. The audio data of every audio block is copied in block order.
    // Blocks past a 525/60 frame are not walked: audio blocks there would show.
    for (auto [pal, smp, afSize, samples] : {std::tuple{false, 0, 20, 1600u}, {true, 0, 24, 1920u}, {true, 1, 0, 1742u},
                                             {false, 1, 40, 1492u}, {false, 2, 3, 1056u}, {true, 2, 63, 1327u},
                                             {false, 5, 7, 7u}}) {
        SCOPED_TRACE(testing::Message() << pal << " smp " << smp);
        DvFrameParams dv = {.pal = pal, .timecode = 0x12345678, .vauxSource = 0xE0};
        dv.audio[0] = {uint8_t(afSize), uint8_t(smp), 1, 1, 2, true};  // AF_SIZE, SMP, QU, CHN, AUDIO_MODE, locked
        dv.audio[1] = {.afSize = uint8_t(afSize ^ 1), .smp = uint8_t(smp), .audioMode = 1};
        Bytes frame = dvFrame(dv), out(DVMaxAudioData + DVAudioDataSize, 0xEE), expected = out;
        const size_t walked = frame.size();
        frame.resize(DVFrameSize625);
        for (size_t at = walked; at < frame.size(); at += DVBlockSize)
            memcpy(&frame[at], "\x7F\x07\x00\x50\x3F\x00\x00\x10", 8);
        for (unsigned n = 0; n < (pal ? DVMaxAudioBlocks : 90); n++)
            for (unsigned i = 0; i < DVAudioDataSize; i++)
                expected[n * DVAudioDataSize + i] = dvAudioByte(n, i);
        tr_dv_aux aux = {};
        analyze_fr(&aux, out.data(), frame.data());
        EXPECT_EQ(out, expected);
        EXPECT_EQ(std::tuple(aux.valid, aux.width, aux.pal, aux.system, aux.height, aux.timecode),
                  std::tuple(1, 720, pal, pal ? 0x20 : 0, pal ? 576 : 480, 0x12345638u));
        const tr_dv_audio &a = aux.audio[0], &b = aux.audio[1];
        EXPECT_EQ(std::tuple(a.locked, a.QU, a.CHN, a.AUDIO_MODE, a.SMP, a.fiftySixty, a.samples),
                  std::tuple(1, 1, 1, 2, smp, pal, samples));
        EXPECT_EQ(std::tuple(b.locked, b.QU, b.CHN, b.AUDIO_MODE, b.SMP, b.samples),
                  std::tuple(0, 0, 0, 1, smp, samples - afSize + (afSize ^ 1)));
        EXPECT_TRUE(aux.vauxBW == 1 && aux.vauxEN == 1 && aux.vauxCLF == 2);
    }
    // A frame without a header block is walked whole and gives at most 108 blocks of audio.
    Bytes frame = dvFrame({}), out(DVMaxAudioData + DVAudioDataSize, 0xEE), expected = out;
    for (size_t at = 0; at < frame.size(); at += DVBlockSize)
        frame[at] = 0x7F;  // every block an audio block
    for (unsigned n = 0; n < DVMaxAudioBlocks; n++)
        std::copy_n(&frame[n * DVBlockSize + 8], DVAudioDataSize, &expected[n * DVAudioDataSize]);
    tr_dv_aux aux = {};
    analyze_fr(&aux, out.data(), frame.data());
    EXPECT_EQ(aux.valid, 0);
    EXPECT_EQ(out, expected);
}

}  // namespace
