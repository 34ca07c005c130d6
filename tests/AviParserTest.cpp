// The RIFF walk of avihandle: WAV and AVI headers, pad bytes, the headers of the streams served,
// frame rates, audio formats, buffer sizes, messages, type-1 DV files and the DV frame analysis.
#include <gtest/gtest.h>

#include <filesystem>

#include "RiffBuilder.h"
#include "core/DebugOutput.h"

namespace {

struct AviParser : testing::Test, ParsedFiles {};

const Bytes pcm16 = bytesOf(waveFormat(WAVE_FORMAT_PCM, 2, 44100, 16));

AviLayout threeFrames()
{
    return videoAndAudio({{videoChunk(100), audioChunk(4000), videoChunk(110), videoChunk(120)}});
}

TEST_F(AviParser, WavIsOneStreamWithOneEntryCutToTheFile)
{
    // 402 bytes: 100 whole blocks. A size stored past the end keeps the bytes the file has.
    // Extensible PCM is PCM.
    for (auto [format, stored, align, samples] :
         {std::tuple{pcm16, 402u, 4, 100u}, {pcm16, 0xFFFFFFFFu, 4, 100u},
          {extensibleFormat(6, 48000, 24, WAVE_FORMAT_PCM), 402u, 18, 22u}}) {
        SCOPED_TRACE(testing::Message() << stored << " " << align);
        Bytes image = buildWav(format, 402, stored).image;
        auto h = parse(image);
        ASSERT_FALSE(h->bError);
        EXPECT_TRUE(log.has("avihandle::handleWAVE Warning: undefined chunk skipping over"));
        EXPECT_TRUE(h->bIdx1Index && h->bHasAudio && !h->bHasVideo && !h->bDVType1);
        EXPECT_TRUE(h->nFrames == 1 && h->nAudioSamples == samples && h->nAudioBufferSize == 100000);
        const WAVEFORMATEX& f = *h->pAudioFormat;
        EXPECT_TRUE(f.wFormatTag == WAVE_FORMAT_PCM && f.cbSize == 0 && f.nBlockAlign == align);
        ASSERT_TRUE(h->pAudioStream && h->pStreams == h->pAudioStream && !h->pStreams->next && h->nAudioChunks == 1);
        EXPECT_EQ(h->pAudioSamples[0].dwSamples, samples);
        ASSERT_TRUE(h->openavi());
        EXPECT_EQ(locate(*h, h->pAudioStream, 0).at, image.size() - 402);
        EXPECT_EQ(locate(*h, h->pAudioStream, 0).size, 402u);
        h->closeavi();
    }
}

TEST_F(AviParser, WavDataOfManyGiBIsSplitIntoEntries)
{
    // Sparse files: the data costs no disk. A streamed WAV's data runs to the end of the file, as
    // far as 32-bit sample counts reach.
    const ULONGLONG GiB = 1ull << 30;
    for (auto [stored, dataBytes, bits, expected] :
         {std::tuple{0xE0000000u, 7 * GiB / 2, 16, 7 * GiB / 2}, {0xFFFFFFFFu, 7 * GiB / 2, 16, 7 * GiB / 2},
          {0xFFFFFFFFu, 5 * GiB, 16, 5 * GiB}, {0xFFFFFFFFu, 5 * GiB, 8, 0xFFFFFFFFull}}) {
        SCOPED_TRACE(testing::Message() << stored << " " << dataBytes << " " << bits);
        const WORD channels = bits == 8 ? 1 : 2, align = WORD(channels * bits / 8);
        Bytes header = buildWav(bytesOf(waveFormat(WAVE_FORMAT_PCM, channels, 44100, WORD(bits))), 0, stored).image;
        names.push_back(dir.write("large" + std::to_string(names.size()), header));
        std::filesystem::resize_file(names.back(), header.size() + dataBytes);
        avihandle h(names.back().c_str(), false, false);
        ASSERT_FALSE(h.bError);
        EXPECT_EQ(h.nAudioSamples, expected / align);
        ASSERT_TRUE(h.openavi());
        ULONGLONG at = header.size(), samples = 0;
        for (DWORD i = 0; i < h.nAudioChunks; i++) {
            const Located e = locate(h, h.pAudioStream, i);
            EXPECT_TRUE(e.at == at && e.size <= GiB && h.pAudioSamples[i].dwStart == samples) << i;
            at += e.size;
            samples += h.pAudioSamples[i].dwSamples;
        }
        EXPECT_TRUE(at == header.size() + expected && samples == expected / align);
        h.closeavi();
    }
}

TEST_F(AviParser, OddChunksAreFollowedByAPadByte)
{
    // A chunk of odd size before the chunks that matter, in each list of an AVI the parser walks:
    // what follows it is found after its pad byte. The OpenDML file's "dmlh" states 7 frames; its
    // video stream holds 3, and those are its frames.
    RiffBuilder title;
    title.chunk("strn", Bytes{'T', 'e', 's', 't', 0});
    const Bytes odd = title.image;
    AviLayout openDml = threeFrames();
    openDml.superIndex = true;
    openDml.dmlhFrames = 7;
    const struct {
        const char* name;
        AviLayout layout;
        Bytes AviLayout::*where;
        DWORD frames;
    } cases[] = {
        {"after each strh", threeFrames(), &AviLayout::inStrl, 3},
        {"at the end of hdrl, before odml", openDml, &AviLayout::inHdrl, 3},
        {"in odml, before dmlh", openDml, &AviLayout::inOdml, 3},
        {"between hdrl and movi", threeFrames(), &AviLayout::afterHdrl, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AviLayout layout = c.layout;
        layout.*c.where = odd;
        const BuiltAvi built = buildAvi(layout);
        auto h = parse(built.image);
        ASSERT_FALSE(h->bError);
        EXPECT_TRUE(h->nFrames == c.frames && h->fccVideoHandler == FCC("MJPG") && h->videoFormat()->biWidth == 64);
        EXPECT_TRUE(h->pAudioFormat->nSamplesPerSec == 48000 && h->nAudioSamples == 1000);
        ASSERT_TRUE(h->openavi());
        EXPECT_EQ(locate(*h, h->pVideoStream, 2).at, built.dataAt[3]);
        h->closeavi();
    }
}

// The frame rate and frame count come from the video stream served (the last "vids"), the audio
// format and length cap from the audio stream served (the last "auds"), whatever stands before or
// after them.
TEST_F(AviParser, EachStreamsOwnHeader)
{
    const AVISTREAMHEADER video{.fccType = FCC("vids"), .fccHandler = FCC("MJPG"), .dwScale = 1001, .dwRate = 30000};
    const AVISTREAMHEADER pcm{.fccType = FCC("auds"), .dwScale = 1, .dwRate = 22050, .dwLength = 1000,
                              .dwSuggestedBufferSize = 4000, .dwSampleSize = 1};
    const AVISTREAMHEADER mp3{.fccType = FCC("auds"), .dwScale = 1152, .dwRate = 44100, .dwLength = 5,
                              .dwSuggestedBufferSize = 4000};
    const AVISTREAMHEADER text{.fccType = FCC("txts"), .dwScale = 1, .dwRate = 1000, .dwLength = 2};
    const Bytes bitmap = bytesOf(BITMAPINFOHEADER{40, 64, 48, 1, 24, FCC("MJPG")});
    const Bytes u8 = bytesOf(waveFormat(WAVE_FORMAT_PCM, 1, 22050, 8));
    Bytes mp3Format = bytesOf(waveFormat(0x55, 2, 44100, 0, 12));
    mp3Format.resize(mp3Format.size() + 12);
    const std::pair<AVISTREAMHEADER, Bytes> v{video, bitmap}, a{pcm, u8}, m{mp3, mp3Format}, t{text, Bytes(4)};
    // Each stream gets chunks by its type: 5 frames (key frames 0 and 3), 700-byte audio chunks,
    // text. The served audio stream holds 2100 samples, capped by its header at 1000.
    const struct {
        const char* name;
        std::vector<std::pair<AVISTREAMHEADER, Bytes>> streams;
        bool openDml;
    } cases[] = {
        {"audio before video, OpenDML", {a, v}, true},
        {"text and a second audio track around", {t, m, a, v, t}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AviLayout layout{.avih = {.dwTotalFrames = 9, .dwStreams = DWORD(c.streams.size())}, .streams = c.streams};
        layout.segments.resize(1);
        for (int i = 0; i < 5; i++)
            for (size_t s = 0; s < c.streams.size(); s++) {
                const std::string n{char('0' + s / 10), char('0' + s % 10)};
                const FOURCC type = c.streams[s].first.fccType;
                if (type == FCC("vids"))
                    layout.segments[0].push_back({n + "dc", Bytes(31 + i, 1), i % 3 == 0});
                else if (type == FCC("auds") && i < 3)
                    layout.segments[0].push_back({n + "wb", Bytes(700, 2)});
                else if (type == FCC("txts") && i == 0)
                    layout.segments[0].push_back({n + "tx", Bytes(3, 't')});
            }
        layout.superIndex = c.openDml;
        layout.dmlhFrames = c.openDml ? 5 : 0;
        auto h = parse(buildAvi(layout).image);
        ASSERT_FALSE(h->bError);
        EXPECT_TRUE(h->dRate == 30000 && h->dScale == 1001 && h->nFrames == 5);
        const std::vector<DWORD> keys(h->pKeyFrames, h->pKeyFrames + h->nKeyFrames);
        EXPECT_EQ(keys, c.openDml ? std::vector<DWORD>() : std::vector<DWORD>({0, 3}));
        DWORD key = 0;
        EXPECT_TRUE(h->findkeyframe(4, &key) && key == 3);
        EXPECT_TRUE(memcmp(h->pAudioFormat, u8.data(), u8.size()) == 0 && h->nAudioBlockFrames == 0);
        EXPECT_TRUE(h->nAudioChunks == 3 && h->nAudioSamples == 1000);
        EXPECT_TRUE(h->pVideoStream->fccType == FCC("vids") && h->pAudioStream->fccType == FCC("auds"));
    }

    // A type-1 DV file serves the audio of its frames: an audio stream beside it does not replace
    // the DV audio format (32 kHz 16-bit stereo here).
    DvFrameParams dv;
    dv.audio[0] = dv.audio[1] = {.smp = 2, .chn = 1};
    AviLayout layout = dvType1(dvFrame(dv), 2);
    layout.streams.push_back({pcm, bytesOf(waveFormat(WAVE_FORMAT_PCM, 1, 48000, 24))});
    layout.avih.dwStreams = 2;
    layout.segments[0].push_back({"01wb", Bytes(300, 3)});
    auto h = parse(buildAvi(layout).image);
    ASSERT_TRUE(!h->bError && h->bDVType1 && h->pAudioStream == h->pStreams);
    const WAVEFORMATEX& f = *h->pAudioFormat;
    EXPECT_EQ(std::tuple(f.nChannels, f.wBitsPerSample, f.nBlockAlign, f.nSamplesPerSec, h->nAudioSamples),
              std::tuple(2, 16, 4, 32000u, 2560u));
}

TEST_F(AviParser, AudioFormatsAsServed)
{
    // Extensible PCM is PCM: its first 18 bytes, tagged PCM. PCM is counted by its blocks whatever
    // the stream header's sample size; a compressed stream without one holds a codec frame a chunk.
    // Chunks of 4000, 6000 and 2000 bytes.
    WAVEFORMATEX layer3 = waveFormat(0x55, 2, 44100, 0, 12);
    layer3.nBlockAlign = 1;
    Bytes mp3 = bytesOf(layer3);
    mp3.resize(mp3.size() + 12, 0x77);
    const Bytes pcm = bytesOf(waveFormat(WAVE_FORMAT_PCM, 2, 48000, 16)), float32 = extensibleFormat(2, 48000, 32, 3);
    const struct {
        const char* name;
        Bytes strf;
        DWORD sampleSize, scale, rate;
        Bytes served;
        DWORD blockFrames, samples;
    } cases[] = {
        {"PCM without cbSize", Bytes(pcm.begin(), pcm.begin() + 16), 4, 1, 48000, pcm, 0, 3000},
        {"PCM of sample size 0", pcm, 0, 1, 48000, pcm, 0, 3000},
        {"extensible PCM", extensibleFormat(6, 48000, 24, WAVE_FORMAT_PCM), 18, 1, 48000,
         bytesOf(waveFormat(WAVE_FORMAT_PCM, 6, 48000, 24)), 0, 222 + 333 + 111},
        {"extensible float", float32, 8, 1, 48000, float32, 0, 1500},
        {"MP3", mp3, 0, 1152, 44100, mp3, 1152, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AviLayout layout = videoAndAudio({{videoChunk(100), audioChunk(4000), audioChunk(6000), audioChunk(2000)}});
        AVISTREAMHEADER& header = layout.streams[1].first;
        std::tie(header.dwSampleSize, header.dwScale, header.dwRate, header.dwLength) =
            std::tuple(c.sampleSize, c.scale, c.rate, 1u << 20);
        layout.streams[1].second = c.strf;
        auto h = parse(buildAvi(layout).image);
        ASSERT_FALSE(h->bError);
        EXPECT_EQ(Bytes((const uint8_t*)h->pAudioFormat, (const uint8_t*)h->pAudioFormat + c.served.size()), c.served);
        EXPECT_TRUE(h->nAudioBlockFrames == c.blockFrames && h->nAudioSamples == c.samples);
    }
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
    const struct {
        const char* name;
        Bytes image;
        bool skipAudio;
        const char* message;
    } cases[] = {
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

TEST_F(AviParser, FrameRatesAndBufferSizesFromTheHeaders)
{
    // A corrupt rate (below 1 or above 300 frames a second) reverts to 29.97. Of audio chunks of
    // 4000, 6000 and 2000 bytes, an audio stream header without a buffer size takes the largest;
    // the main header's size is taken when larger.
    for (auto [rate, scale, reverted, audio, main, expectVideo, expectAudio] :
         {std::tuple{0u, 1u, true, 4000u, 3000u, 5000u, 4000u}, {25u, 0u, true, 4000u, 9000u, 9000u, 9000u},
          {1u, 2u, true, 0u, 9000u, 9000u, 6000u}, {301u, 1u, true, 0u, 0u, 5000u, 6000u},
          {300u, 1u, false, 4000u, 0u, 5000u, 4000u}, {1u, 1u, false, 4000u, 0u, 5000u, 4000u},
          {30000u, 1001u, false, 4000u, 0u, 5000u, 4000u}}) {
        SCOPED_TRACE(testing::Message() << rate << "/" << scale << ", buffers " << audio << " " << main);
        log.lines.clear();
        AviLayout layout = videoAndAudio(
            {{videoChunk(100), audioChunk(4000), videoChunk(100), audioChunk(6000), audioChunk(2000)}});
        layout.streams[0].first.dwRate = rate;
        layout.streams[0].first.dwScale = scale;
        layout.streams[0].first.dwSuggestedBufferSize = 5000;
        layout.streams[1].first.dwSuggestedBufferSize = audio;
        layout.avih.dwSuggestedBufferSize = main;
        auto h = parse(buildAvi(layout).image);
        EXPECT_EQ(log.has("Warning: framerate is corrupt! reverting to 29.97"), reverted);
        EXPECT_TRUE(h->dRate == (reverted ? 30000 : rate) && h->dScale == (reverted ? 1001 : scale));
        EXPECT_DOUBLE_EQ(h->dFrameRate, h->dRate / h->dScale);
        EXPECT_TRUE(h->nVideoBufferSize == expectVideo && h->nAudioBufferSize == expectAudio);
        EXPECT_EQ(log.has("avihandle::handleLISTstrl have to manually configure audiobuffer size"), audio == 0);
    }
}

TEST_F(AviParser, ForeignListsAndTrailingDataAreSkippedAndFormatsCopied)
{
    AviLayout layout = threeFrames();
    Bytes& video = layout.streams[0].second;
    for (size_t i = video.size(); i < 1100; i++)
        video.push_back(uint8_t(i * 13));
    // A compressed audio format brings its cbSize extra bytes.
    Bytes& audio = layout.streams[1].second = bytesOf(waveFormat(0x55, 2, 44100, 0, 12));
    for (uint8_t i = 0; i < 12; i++)
        audio.push_back(uint8_t(0xA0 + i));
    RiffBuilder info;
    info.open("LIST", "INFO");
    info.chunk("ISFT", Bytes(9, 'x'));
    info.close();
    const struct {
        Bytes inHdrl, afterHdrl, trailing;
        const char* message;
    } cases[] = {
        {{}, info.image, {}, "avihandle::handleRIFF Error:Unable to define AVI list type"},
        {info.image, {}, {}, "avihandle::handleLISThdrl Warning:Unsupported list type"},
        {{}, {}, {'J', 'U', 'N', 'K', 4, 0, 0, 0, 1, 2, 3, 4},
         "avihandle::avihandle Warning:excess data beyond RIFF Chunk not defined as RIFF:AVIX\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        log.lines.clear();
        layout.inHdrl = c.inHdrl;
        layout.afterHdrl = c.afterHdrl;
        BuiltAvi built = buildAvi(layout);
        built.raw(c.trailing);
        auto h = parse(built.image);
        ASSERT_FALSE(h->bError);
        EXPECT_TRUE(log.has(c.message));
        EXPECT_TRUE(h->nFrames == 3 && h->bHasAudio && h->bHasVideo && h->fccVideoHandler == FCC("MJPG"));
        // Past its 1064 bytes a video format is cut, and the parse goes on to the audio stream.
        EXPECT_EQ(h->nVideoFormatSize, avihandle::VideoFormatCapacity);
        EXPECT_EQ(memcmp(h->pVideoFormat, video.data(), avihandle::VideoFormatCapacity), 0);
        EXPECT_EQ(memcmp(h->pAudioFormat, audio.data(), audio.size()), 0);
    }
}

TEST_F(AviParser, DvType1TakesSizeAndAudioFromTheFirstFrame)
{
    // Two frames; without skipVideo a PAL frame makes the format 576 lines high.
    for (auto [pal, smp, chn, skipVideo, skipAudio, height, rate, samples] :
         {std::tuple{true, 2, 1, false, false, 576, 32000u, 2560u}, {false, 1, 0, false, false, 480, 44100u, 2942u},
          {true, 0, 0, true, false, 480, 48000u, 3840u}, {true, 2, 0, false, true, 576, 48000u, 0u}}) {
        SCOPED_TRACE(testing::Message() << pal << skipVideo << skipAudio);
        DvFrameParams dv;
        dv.pal = pal;
        dv.audio[0] = dv.audio[1] = {.smp = uint8_t(smp), .chn = uint8_t(chn)};
        auto h = parse(buildAvi(dvType1(dvFrame(dv), 2, pal)).image, skipVideo, skipAudio);
        ASSERT_TRUE(!h->bError && h->bDVType1 && h->bHasVideo);
        EXPECT_TRUE(h->pVideoStream == h->pAudioStream && !h->pAudioSamples);
        const BITMAPINFOHEADER& v = *h->videoFormat();
        EXPECT_TRUE(v.biWidth == 720 && v.biCompression == FCC("dvsd") && v.biSizeImage == 120000 &&
                    h->nVideoFormatSize == 40 && h->nVideoBufferSize == 150000);
        EXPECT_EQ(v.biHeight, height);
        EXPECT_EQ(std::tuple(h->pAudioFormat->nSamplesPerSec, h->pAudioFormat->nAvgBytesPerSec, h->bDVTwoChannels,
                             h->nAudioBufferSize, h->nAudioSamples),
                  std::tuple(rate, skipAudio ? 192000 : rate * 4, chn != 0, skipAudio ? 0 : DVMaxAudioData, samples));
    }
}

TEST(DvFrameAnalysis, PacksAreRecordedPerHalf)
{
    // The two halves of the frame differ in their AAUX source packs; AF_SIZE counts the samples
    // above the system's and rate's least.
    for (auto [pal, smp, afSize, samples] : {std::tuple{false, 0, 20, 1600u}, {true, 0, 24, 1920u}, {true, 1, 0, 1742u},
                                             {false, 1, 40, 1492u}, {false, 2, 3, 1056u}, {true, 2, 63, 1327u},
                                             {false, 5, 7, 7u}}) {
        SCOPED_TRACE(testing::Message() << pal << " smp " << smp);
        DvFrameParams dv = {.pal = pal, .timecode = 0x12345678, .vauxSource = 0xE0};
        dv.audio[0] = {uint8_t(afSize), uint8_t(smp), 1, 1, 2, true};  // AF_SIZE, SMP, QU, CHN, AUDIO_MODE, locked
        dv.audio[1] = {.afSize = uint8_t(afSize ^ 1), .smp = uint8_t(smp), .audioMode = 1};
        Bytes frame = dvFrame(dv);
        frame.resize(DVFrameSize625);
        tr_dv_aux aux = {};
        analyze_fr0(&aux, frame.data());
        EXPECT_TRUE(aux.valid == 1 && aux.width == 720 && aux.pal == pal && aux.system == (pal ? 0x20 : 0) &&
                    aux.height == (pal ? 576 : 480));
        const tr_dv_audio &a = aux.audio[0], &b = aux.audio[1];
        EXPECT_EQ(std::tuple(a.locked, a.QU, a.CHN, a.AUDIO_MODE, a.SMP, a.fiftySixty),
                  std::tuple(1, 1, 1, 2, smp, pal));
        EXPECT_EQ(std::tuple(b.locked, b.QU, b.CHN, b.AUDIO_MODE, b.SMP), std::tuple(0, 0, 0, 1, smp));
        EXPECT_EQ(std::tuple(a.samples, b.samples, aux.timecode),
                  std::tuple(samples, samples - afSize + (afSize ^ 1), 0x12345638u));
        EXPECT_TRUE(aux.vauxBW == 1 && aux.vauxEN == 1 && aux.vauxCLF == 2);
    }
}

TEST(DvFrameAnalysis, AudioDataIsCopiedInBlockOrder)
{
    // A frame without a header block is walked whole and gives at most 108 blocks of audio.
    Bytes noHeader = dvFrame({});
    for (size_t at = 0; at < noHeader.size(); at += DVBlockSize)
        noHeader[at] = 0x7F;  // every block an audio block
    for (int pal : {0, 1, -1}) {
        SCOPED_TRACE(pal);
        DvFrameParams dv;
        dv.pal = pal;
        Bytes frame = pal < 0 ? noHeader : dvFrame(dv);
        const size_t walked = frame.size();
        frame.resize(DVFrameSize625);
        // Blocks past a 525/60 frame are not walked: audio blocks there would show.
        for (size_t at = walked; at < frame.size(); at += DVBlockSize)
            memcpy(&frame[at], "\x7F\x07\x00\x50\x3F\x00\x00\x10", 8);
        Bytes out(DVMaxAudioData + DVAudioDataSize, 0xEE);
        tr_dv_aux aux = {};
        analyze_fr(&aux, out.data(), frame.data());
        EXPECT_EQ(aux.valid, int(pal >= 0));
        const unsigned blocks = pal ? DVMaxAudioBlocks : 90;
        for (unsigned n = 0; n < blocks; n++)
            for (unsigned i = 0; i < DVAudioDataSize; i++)
                ASSERT_EQ(out[n * DVAudioDataSize + i], pal < 0 ? frame[n * DVBlockSize + 8 + i] : dvAudioByte(n, i));
        const auto rest = out.begin() + blocks * DVAudioDataSize;
        EXPECT_EQ(std::count(rest, out.end(), 0xEE), out.end() - rest);
    }
}

TEST_F(AviParser, OverlongMessagesAreCut)
{
    DebugOutput("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(log.lines, std::vector<std::string>{std::string(4095, 'x')});
}

}  // namespace
