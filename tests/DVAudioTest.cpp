// DV audio extraction: frames written by FFmpeg's dv muxer against FFmpeg's own extraction;
// 12-bit four-channel frames made here against libdv; lost samples, channel routing, and tiny,
// odd and damaged sample counts. Frames made here place their samples by the shuffle formula.
#include <gtest/gtest.h>
#include <libdv/dv.h>

#include "MediaFiles.h"
#include "RiffBuilder.h"
#include "avi/DVAudio.h"

namespace {

using Samples = std::vector<uint16_t>;
using Channels = std::array<Samples, 4>;  // 0 and 1 ride in audio block 0, 2 and 3 in block 1

const auto canary = [](uint8_t b) { return b == 0xCD; };

// Sample frames as decodeAudio writes them: left and right, 16-bit little-endian.
Bytes stereo(const Samples& left, const Samples& right)
{
    Bytes pcm;
    for (size_t i = 0; i < left.size(); i++)
        pcm.insert(pcm.end(), {uint8_t(left[i]), uint8_t(left[i] >> 8), uint8_t(right[i]), uint8_t(right[i] >> 8)});
    return pcm;
}

testing::AssertionResult samePcm(const Bytes& ours, const Bytes& expected)
{
    const auto differ = std::mismatch(ours.begin(), ours.end(), expected.begin(), expected.end()).first;
    return ours == expected ? testing::AssertionSuccess()
                            : testing::AssertionFailure() << ours.size() / 4 << " sample frames, expected " << expected.size() / 4
                                                          << "; first difference in frame " << (differ - ours.begin()) / 4;
}

// decodeAudio into a buffer with a canary past the most one frame may yield: nothing after the
// sample frames it reports may be touched.
Bytes decode(Bytes frame, char mode = 0)
{
    Bytes out(DVMaxAudioData + 64, 0xCD);
    frame.resize(DVFrameSize625);
    const int n = decodeAudio(frame.data(), out.data(), mode);
    const auto end = out.begin() + std::clamp(4 * n, 0, int(DVMaxAudioData));
    EXPECT_TRUE(n >= 0 && n <= int(DVMaxAudioFrames) && std::all_of(end, out.end(), canary)) << n;
    out.erase(end, out.end());
    return out;
}

// (a) Frames written by FFmpeg's dv muxer, against FFmpeg's own extraction of their audio.
struct DvFile { const char* name; bool pal; int rate; };
void PrintTo(const DvFile& f, std::ostream* out) { *out << f.name; }

class FFmpegDvFiles : public testing::TestWithParam<DvFile> {};

TEST_P(FFmpegDvFiles, EveryFrameAsFFmpegExtractsIt)
{
    const DvFile& f = GetParam();
    // Different material in the two channels; never -32768, which FFmpeg reads as 0.
    const std::string dv = make(f.name, ".dv",
        ffmpeg(testsrc(f.pal ? "720x576" : "720x480", f.pal ? "25" : "30000/1001") +
                   lavfi("aevalsrc=0.6*sin(2*PI*440*t)|0.5*sin(2*PI*1000*t)+0.3*random(0):s=" + std::to_string(f.rate)),
               "-t 2 -c:v dvvideo -pix_fmt " + std::string(f.pal ? "yuv420p" : "yuv411p") + " -c:a pcm_s16le -ac 2 -f dv"));
    const std::vector<Bytes> expected = packets(dv, AVMEDIA_TYPE_AUDIO), frames = packets(dv, AVMEDIA_TYPE_VIDEO);
    ASSERT_GE(expected.size(), 50u);
    ASSERT_EQ(frames.size(), expected.size());
    for (size_t i = 0; i < frames.size(); i++)
        ASSERT_TRUE(samePcm(decode(frames[i]), expected[i])) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Muxed, FFmpegDvFiles,
                         testing::Values(DvFile{"DvAudioPal48k", true, 48000}, DvFile{"DvAudioPal44k", true, 44100},
                                         DvFile{"DvAudioPal32k", true, 32000}, DvFile{"DvAudioNtsc48k", false, 48000}),
                         [](const auto& info) { return std::string(info.param.name); });

// (b) Unit n of a half in a frame from dvFrame: a 16-bit sample, or a 3-byte group of two 12-bit
// codes. It lies in DIF sequence (n/3 + 2(n mod 3)) mod S, audio block 3(n mod 3) + (n mod 3P)/P,
// at position n/3P (S = 5, P = 15 for 525/60; 6 and 18 for 625/50).
uint8_t* unitAt(Bytes& frame, bool pal, int half, unsigned n, unsigned size)
{
    const unsigned S = pal ? 6 : 5, P = pal ? 18 : 15;
    const unsigned sequence = (n / 3 + 2 * (n % 3)) % S, block = 3 * (n % 3) + n % (3 * P) / P;
    return &frame[((half * S + sequence) * 150 + 6 + 16 * block) * DVBlockSize + 8 + n / (3 * P) * size];
}

// A half's values as the decoder reads them: 16-bit big-endian; 12-bit codes two to a 3-byte
// group; 20-bit pairs in 5 bytes, the high 16 bits of each at bytes 0-1 and 3-4.
Bytes pack(uint8_t qu, const Samples& v)
{
    Bytes out;
    for (size_t i = 0; i < v.size(); i += qu ? 2 : 1) {
        const uint16_t x = v[i], y = i + 1 < v.size() ? v[i + 1] : 0;
        if (qu == 0)
            out.insert(out.end(), {uint8_t(x >> 8), uint8_t(x)});
        else if (qu == 1)
            out.insert(out.end(), {uint8_t(x >> 4), uint8_t(y >> 4), uint8_t((x & 15) << 4 | (y & 15))});
        else
            out.insert(out.end(), {uint8_t(x >> 8), uint8_t(x), 0xEE, uint8_t(y >> 8), uint8_t(y)});
    }
    return out;
}

// A 32 kHz frame of 12-bit codes, two channels per audio block.
Bytes fourChannelFrame(bool pal, const Channels& codes)
{
    DvFrameParams dv{.pal = pal};
    for (DvAudioPack& a : dv.audio)
        a = {.afSize = uint8_t(codes[0].size() - (pal ? 1264 : 1053)), .smp = 2, .qu = 1, .chn = 1};
    Bytes frame = dvFrame(dv);
    // libdv reads the system from the 50/60 bits of the VAUX and AAUX source packs too, applies
    // emphasis unless EF is set, and wants a source control pack saying normal speed.
    for (size_t at = 3; at < frame.size(); at += DVBlockSize)
        if (frame[at] == 0x50 || frame[at] == 0x60) {
            frame[at + 3] = uint8_t((frame[at + 3] & ~0x20) | (pal ? 0x20 : 0));
            if (frame[at] == 0x50)
                frame[at + 4] |= 0x80, memcpy(&frame[at + 16 * DVBlockSize], "\x51\x1C\xCF\xA0\xFF", 5);
        }
    for (int h : {0, 1})
        for (unsigned i = 0; i < codes[0].size(); i++)
            memcpy(unitAt(frame, pal, h, i, 3), pack(1, {codes[2 * h][i], codes[2 * h + 1][i]}).data(), 3);
    return frame;
}

// The four channels as libdv decodes them, unmixed, as two stereo pairs.
std::array<Bytes, 2> libdvPairs(const Bytes& frame)
{
    Channels c;
    int16_t* out[4];
    for (int i = 0; i < 4; i++)
        c[i].resize(DV_AUDIO_MAX_SAMPLES), out[i] = (int16_t*)c[i].data();
    dv_decoder_t* decoder = dv_decoder_new(0, 0, 0);
    dv_set_mixing_level(decoder, 16);
    EXPECT_TRUE(dv_parse_header(decoder, frame.data()) >= 0 && dv_decode_full_audio(decoder, frame.data(), out));
    for (Samples& samples : c)
        samples.resize(size_t(dv_get_num_samples(decoder)));
    dv_decoder_free(decoder);
    return {stereo(c[0], c[1]), stereo(c[2], c[3])};
}

TEST(DVAudio, FourChannelTwelveBitAsLibdvDecodesIt)
{
    // Every code but the lost-sample code: 4 x 1280 instants in 625/50, 4 x 1067 in 525/60.
    for (const auto& [pal, instants] : {std::pair{true, 1280u}, {false, 1067u}}) {
        Channels codes;
        for (unsigned c = 0; c < 4; c++)
            for (unsigned i = 0; i < instants; i++) {
                const unsigned code = (c * instants + i) % 4096;
                codes[c].push_back(uint16_t(code == 0x800 ? 0x801 : code));
            }
        const Bytes frame = fourChannelFrame(pal, codes);
        const std::array<Bytes, 2> expected = libdvPairs(frame);
        EXPECT_TRUE(samePcm(decode(frame, 1), expected[0])) << (pal ? "625/50" : "525/60");
        EXPECT_TRUE(samePcm(decode(frame, 2), expected[1])) << (pal ? "625/50" : "525/60");
    }
    // 12-bit pairs at 48 kHz claim 1959 instants; a 625/50 half holds 1296: the rest is silence.
    const DvAudioPack claim = {.afSize = 63, .qu = 1, .chn = 1};
    const Bytes ours = decode(dvFrame({.audio = {claim, claim}}), 1);
    ASSERT_EQ(ours.size(), 4 * DVMaxAudioFrames);
    EXPECT_TRUE(std::all_of(ours.begin() + 4 * 1296, ours.end(), [](uint8_t b) { return b == 0; }));
}

// (c) mix_audio over the channels with these AAUX source pack fields per block; a block with one
// channel carries channel 0 or 2.
struct BlockPack { uint8_t sm, chn, audioMode, qu; };

Bytes mix(BlockPack b0, BlockPack b1, const Channels& v, char mode = 0)
{
    const DWORD n = DWORD(v[0].size());
    tr_dv_aux aux{};
    Bytes half[2];
    for (int h : {0, 1}) {
        const BlockPack p = h ? b1 : b0;
        aux.audio[h] = {.samples = n, .SM = p.sm, .CHN = p.chn, .AUDIO_MODE = p.audioMode, .QU = p.qu};
        Samples values;
        for (DWORD i = 0; i < n; i++)
            for (int c = 0; c <= p.chn; c++)
                values.push_back(v[2 * h + c][i]);
        half[h] = pack(p.qu, values);
    }
    Bytes out(4 * n + 16, 0xCD);
    mix_audio(&aux, out.data(), half[0].data(), half[1].data(), mode);
    EXPECT_TRUE(std::all_of(out.begin() + 4 * n, out.end(), canary));
    out.resize(4 * n);
    return out;
}

TEST(DVAudio, LostSamples)
{
    // 16-bit 0x8000: in two-block stereo the other channel's sample of that instant, elsewhere 0x8001.
    const Samples x = {0x1234, 0x8000, 0x0101, 0x8000, 0x8000}, y = {0x4321, 0x0202, 0x8000, 0x8000, 0x7FFF};
    const Samples xFilled = {0x1234, 0x0202, 0x0101, 0x8000, 0x7FFF}, yFilled = {0x4321, 0x0202, 0x0101, 0x8000, 0x7FFF};
    EXPECT_TRUE(samePcm(mix({0, 0, 0, 0}, {0, 0, 1, 0}, {{x, {}, y, {}}}), stereo(xFilled, yFilled)));
    EXPECT_TRUE(samePcm(mix({0, 0, 0, 0}, {0, 0, 1, 0}, {{y, {}, x, {}}}), stereo(yFilled, xFilled)));
    EXPECT_TRUE(samePcm(mix({0, 0, 1, 0}, {0, 0, 0, 0}, {{x, {}, y, {}}}),
                        stereo({0x4321, 0x0202, 0x8001, 0x8001, 0x7FFF}, {0x1234, 0x8001, 0x0101, 0x8001, 0x8001})));
    // 12-bit 0x800 is read as 0x801.
    EXPECT_TRUE(samePcm(mix({0, 0, 0, 1}, {0, 0, 1, 1}, {{{0x800, 0x7FF, 0x800}, {}, {0x100, 0x800, 0xF00}, {}}}),
                        stereo({0x807F, 0x7FC0, 0x807F}, {0x100, 0x807F, 0xFF00})));
}

TEST(DVAudio, ChannelsRoutedByTheirPacks)
{
    // Codes below 0x200 expand to themselves, so that every quantisation carries the same values.
    const Channels v = {{{0x011, 0x1A5, 0x022, 0x133, 0x044}, {0x0AA, 0x1BB, 0x0CC, 0x1DD, 0x0EE},
                         {0x055, 0x166, 0x077, 0x188, 0x099}, {0x101, 0x012, 0x123, 0x034, 0x145}}};
    constexpr int None = -1;  // silence
    const struct { const char* name; BlockPack b0, b1; char mode; int left, right; } cases[] = {
        {"stereo", {0, 0, 0, 0}, {0, 0, 1, 0}, 0, 0, 2}, {"SM1 stereo", {1, 0, 3, 0}, {0, 0, 7, 0}, 0, 0, 2},
        {"stereo, mode 2", {0, 0, 0, 0}, {0, 0, 1, 0}, 2, 0, 2}, {"SM1, no block 1", {1, 0, 0, 0}, {0, 0, 15, 0}, 0, 0, None},
        {"left", {0, 0, 0, 0}, {0, 0, 0, 0}, 0, 0, None}, {"left, mode 2", {0, 0, 0, 0}, {0, 0, 0, 0}, 2, 2, None},
        {"swapped", {0, 0, 1, 0}, {0, 0, 0, 0}, 0, 2, 0}, {"swapped, mode 1", {0, 0, 1, 0}, {0, 0, 0, 0}, 1, 0, None},
        {"block 0 mono", {0, 0, 2, 0}, {0, 0, 15, 0}, 0, 0, 0}, {"block 1 mono", {0, 0, 15, 0}, {0, 0, 2, 0}, 0, 2, 2},
        {"no block 0, mode 1", {0, 0, 15, 0}, {0, 0, 2, 0}, 1, None, None},
        {"SM1 mode 5", {1, 0, 5, 0}, {0, 0, 1, 0}, 0, None, 2},
        {"12-bit stereo", {0, 0, 0, 1}, {0, 0, 1, 1}, 0, 0, 2}, {"12-bit SM1", {1, 0, 4, 1}, {0, 0, 15, 1}, 0, 0, None},
        {"20-bit stereo", {0, 0, 0, 2}, {0, 0, 1, 2}, 0, 0, 2}, {"4ch", {0, 1, 0, 1}, {0, 1, 0, 1}, 0, 0, 1},
        {"4ch, mode 2", {0, 1, 0, 1}, {0, 1, 0, 1}, 2, 2, 3}, {"4ch, no block 0", {0, 1, 15, 1}, {0, 1, 2, 1}, 0, 2, 3},
        {"4ch, block 1 mono", {0, 1, 15, 1}, {0, 1, 1, 1}, 0, 2, 2},
        {"4ch, block 0 mono", {0, 1, 6, 1}, {0, 1, 0, 1}, 0, 0, 0},
        {"4ch SM1", {1, 1, 4, 1}, {0, 1, 15, 1}, 0, 0, 1}, {"4ch SM1 mode 5", {1, 1, 5, 1}, {0, 1, 15, 1}, 0, None, None},
    };
    const Samples silence(5);
    auto channel = [&](int c) { return c == None ? silence : v[c]; };
    for (const auto& c : cases)
        EXPECT_TRUE(samePcm(mix(c.b0, c.b1, v, c.mode), stereo(channel(c.left), channel(c.right)))) << c.name;
}

TEST(DVAudio, SampleCountsTinyOddAndDamaged)
{
    const struct { bool pal; uint8_t smp, afSize[2]; unsigned frames; } cases[] = {
        {true, 7, {0, 0}, 0}, {true, 7, {1, 1}, 1}, {false, 7, {3, 3}, 3},  // a rate code without a minimum count
        {false, 0, {20, 20}, 1600}, {true, 0, {24, 24}, 1920}, {false, 0, {63, 63}, 1643},
        {true, 0, {24, 20}, 1920}, {true, 0, {63, 63}, 1944},  // 1959 claimed: no more than one frame's room
    };
    for (const auto& c : cases) {
        DvFrameParams dv{.pal = c.pal};
        dv.audio[0] = {.afSize = c.afSize[0], .smp = c.smp};
        dv.audio[1] = {.afSize = c.afSize[1], .smp = c.smp, .audioMode = 1};
        Bytes frame = dvFrame(dv);
        // Frames past block 1's count, or past the samples a half holds, are silent.
        const unsigned held = c.pal ? 1944 : 1620, filled = std::min(c.frames - (c.afSize[0] - c.afSize[1]), held);
        Samples channel[2];
        for (unsigned i = 0; i < c.frames; i++)
            for (int h : {0, 1}) {
                const uint16_t v = uint16_t(h ? 0xF000 - 17 * i : 33 * i + 1);
                channel[h].push_back(i < filled ? v : 0);
                if (i < held)
                    unitAt(frame, c.pal, h, i, 2)[0] = uint8_t(v >> 8), unitAt(frame, c.pal, h, i, 2)[1] = uint8_t(v);
            }
        EXPECT_TRUE(samePcm(decode(frame), stereo(channel[0], channel[1]))) << int(c.afSize[0]);
    }
}

}  // namespace
