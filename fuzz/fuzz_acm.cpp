// Random bytes as a compressed audio stream through the conversion stream calls. The first byte
// picks the source format and whether the PCM is 8 or 16 bits; then each piece is a 3-byte head
// (length, conversion flags, destination room) and that many source bytes. Every conversion must
// stay inside its buffers and within the size the stream announced for it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/acm/Acm.h"

namespace {

struct Source {
    WORD tag, channels;
    DWORD rate;
    WORD blockAlign, bits;
    std::vector<uint8_t> extra;
};

const Source sources[] = {
    {6, 1, 8000, 1, 8, {}},                                   // A-law
    {7, 2, 8000, 2, 8, {}},                                   // mu-law
    {3, 2, 48000, 8, 32, {}},                                 // IEEE float
    {WAVE_FORMAT_EXTENSIBLE, 6, 48000, 12, 16,                // extensible PCM
     {16, 0, 0x3f, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71}},
    {2, 2, 22050, 1024, 4,                                    // MS ADPCM, the standard coefficients
     {0xf4, 0x03, 7, 0, 0, 1, 0, 0, 0, 2, 0, 0xff, 0, 0, 0, 0, 0xc0, 0, 0x40, 0, 0xf0, 0, 0, 0, 0xcc, 1, 0x30, 0xff,
      0x88, 1, 0x18, 0xff}},
    {0x11, 2, 22050, 1024, 4, {0xf9, 0x03}},                  // IMA ADPCM
    {0x31, 1, 8000, 65, 0, {0x40, 0x01}},                     // GSM 6.10
    {0x55, 2, 44100, 1, 0, {1, 0, 2, 0, 0, 0, 0xa1, 1, 1, 0, 0x71, 5}},  // MP3
    {0x55, 1, 22050, 1, 0, {1, 0, 2, 0, 0, 0, 0xd0, 0, 1, 0, 0x71, 5}},  // MP3 at a low rate
    {0x50, 2, 48000, 576, 0, std::vector<uint8_t>(22)},      // MPEG layer 1/2
    {0x2000, 2, 48000, 3840, 0, {}},                          // AC-3
};

std::vector<uint8_t> waveFormat(const Source& s)
{
    std::vector<uint8_t> bytes(sizeof(WAVEFORMATEX) + s.extra.size());
    WAVEFORMATEX f = {s.tag, s.channels, s.rate, s.rate * s.blockAlign, s.blockAlign, s.bits, (WORD)s.extra.size()};
    memcpy(bytes.data(), &f, sizeof f);
    std::copy(s.extra.begin(), s.extra.end(), bytes.begin() + sizeof f);
    return bytes;
}

void check(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "%s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const Source& s = sources[data[0] % (sizeof sources / sizeof sources[0])];
    std::vector<uint8_t> source = waveFormat(s);
    const WORD bits = data[0] & 0x80 ? 8 : 16;
    WAVEFORMATEX destination = {WAVE_FORMAT_PCM, s.channels, s.rate, 0, (WORD)(s.channels * bits / 8), bits, 0};
    destination.nAvgBytesPerSec = s.rate * destination.nBlockAlign;
    WAVEFORMATEX* format = (WAVEFORMATEX*)source.data();
    const bool possible =
        acmStreamOpen(nullptr, nullptr, format, &destination, nullptr, 0, 0, ACM_STREAMOPENF_QUERY) == 0;
    HACMSTREAM stream = nullptr;
    check((acmStreamOpen(&stream, nullptr, format, &destination, nullptr, 0, 0, 0) == 0) == possible,
          "query and open disagree");
    if (!stream)
        return 0;
    std::vector<uint8_t> input, output;
    for (size_t at = 1; at + 3 <= size;) {
        const size_t length = std::min<size_t>((data[at] | data[at + 1] << 8) % 8193, size - at - 3);
        const uint8_t control = data[at + 2];
        at += 3;
        input.assign(data + at, data + at + length);
        at += length;
        DWORD bound = 0;
        check(acmStreamSize(stream, (DWORD)length, &bound, ACM_STREAMSIZEF_SOURCE) == 0, "no size");
        // Room for everything, half of it, a few frames, or none.
        const DWORD rooms[] = {bound, bound / 2, 7u * destination.nBlockAlign, 0};
        const DWORD room = rooms[control >> 6];
        output.assign(room + 1, 0);  // +1: never an empty vector's null pointer
        input.push_back(0);
        ACMSTREAMHEADER header = {};
        header.cbStruct = 84;
        header.pbSrc = input.data();
        header.cbSrcLength = (DWORD)length;
        header.pbDst = output.data();
        header.cbDstLength = room;
        check(acmStreamPrepareHeader(stream, &header, 0) == 0, "not prepared");
        const DWORD flags = (control & 1 ? ACM_STREAMCONVERTF_START : 0) | (control & 2 ? ACM_STREAMCONVERTF_BLOCKALIGN : 0);
        if (acmStreamConvert(stream, &header, flags) == 0) {
            check(header.cbSrcLengthUsed <= header.cbSrcLength, "used more source than given");
            check(header.cbDstLengthUsed <= room, "wrote past the destination");
            check(header.cbDstLengthUsed <= bound, "gave more than the size announced");
            check(header.cbDstLengthUsed % destination.nBlockAlign == 0, "partial sample frame");
        }
        check(acmStreamUnprepareHeader(stream, &header, 0) == 0, "not unprepared");
    }
    check(acmStreamClose(stream, 0) == 0, "not closed");
    return 0;
}
