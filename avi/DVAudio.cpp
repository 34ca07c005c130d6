#include "DVAudio.h"

#include <cstring>

// Sample n of a half lies in DIF sequence (n/3 + 2(n mod 3)) mod S, audio block
// 3(n mod 3) + (n mod 3P)/P, at position n/3P (S = 5, P = 15 for 525/60; S = 6, P = 18 for 625/50).
const unsigned short ac_dv_adta_60_ofs[45] = {
    0, 15, 30, 10, 25, 40, 5,  20, 35, 3, 18, 33, 13, 28, 43, 8,  23, 38, 6, 21, 36, 1,  16,
    31, 11, 26, 41, 9, 24, 39, 4, 19, 34, 14, 29, 44, 12, 27, 42, 7, 22, 37, 2, 17, 32};
const unsigned short ac_dv_adta_50_ofs[54] = {
    0, 18, 36, 13, 31, 49, 8, 26, 44, 3, 21, 39, 16, 34, 52, 11, 29, 47, 6, 24, 42, 1,  19, 37, 14, 32, 50,
    9, 27, 45, 4,  22, 40, 17, 35, 53, 12, 30, 48, 7, 25, 43, 2,  20, 38, 15, 33, 51, 10, 28, 46, 5, 23, 41};

namespace {

const unsigned short a_12_add[16] = {0x0000, 0x0000, 0xFF00, 0xFE00, 0xFD00, 0xFC00, 0xFB00, 0xFA00,
                                     0x0601, 0x0501, 0x0401, 0x1301, 0x3201, 0x7101, 0xF000, 0xF000};
const unsigned char a_12_shl[16] = {0, 0, 1, 2, 3, 4, 5, 6, 6, 5, 4, 3, 2, 1, 0, 0};
const unsigned char a_12_sub[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 0, 0};

constexpr unsigned int HalfData60 = 45 * DVAudioDataSize;  // 3240 bytes
constexpr unsigned int HalfData50 = 54 * DVAudioDataSize;  // 3888 bytes

enum Quantisation { Linear16 = 0, Nonlinear12 = 1, Linear20 = 2 };
constexpr unsigned char NoAudioInfo = 15;

// Moves unit-sized pieces: piece j of block b goes to position ofs[b] + blocks x j.
void unshuffle(unsigned char* out, const unsigned char* in, const unsigned short* ofs, unsigned int blocks,
               unsigned int unit)
{
    const unsigned int perBlock = DVAudioDataSize / unit;
    for (unsigned int b = 0; b < blocks; b++)
        for (unsigned int j = 0; j < perBlock; j++)
            memcpy(out + (ofs[b] + blocks * j) * unit, in + b * DVAudioDataSize + j * unit, unit);
}

inline unsigned short bigEndian16(const unsigned char* p) { return (unsigned short)(p[0] << 8 | p[1]); }

inline void put16(unsigned char* out, unsigned short v)
{
    out[0] = (unsigned char)v;
    out[1] = (unsigned char)(v >> 8);
}

// Reads one block's samples frame by frame, as its quantisation and channel count pack them.
class BlockSamples {
public:
    BlockSamples(const tr_dv_audio& info, const unsigned char* data) : m_Info(info), m_Data(data) {}

    // The next frame's first channel, and its second where the block carries two.
    void next(unsigned short* first, unsigned short* second)
    {
        if (m_Info.AUDIO_MODE == NoAudioInfo)
            return;
        if (m_Info.QU == Linear16 && m_Info.CHN == 0) {
            *first = bigEndian16(m_Data);
            if (*first == 0x8000)
                *first = 0x8001;
            m_Data += 2;
        } else if (m_Info.QU == Nonlinear12 && m_Info.CHN == 0) {
            *first = decode_12nonlin(m_Phase == 0 ? m_Data[0] * 16 + (m_Data[2] >> 4)
                                                  : m_Data[1] * 16 + (m_Data[2] & 15));
            advance(3);
        } else if (m_Info.QU == Linear20 && m_Info.CHN == 0) {
            *first = bigEndian16(m_Data + (m_Phase == 0 ? 0 : 3));
            advance(5);
        } else if (m_Info.QU == Nonlinear12 && m_Info.CHN == 1) {
            // Four-channel audio: each 3-byte group holds one instant of the block's two channels.
            *first = decode_12nonlin(m_Data[0] * 16 + (m_Data[2] >> 4));
            *second = decode_12nonlin(m_Data[1] * 16 + (m_Data[2] & 15));
            m_Data += 3;
        }
    }

private:
    // Two frames share one group of bytes.
    void advance(unsigned int groupSize)
    {
        if (m_Phase == 1)
            m_Data += groupSize;
        m_Phase ^= 1;
    }

