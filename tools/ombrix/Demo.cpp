// `ombrix demo`: makes a few example files with the ffmpeg tool and shows what the parser
// finds in each.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Commands.h"
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

void describe(const std::string& path)
{
    avihandle avi(path.c_str(), false, false);
    if (avi.bError) {
        printf("  the parser could not read this file\n");
        return;
    }
    printf("  streams:");
    for (AVIstream* s = avi.pStreams; s; s = s->next)
        printf(" %s", s->fccType ? fourcc(s->fccType).c_str() : "(data)");
    printf("\n  index: %s\n", avi.bIdx1Index ? "built once at open (idx1, or a WAV data chunk)"
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
}

}  // namespace

int RunDemo(int, char**)
{
    char folder[] = "/tmp/ombrix-demo-XXXXXX";
    if (!mkdtemp(folder)) {
        perror("ombrix demo: cannot make a temporary folder");
        return 1;
    }
    int failures = 0;
    for (const Example& e : examples) {
        std::string path = std::string(folder) + "/" + e.name;
        std::string command =
            "ffmpeg -nostdin -hide_banner -loglevel error -y " + std::string(e.ffmpegArguments) + " '" + path + "'";
        printf("%s\n", e.name);
        if (system(command.c_str()) != 0) {
            printf("  the ffmpeg tool could not make this example\n");
            failures++;
            continue;
        }
        describe(path);
    }
    printf("(example files are in %s)\n", folder);
    return failures ? 1 : 0;
}
