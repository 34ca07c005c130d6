// `ombrix demo`: writes a few example files with the library's own writer (a moving picture and a
// tone through several codecs), shows what the parser finds in each, reads each back through the
// library's reader and makes a contact sheet of one.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "ContactSheet.h"
#include "Output.h"
#include "Record.h"
#include "avi/avihandle.h"

namespace {

struct Example {
    const char* name;
    const char* videoCodec;  // null: audio only
    const char* audioCodec;
    int width, height;
    unsigned rate, scale, seconds, sampleRate, channels;
};

const Example examples[] = {
    {"mjpeg-pcm.avi", "Motion JPEG", "Uncompressed PCM", 320, 240, 25, 1, 4, 48000, 2},
    {"mpeg4-mp3.avi", "MPEG-4 Part 2", "MP3", 320, 240, 30000, 1001, 4, 44100, 2},
    {"bgr24-bottom-up.avi", "Uncompressed (BGR24)", "Uncompressed PCM", 176, 144, 25, 1, 2, 44100, 1},
    {"uyvy.avi", "Uncompressed (UYVY)", "Uncompressed PCM", 176, 144, 25, 1, 2, 48000, 2},
    {"huffyuv-adpcm.avi", "HuffYUV (lossless)", "IMA ADPCM", 176, 144, 25, 1, 2, 44100, 2},
    {"surround-pcm.avi", nullptr, "Uncompressed PCM", 0, 0, 25, 1, 3, 48000, 6},
};

// Frame n of a picture that moves: colour bands sliding sideways over a vertical ramp, and a
// bright square running along the diagonal.
RgbPicture Picture(int width, int height, unsigned n)
{
    RgbPicture picture(width, height);
    const int square = std::max(8, height / 8), at = int(n * 4) % std::max(1, height - square);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            uint8_t* p = picture.Row(y) + 3 * x;
            const bool inSquare = x >= at && x < at + square && y >= at && y < at + square;
            const int band = ((x + int(n) * 3) / std::max(1, width / 8)) % 8;
            p[0] = inSquare ? 255 : uint8_t((band & 1) * 180 + y * 60 / height);
            p[1] = inSquare ? 255 : uint8_t((band >> 1 & 1) * 180 + y * 60 / height);
            p[2] = inSquare ? 255 : uint8_t((band >> 2 & 1) * 180 + y * 60 / height);
        }
    return picture;
}

// count sample frames from first of a tone, 16-bit, a pitch for each channel.
std::vector<int16_t> Tone(const Example& e, unsigned first, unsigned count)
{
    std::vector<int16_t> pcm(size_t(count) * e.channels);
    for (unsigned i = 0; i < count; i++)
        for (unsigned c = 0; c < e.channels; c++)
            pcm[size_t(i) * e.channels + c] =
                int16_t(9000 * std::sin(2 * M_PI * (330.0 + 110 * c) * double(first + i) / e.sampleRate));
    return pcm;
}

// The example written through the library's writer, the audio interleaved frame by frame.
void Write(const Example& e, const std::string& path)
{
    Output output;
    if (e.videoCodec)
        output.SelectVideoCodec(e.videoCodec);
    output.SelectAudioCodec(e.audioCodec);
    Ombrix_FileInfo info;
    info.HasVideo = e.videoCodec != nullptr;
    info.Width = e.width;
    info.Height = e.height;
    info.Rate = e.rate;
    info.Scale = e.scale;
    info.HasAudio = true;
    info.SampleRate = e.sampleRate;
    info.Channels = e.channels;
    info.BitsPerSample = 16;
    output.Open(path, info);
    const unsigned frames = info.HasVideo ? unsigned((unsigned long long)e.seconds * e.rate / e.scale) : 0;
    unsigned written = 0;
    const auto audioUntil = [&](unsigned end) {
        const std::vector<int16_t> pcm = Tone(e, written, end - written);
        output.PutAudio(pcm.data(), end - written);
        written = end;
    };
    for (unsigned n = 0; n < frames; n++) {
        output.PutFrame([&](uint8_t* buffer) { FromRgb(Picture(e.width, e.height, n), output.Format(), buffer); });
        audioUntil(unsigned((n + 1ULL) * e.scale * e.sampleRate / e.rate));
    }
    if (!frames)
        audioUntil(e.seconds * e.sampleRate);
    output.Close();
}

