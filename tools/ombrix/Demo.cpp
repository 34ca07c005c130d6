// `ombrix demo`: makes a few example files with the ffmpeg tool, shows what the parser finds in
// each, reads each through the library's reader and makes a contact sheet of one.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "ContactSheet.h"
#include "Record.h"
#include "avi/avihandle.h"

namespace {

struct Example {
    const char* name;
    const char* ffmpegArguments;
};

const Example examples[] = {
    {"mjpeg-pcm.avi",
     "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 "
     "-t 4 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2"},
    {"mpeg4-mp3.avi",
     "-f lavfi -i testsrc2=size=320x240:rate=30000/1001 -f lavfi -i sine=frequency=300:sample_rate=44100 "
     "-t 4 -c:v mpeg4 -g 12 -c:a libmp3lame -b:a 128k"},
    {"bgr24-bottom-up.avi",
     "-f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi -i sine=frequency=600:sample_rate=44100 "
     "-t 2 -vf vflip -c:v rawvideo -pix_fmt bgr24 -flipped_raw_rgb 1 -c:a pcm_s16le -ac 1"},
    {"uyvy.avi",
     "-f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi -i sine=frequency=700:sample_rate=48000 "
     "-t 2 -c:v rawvideo -pix_fmt uyvy422 -c:a pcm_s16le -ac 2"},
    {"dv-pal.avi",
     "-f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=frequency=1000:sample_rate=48000 "
     "-t 2 -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2"},
    {"surround-24bit.wav", "-f lavfi -i sine=frequency=500:sample_rate=48000 -t 3 -ac 6 -c:a pcm_s24le"},
};

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
        const std::string command =
            "ffmpeg -nostdin -hide_banner -loglevel error -y " + std::string(e.ffmpegArguments) + " '" + path + "'";
        printf("%s\n", e.name);
        if (system(command.c_str()) != 0) {
            printf("  the ffmpeg tool could not make this example\n");
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
