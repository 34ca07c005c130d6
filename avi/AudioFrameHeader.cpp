#include "AudioFrameHeader.h"

namespace {

// Kilobits per second by bit-rate index (1 to 14); index 0 (free format) and 15 are not frames.
const unsigned short mpeg1Rates[3][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // layer 1
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // layer 2
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};     // layer 3
const unsigned short mpeg2Rates[2][15] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},  // layer 1
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};      // layers 2 and 3
const unsigned int mpegSampleRates[3] = {44100, 48000, 32000};
// AC-3: kilobits per second by frmsizecod / 2, and sample rates by fscod.
const unsigned short ac3Rates[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160,
                                     192, 224, 256, 320, 384, 448, 512, 576, 640};
const unsigned int ac3SampleRates[3] = {48000, 44100, 32000};

bool ReadMpeg(const unsigned char* d, AudioFrameHeader* h)
{
    if (d[0] != 0xFF || (d[1] & 0xE0) != 0xE0)
        return false;
    const unsigned version = (d[1] >> 3) & 3;  // 0: MPEG-2.5, 2: MPEG-2, 3: MPEG-1
    const unsigned layer = 4 - ((d[1] >> 1) & 3);
    const unsigned rateIndex = d[2] >> 4, sampleIndex = (d[2] >> 2) & 3, padding = (d[2] >> 1) & 1;
    if (version == 1 || layer == 4 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3)
        return false;
    const bool mpeg1 = version == 3;
    const unsigned kbits = mpeg1 ? mpeg1Rates[layer - 1][rateIndex] : mpeg2Rates[layer == 1 ? 0 : 1][rateIndex];
    h->rate = mpegSampleRates[sampleIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    h->bitRate = kbits * 1000;
    h->samples = layer == 1 ? 384 : layer == 3 && !mpeg1 ? 576 : 1152;
    h->coefficient = layer == 1 ? 48 : h->samples / 8;
    h->bytes = layer == 1 ? (12 * h->bitRate / h->rate + padding) * 4 : h->coefficient * h->bitRate / h->rate + padding;
    h->kind = version << 2 | layer;
    return true;
}

bool ReadAc3(const unsigned char* d, AudioFrameHeader* h)
{
    const unsigned fscod = d[4] >> 6, frmsizecod = d[4] & 0x3F, bsid = d[5] >> 3;
    if (d[0] != 0x0B || d[1] != 0x77 || fscod == 3 || frmsizecod >= 38 || bsid > 10)
        return false;
    h->rate = ac3SampleRates[fscod];
    h->bitRate = ac3Rates[frmsizecod / 2] * 1000u;
    h->samples = 1536;
    h->coefficient = 192;
    // 16-bit words; at 44.1 kHz the odd codes carry one word more, so that the mean comes out right.
    const unsigned words = 96 * h->bitRate / h->rate + (fscod == 1 ? (frmsizecod & 1) : 0);
    h->bytes = words * 2;
    h->kind = 0x100;
    return true;
}

}  // namespace

bool AudioFrameHeader::Read(WORD formatTag, const unsigned char* data, size_t size, AudioFrameHeader* header)
{
    if (size < Size)
        return false;
    if (formatTag == 0x50 || formatTag == 0x55)
        return ReadMpeg(data, header);
    if (formatTag == 0x2000)
        return ReadAc3(data, header);
    return false;
}