    const tr_dv_audio& m_Info;
    const unsigned char* m_Data;
    int m_Phase = 0;
};

// 16-bit stereo, left in block 0 and right in block 1: the common case, mixed the fast way.
bool isStereo16(const tr_dv_audio& b0, const tr_dv_audio& b1)
{
    return b0.AUDIO_MODE != NoAudioInfo && b1.AUDIO_MODE != NoAudioInfo && b0.QU == Linear16 && b1.QU == Linear16 &&
           b0.CHN == 0 && b1.CHN == 0 &&
           ((b0.SM == 1 && b0.AUDIO_MODE <= 4) ||
            (b0.SM == 0 && b0.AUDIO_MODE == 0 && b1.SM == 0 && b1.AUDIO_MODE == 1));
}

// Where each 16-bit sample of a half lies in the half's audio data, for 525/60 and 625/50: the
// shuffle tables turned around, so that the common case reads its samples in place.
struct SampleOffsets {
    unsigned short at[2][54 * 36];
    SampleOffsets()
    {
        for (int pal = 0; pal < 2; pal++) {
            const unsigned short* ofs = pal ? ac_dv_adta_50_ofs : ac_dv_adta_60_ofs;
            const unsigned blocks = pal ? 54 : 45;
            for (unsigned b = 0; b < blocks; b++)
                for (unsigned j = 0; j < 36; j++)
                    at[pal][ofs[b] + blocks * j] = (unsigned short)(b * DVAudioDataSize + 2 * j);
        }
    }
};

inline int routingMode(const tr_dv_audio& a) { return (a.SM * 16 + a.CHN) * 16 + a.AUDIO_MODE; }

}  // namespace

unsigned short decode_12nonlin(unsigned int code)
{
    if (code == 0x800)
        code = 0x801;
    unsigned int h = (code >> 8) & 15;
    return (unsigned short)(((((code + a_12_add[h]) & 0xFFFF) << a_12_shl[h]) - a_12_sub[h]) & 0xFFFF);
}

void unshuffle_adta_60_1ch(unsigned char* out, const unsigned char* in) { unshuffle(out, in, ac_dv_adta_60_ofs, 45, 2); }
void unshuffle_adta_50_1ch(unsigned char* out, const unsigned char* in) { unshuffle(out, in, ac_dv_adta_50_ofs, 54, 2); }
void unshuffle_adta_60_2ch(unsigned char* out, const unsigned char* in) { unshuffle(out, in, ac_dv_adta_60_ofs, 45, 3); }
void unshuffle_adta_50_2ch(unsigned char* out, const unsigned char* in) { unshuffle(out, in, ac_dv_adta_50_ofs, 54, 3); }

// Two frames a step: a 32-bit load holds two big-endian samples of a channel; a lost sample
// (0x8000) takes the other channel's sample of the same instant.
void mix_fast16stereo(unsigned char* out, const unsigned char* half0, const unsigned char* half1, unsigned int n)
{
    unsigned int i = 0;
    for (; i + 2 <= n; i += 2) {
        uint32_t a, b;
        memcpy(&a, half0 + 2 * i, 4);
        memcpy(&b, half1 + 2 * i, 4);
        // Byte-swap within each 16-bit half: two little-endian samples.
        a = ((a & 0x00FF00FFu) << 8) | ((a >> 8) & 0x00FF00FFu);
        b = ((b & 0x00FF00FFu) << 8) | ((b >> 8) & 0x00FF00FFu);
        uint32_t lostA = a ^ 0x80008000u, lostB = b ^ 0x80008000u;
        if (!(lostA & 0xFFFF) || !(lostA >> 16) || !(lostB & 0xFFFF) || !(lostB >> 16)) {
            unsigned short l0 = (unsigned short)a, l1 = (unsigned short)(a >> 16);
            unsigned short r0 = (unsigned short)b, r1 = (unsigned short)(b >> 16);
            a = (uint32_t)(l0 == 0x8000 ? r0 : l0) | (uint32_t)(l1 == 0x8000 ? r1 : l1) << 16;
            b = (uint32_t)(r0 == 0x8000 ? l0 : r0) | (uint32_t)(r1 == 0x8000 ? l1 : r1) << 16;
        }
        uint32_t frame0 = (a & 0xFFFF) | (b << 16), frame1 = (a >> 16) | (b & 0xFFFF0000u);
        memcpy(out + 4 * i, &frame0, 4);
        memcpy(out + 4 * i + 4, &frame1, 4);
    }
    for (; i < n; i++) {
        unsigned short l = bigEndian16(half0 + 2 * i), r = bigEndian16(half1 + 2 * i);
        put16(out + 4 * i, l == 0x8000 ? r : l);
        put16(out + 4 * i + 2, r == 0x8000 ? l : r);
    }
}

