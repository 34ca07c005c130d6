// Compressed AVI audio decoded by ACM_Tools and by the conversion stream under it, on files the
// ffmpeg tool writes, compared byte for byte with the ffmpeg tool's decode to the same PCM format.
#include <gtest/gtest.h>

#include <random>

#include "MediaFiles.h"
#include "RiffBuilder.h"
#include "TestSupport.h"
#include "ombrix/ACM_Tools.h"
#include "platform/acm/Acm.h"

namespace {

// Decoded to 8-bit unsigned or 16-bit signed; the stream's own count may fall short of the decode
// by shortBy PCM frames (a codec frame); decodeOptions are the reference decode's.
struct Coded { const char* name; std::string command; bool eightBit; unsigned shortBy; std::string decodeOptions; };

void PrintTo(const Coded& c, std::ostream* out) { *out << c.name; }

const std::string tone = lavfi("aevalsrc=0.5*sin(440*2*PI*t)|0.3*sin(660*2*PI*t+1):s=48000");
std::string withVideo(const std::string& audio, const char* seconds = "3")
{
    return ffmpeg(testsrc("64x48", "25") + tone, std::string("-t ") + seconds + " -c:v mpeg4 " + audio);
}

const Coded files[] = {
    {"Alaw", withVideo("-c:a pcm_alaw -ac 1 -ar 8000"), true, 0, ""},
    {"Mulaw", withVideo("-c:a pcm_mulaw -ac 2 -ar 8000"), true, 0, ""},
    {"Float", withVideo("-c:a pcm_f32le -ac 2 -ar 48000"), false, 0, ""},
    // 90 s: a count taken from whole seconds of the video drifts with the length.
    {"MsAdpcm", withVideo("-c:a adpcm_ms -ac 2 -ar 22050", "90"), false, 0, ""},
    {"ImaAdpcm", withVideo("-c:a adpcm_ima_wav -ac 2 -ar 22050"), false, 0, ""},
    {"Mp3", withVideo("-c:a libmp3lame -b:a 128k -ac 2 -ar 44100"), false, 0, ""},
    {"Mp3AudioOnly", ffmpeg(tone, "-t 2.5 -c:a libmp3lame -b:a 96k -ac 2 -ar 44100"), false, 0, ""},
    // mencoder's constant-rate MP3: frames that run across chunks, counted in bytes.
    {"Mp3Mencoder", "mencoder " + quote(make("AcmMencoderSource", ".avi", withVideo("-c:a pcm_s16le -ac 2 -ar 44100", "2.04"))) +
                        " -really-quiet -ovc lavc -lavcopts vcodec=mpeg4 -oac mp3lame -lameopts cbr:br=128 -o {out}",
     false, 1152, ""},
    // AC-3's noise for quiet bands, seeded per frame, does not depend on where decoding began.
    {"Ac3", withVideo("-c:a ac3 -ac 2 -ar 48000"), false, 0, "-cons_noisegen 1 "},
};

class AcmFile : public testing::TestWithParam<Coded> {};

// ACM_Tools serving the file: requests of assorted sizes that continue each other, and windows
// anywhere, all as the ffmpeg tool decodes the file. Then the conversion stream under it fed the
// file's audio cut anywhere, into destinations of any size: every conversion stays within the size
// announced for it, and the PCM is the ffmpeg tool's. With BLOCKALIGN the stream takes whole
// blocks only and leaves the rest to the caller; without it, it keeps the rest for the next
// conversion. A new start drops whatever the stream held and decodes from the beginning again.
// Headers must be prepared.
TEST_P(AcmFile, ToolsServeAndTheStreamDecodesAsFFmpegDoes)
{
    const Coded& c = GetParam();
    const std::string path = make(std::string("Acm") + c.name, ".avi", c.command);
    const std::string pcm = c.eightBit ? "-f u8 -c:a pcm_u8" : "-f s16le -c:a pcm_s16le";
    const Bytes reference = readFile(make(std::string("Acm") + c.name + "Pcm", ".raw",
                                          ffmpeg(c.decodeOptions + "-i " + quote(path) + " ", "-vn " + pcm)));
    avihandle parser(path.c_str(), true, false);
    const unsigned frameBytes = parser.pAudioFormat->nChannels * (c.eightBit ? 1 : 2);

    ACM_Tools tools(&parser);
    ASSERT_TRUE(tools.ACM_QueryAudioCompression());
    ASSERT_TRUE(parser.openavi());
    ASSERT_TRUE(tools.ACM_Open());
    // The stream's own length: what FFmpeg decodes, or at most a codec frame fewer.
    const unsigned total = tools.GetDestTotalAudioSamples();
    ASSERT_LE(total * frameBytes, reference.size());
    ASSERT_LE(reference.size() / frameBytes - total, c.shortBy);
    const Bytes expected(reference.begin(), reference.begin() + total * frameBytes);

    Bytes pieces(expected.size());
    std::mt19937 random(7);
    for (unsigned at = 0, n; at < total; at += n) {
        n = std::min(total - at, 1 + unsigned(random() % 5000));
        ASSERT_TRUE(tools.LoadAudioSamples(&pieces[at * frameBytes], at, n, false));
    }
    EXPECT_TRUE(pieces == expected);

    for (int i = 0; i < 12; i++) {
        const unsigned count = 1 + random() % 3000, start = i == 0 ? total - count : random() % (total - count);
        Bytes window(count * frameBytes);
        // An empty request at the same place must not pass for the start of a continuation.
        ASSERT_TRUE(i % 2 == 0 || tools.LoadAudioSamples(window.data(), start, 0, false));
        ASSERT_TRUE(tools.LoadAudioSamples(window.data(), start, count, false));
        EXPECT_TRUE(std::equal(window.begin(), window.end(), &expected[start * frameBytes])) << start << "+" << count;
    }
    EXPECT_FALSE(tools.LoadAudioSamples(pieces.data(), total - 9, 10, false));
    tools.ACM_Close();

    Bytes source;
    std::ifstream in(path, std::ios::binary);
    for (DWORD k = 0; k < parser.nAudioChunks; k++) {
        const Located chunk = locate(parser, parser.pAudioStream, k);
        source.resize(source.size() + chunk.size);
        in.seekg((std::streamoff)chunk.at).read((char*)&source[source.size() - chunk.size], chunk.size);
    }
    parser.closeavi();
    WAVEFORMATEX* format = parser.pAudioFormat;
    WAVEFORMATEX out = waveFormat(WAVE_FORMAT_PCM, format->nChannels, format->nSamplesPerSec, c.eightBit ? 8 : 16);
    HACMSTREAM stream;
    ASSERT_EQ(acmStreamOpen(&stream, nullptr, format, &out, nullptr, 0, 0, 0), 0u);
    Bytes decoded, buffer(reference.size() + (1 << 16));  // room for the whole stream at once
    random.seed(3);
    size_t used = 0;
    auto convert = [&](size_t at, size_t n, size_t room, DWORD flags) {
        ACMSTREAMHEADER header = {84, 0, 0, &source[at], DWORD(n), 0, 0, buffer.data(), DWORD(room)};
        DWORD bound = 0;
        ASSERT_EQ(acmStreamSize(stream, DWORD(n), &bound, ACM_STREAMSIZEF_SOURCE), 0u);
        ASSERT_EQ(acmStreamConvert(stream, &header, flags), MMRESULT(ACMERR_UNPREPARED));
        ASSERT_EQ(acmStreamPrepareHeader(stream, &header, 0), 0u);
        ASSERT_EQ(acmStreamConvert(stream, &header, flags), 0u);
        used = flags & ACM_STREAMCONVERTF_BLOCKALIGN ? n - n % std::max<size_t>(1, format->nBlockAlign) : n;
        EXPECT_EQ(header.cbSrcLengthUsed, used);
        EXPECT_LE(header.cbDstLengthUsed, std::min<size_t>(bound, room));
        EXPECT_TRUE(header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
        decoded.insert(decoded.end(), buffer.begin(), buffer.begin() + header.cbDstLengthUsed);
        ASSERT_EQ(acmStreamUnprepareHeader(stream, &header, 0), 0u);
        EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMRESULT(ACMERR_UNPREPARED));
    };
    for (size_t at = 0; at < source.size(); at += used) {
        const size_t n = std::min<size_t>(source.size() - at, 1 + random() % 4000);
        const DWORD flags = random() % 3 ? 0 : ACM_STREAMCONVERTF_BLOCKALIGN;
        ASSERT_NO_FATAL_FAILURE(convert(at, n, random() % 2 ? buffer.size() : frameBytes * (random() % 2000), flags));
    }
    ASSERT_LE(decoded.size(), reference.size());
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), reference.begin()));
    EXPECT_GT(decoded.size(), reference.size() * 9 / 10);

    const size_t first = decoded.size();
    ASSERT_NO_FATAL_FAILURE(convert(0, source.size(), buffer.size(), ACM_STREAMCONVERTF_START));
    EXPECT_TRUE(std::equal(decoded.begin() + first, decoded.end(), reference.begin()));
    EXPECT_GT(decoded.size() - first, reference.size() * 9 / 10);
    EXPECT_EQ(acmStreamClose(stream, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(AcmFfmpegWritten, AcmFile, testing::ValuesIn(files),
                         [](const testing::TestParamInfo<Coded>& info) { return std::string(info.param.name); });

// What the stream agrees to convert: compressed or PCM sources to PCM of the same rate and
// channels in 8 or 16 bits, for the codecs it can bound.
TEST(AcmStreamOpen, ConvertsOnlyToPcmOfTheSameShape)
{
    const WAVEFORMATEX alaw = waveFormat(6, 2, 8000, 8), pcm16 = waveFormat(WAVE_FORMAT_PCM, 2, 8000, 16);
    WAVEFORMATEX adpcm = waveFormat(2, 2, 22050, 4), mp3 = waveFormat(0x55, 2, 44100, 0), badAlign = pcm16;
    adpcm.nBlockAlign = 1024, mp3.nBlockAlign = 1, badAlign.nBlockAlign = 3;
    WAVEFORMATEX blockless = adpcm, oddRate = mp3;
    blockless.nBlockAlign = 0, oddRate.nSamplesPerSec = 44000;
    const struct { Bytes source; WAVEFORMATEX destination; MMRESULT expected; } cases[] = {
        {bytesOf(alaw), pcm16, MMSYSERR_NOERROR},
        {bytesOf(alaw), waveFormat(WAVE_FORMAT_PCM, 2, 8000, 8), MMSYSERR_NOERROR},
        {bytesOf(adpcm), waveFormat(WAVE_FORMAT_PCM, 2, 22050, 16), MMSYSERR_NOERROR},
        {bytesOf(mp3), waveFormat(WAVE_FORMAT_PCM, 2, 44100, 8), MMSYSERR_NOERROR},
        {extensibleFormat(2, 8000, 16, 1), pcm16, MMSYSERR_NOERROR},
        {extensibleFormat(2, 8000, 32, 3), pcm16, MMSYSERR_NOERROR},
        {extensibleFormat(2, 8000, 16, 2), pcm16, ACMERR_NOTPOSSIBLE},
        {bytesOf(waveFormat(0x1234, 2, 8000, 8)), pcm16, ACMERR_NOTPOSSIBLE},
        {bytesOf(blockless), waveFormat(WAVE_FORMAT_PCM, 2, 22050, 16), ACMERR_NOTPOSSIBLE},
        {bytesOf(oddRate), waveFormat(WAVE_FORMAT_PCM, 2, 44000, 16), ACMERR_NOTPOSSIBLE},
        {bytesOf(alaw), waveFormat(WAVE_FORMAT_PCM, 2, 8000, 24), ACMERR_NOTPOSSIBLE},
        {bytesOf(alaw), waveFormat(WAVE_FORMAT_PCM, 1, 8000, 16), ACMERR_NOTPOSSIBLE},
        {bytesOf(alaw), waveFormat(WAVE_FORMAT_PCM, 2, 16000, 16), ACMERR_NOTPOSSIBLE},
        {bytesOf(alaw), waveFormat(6, 2, 8000, 8), ACMERR_NOTPOSSIBLE},
        {bytesOf(alaw), badAlign, ACMERR_NOTPOSSIBLE},
    };
    for (const auto& c : cases) {
        WAVEFORMATEX destination = c.destination;
        EXPECT_EQ(acmStreamOpen(nullptr, nullptr, (WAVEFORMATEX*)c.source.data(), &destination, nullptr, 0, 0,
                                ACM_STREAMOPENF_QUERY),
                  c.expected)
            << "tag " << ((WAVEFORMATEX*)c.source.data())->wFormatTag << " to " << destination.wBitsPerSample
            << " bits, " << destination.nChannels << " channels at " << destination.nSamplesPerSec;
    }
}

}  // namespace
