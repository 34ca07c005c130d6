// The command-line host: reads and writes media files through the library.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

#include "Commands.h"

namespace {

struct Command {
    const char* name;
    const char* synopsis;
    const char* purpose;
    int (*run)(int argc, char** argv);
};

const Command commands[] = {
    {"info", "info FILE [--json]",
     "the file information records of AVIReader (AVI and WAV files), OmbrixReader and\n"
     "      Ombrix_GetFileInfo side by side, as a table or JSON",
     RunInfo},
    {"frames", "frames FILE N... [-o DIR] [--graph]", "file frames N as DIR/frame-N.png (DIR defaults to .)",
     RunFrames},
    {"audio", "audio FILE START COUNT -o OUT.wav [--graph]", "COUNT sample frames from START as a PCM WAV file",
     RunAudio},
    {"thumbs", "thumbs FILE -o SHEET.png [--count N] [--columns C] [--width W] [--graph]",
     "a contact sheet of N evenly spaced frames (12, 4 columns, 240 pixels wide)", RunThumbs},
    {"codecs", "codecs", "the writer's video and audio codecs with the indices that select them", RunCodecs},
    {"convert", "convert IN OUT [--video-codec N|NAME] [--audio-codec N|NAME] [--graph]",
     "IN rewritten as OUT through the library's writer (uncompressed UYVY and PCM unless chosen)", RunConvert},
    {"dvout", "dvout IN --to OUT.dv [--pal | --ntsc] [--graph]",
     "IN played out through the DV output to a DV device that writes the raw DV stream to OUT.dv\n"
     "      (PAL for 25-frame or 576-line material unless told)",
     RunDVOut},
    {"demo", "demo", "write example files with the library's writer, read them back and show what it finds", RunDemo},
};

void usage(FILE* out)
{
    fprintf(out, "usage: ombrix COMMAND ...\n");
    for (const Command& c : commands)
        fprintf(out, "  ombrix %s\n      %s\n", c.synopsis, c.purpose);
    fprintf(out,
            "frames, audio and thumbs read the AVI and WAV files AVIReader opens through it, and any\n"
            "other file FFmpeg reads through OmbrixReader; --graph reads every file through OmbrixReader.\n"
            "Exit codes: 0 done, 1 the file or the work failed, 2 usage error.\n");
}

}  // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);  // a closed pipe shows as a failed write
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "help") == 0) {
        usage(stdout);
        return 0;
    }
    for (const Command& c : commands) {
        if (strcmp(argv[1], c.name) != 0)
            continue;
        try {
            const int code = c.run(argc - 2, argv + 2);
            if (fflush(stdout) != 0 || ferror(stdout))
                throw Failure("cannot write to standard output");
            return code;
        } catch (const UsageError& e) {
            fprintf(stderr, "ombrix %s: %s\nusage: ombrix %s\n", c.name, e.what(), c.synopsis);
            return 2;
        } catch (const std::bad_alloc&) {
            fprintf(stderr, "ombrix %s: out of memory\n", c.name);
        } catch (const std::exception& e) {
            fprintf(stderr, "ombrix %s: %s\n", c.name, e.what());
        } catch (const char* text) {
            fprintf(stderr, "ombrix %s: %s\n", c.name, text);
        }
        return 1;
    }
    fprintf(stderr, "ombrix: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return 2;
}