void mix_audio(const tr_dv_aux* aux, unsigned char* out, const unsigned char* half0, const unsigned char* half1,
               char mode)
{
    const tr_dv_audio& b0 = aux->audio[0];
    const tr_dv_audio& b1 = aux->audio[1];
    unsigned int n = b0.samples < b1.samples ? b0.samples : b1.samples;

    if (isStereo16(b0, b1)) {
        mix_fast16stereo(out, half0, half1, n);
        return;
    }

    BlockSamples block0(b0, half0), block1(b1, half1);
    const int m0 = routingMode(b0), m1 = routingMode(b1);
    for (unsigned int i = 0; i < n; i++) {
        unsigned short a = 0, b = 0, c = 0, d = 0, left = 0, right = 0;
        block0.next(&a, &c);
        block1.next(&b, &d);
        switch (m1) {
        case 0: left = b; break;
        case 1: right = b; break;
        case 2: case 17: left = right = b; break;
        case 16: case 18: left = b; right = d; break;
        default: break;
        }
        if (m0 == 0)
            left = a;
        else if (m0 == 1)
            right = a;
        else if (m0 == 2 || m0 == 17 || m0 == 22)
            left = right = a;
        else if (m0 == 16 || m0 == 18 || (m0 >= 256 && m0 <= 260) || (m0 >= 272 && m0 <= 276)) {
            left = a;
            right = c;
        }
        if (mode == 1) {
            left = a;
            right = c;
        } else if (mode == 2) {
            left = b;
            right = d;
        }
        put16(out + 4 * i, left);
        put16(out + 4 * i + 2, right);
    }
}

int decodeAudio(const unsigned char* frame, unsigned char* out, char mode)
{
    tr_dv_aux aux = {};
    unsigned char data[DVMaxAudioData] = {};
    analyze_fr(&aux, data, frame);
    // A damaged pack may claim more samples than a frame holds.
    for (tr_dv_audio& block : aux.audio)
        if (block.samples > DVMaxAudioFrames)
            block.samples = DVMaxAudioFrames;

    const unsigned int frames = aux.audio[0].samples;
    const unsigned int mixed = frames < aux.audio[1].samples ? frames : aux.audio[1].samples;
    if (isStereo16(aux.audio[0], aux.audio[1])) {
        static const SampleOffsets offsets;
        const unsigned int held = (aux.pal ? 54 : 45) * 36;
        const unsigned int n = mixed < held ? mixed : held;
        const unsigned short* at = offsets.at[aux.pal];
        const unsigned char* left = data;
        const unsigned char* right = data + (aux.pal ? HalfData50 : HalfData60);
        for (unsigned int i = 0; i < n; i++) {
            unsigned short l = bigEndian16(left + at[i]), r = bigEndian16(right + at[i]);
            put16(out + 4 * i, l == 0x8000 ? r : l);
            put16(out + 4 * i + 2, r == 0x8000 ? l : r);
        }
        // Frames past what a half holds, or what block 1 filled, are silent.
        memset(out + 4 * n, 0, 4 * (frames - n));
        return (int)frames;
    }

    // Each half as mix_audio reads it: room for the most frames a pack may claim here, at the
    // widest packing (two 12-bit channels a frame, 3 bytes).
    unsigned char halves[2][DVMaxAudioFrames * 3] = {};
    const unsigned char* source[2] = {data, data + (aux.pal ? HalfData50 : HalfData60)};
    for (int half = 0; half < 2; half++) {
        switch (aux.pal * 16 + aux.audio[half].QU) {
        case 0: unshuffle_adta_60_1ch(halves[half], source[half]); break;
        case 1: unshuffle_adta_60_2ch(halves[half], source[half]); break;
        case 16: unshuffle_adta_50_1ch(halves[half], source[half]); break;
        case 17: unshuffle_adta_50_2ch(halves[half], source[half]); break;
        default: break;
        }
    }
    mix_audio(&aux, out, halves[0], halves[1], mode);

    // Frames that block 1 did not fill are silent rather than stale.
    memset(out + 4 * mixed, 0, 4 * (frames - mixed));
    return (int)frames;
}