std::string fourcc(FOURCC f)
{
    std::string s;
    for (int i = 0; i < 4; i++) {
        char c = (char)(f >> (8 * i));
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

// True when the parser finds audio.
bool describe(const std::string& path)
{
    avihandle avi(path.c_str(), false, false);
    if (avi.bError) {
        printf("  the parser could not read this file\n");
        return false;
    }
    printf("  streams:");
    for (AVIstream* s = avi.pStreams; s; s = s->next)
        printf(" %s", s->fccType ? fourcc(s->fccType).c_str() : "(data)");
    printf("\n  index: %s\n", avi.bIdx1Index ? "built once at open (from idx1, a WAV data chunk, or the movi lists)"
                                            : "OpenDML super indexes, standard index chunks loaded as needed");
    if (avi.bHasVideo) {
        const BITMAPINFOHEADER* v = avi.videoFormat();
        printf("  video: %s %dx%d, %u bits, %u frames at %.0f/%.0f (%.3f fps), %u key frames, buffer %u\n",
               fourcc(v->biCompression ? v->biCompression : FCC("RGB ")).c_str(), v->biWidth, v->biHeight,
               v->biBitCount, avi.nFrames, avi.dRate, avi.dScale, avi.dFrameRate, avi.nKeyFrames,
               avi.nVideoBufferSize);
    }
    if (avi.bHasAudio) {
        const WAVEFORMATEX* a = avi.pAudioFormat;
        printf("  audio: format 0x%04x, %u channels, %u Hz, %u bits, block %u, %u sample frames in %u chunks%s\n",
               a->wFormatTag, a->nChannels, a->nSamplesPerSec, a->wBitsPerSample, a->nBlockAlign,
               avi.nAudioSamples, avi.nAudioChunks, avi.bDVType1 ? " (inside the DV frames)" : "");
    }
    return avi.bHasAudio;
}

// Every frame and every sample frame once, in order, through the reader.
void readAll(MediaFile& file)
{
    const Ombrix_FileInfo& info = file.Info();
    printf("  reader: %s\n", Summary(info).c_str());
    if (info.HasVideo) {
        for (unsigned int n = 0; n < file.Frames(); n++)
            file.Frame(n, true);
        printf("  read all %u frames\n", file.Frames());
    }
    if (info.HasAudio) {
        const unsigned int step = info.SampleRate ? info.SampleRate : 1;
        std::vector<unsigned char> buffer(size_t(step) * file.BytesPerSampleFrame());
        for (unsigned int start = 0; start < info.NumSamples; start += step)
            file.Samples(buffer.data(), start, std::min(step, info.NumSamples - start));
        printf("  read all %u sample frames\n", info.NumSamples);
    }
}

}  // namespace

int RunDemo(int argc, char**)
{
    if (argc != 0)
        throw UsageError("demo takes no arguments");
    std::string folder = (std::filesystem::temp_directory_path() / "ombrix-demo-XXXXXX").string();
    if (!mkdtemp(folder.data()))
        throw Failure("cannot make a temporary folder: " + std::string(strerror(errno)));
    int failures = 0;
    for (const Example& e : examples) {
        const std::string path = folder + "/" + e.name;
        printf("%s (written as %s%s%s)\n", e.name, e.videoCodec ? e.videoCodec : "", e.videoCodec ? " with " : "",
               e.audioCodec);
        try {
            Write(e, path);
        } catch (const std::exception& failure) {
            printf("  the writer could not make this example: %s\n", failure.what());
            failures++;
            continue;
        } catch (const char* message) {
            printf("  the writer could not be made: %s\n", message);
            failures++;
            continue;
        }
        const bool parsedAudio = describe(path);
        try {
            const auto file = MediaFile::ForCommand(path, false);
            readAll(*file);
            if (parsedAudio && !file->Info().HasAudio)
                printf("  the reader does not serve this audio: nothing decodes its format\n");
            if (&e == &examples[0]) {
                const std::string sheet = folder + "/contact-sheet.png";
                WritePng(ContactSheet(*file, 12, 4, 240), sheet);
                printf("  contact sheet: %s\n", sheet.c_str());
            }
        } catch (const std::exception& failure) {
            printf("  FAILED: %s\n", failure.what());
            failures++;
        }
    }
    printf("(example files are in %s)\n", folder.c_str());
    if (failures)
        printf("%d of %zu examples failed\n", failures, sizeof examples / sizeof *examples);
    return failures ? 1 : 0;
}
