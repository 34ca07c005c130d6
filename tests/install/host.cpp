// A host that knows the library only through the umbrella header: it reads the WAV file named on
// the command line and prints what the reader finds, and the samples of sample frame 700.
#include <ombrix/ombrix.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    Ombrix_FileInfo info;
    AVIReader reader(argv[1], &info, true, false);
    short frame[2] = {0, 0};
    const bool loaded = reader.LoadAudioSamples(frame, 700, 1, false);
    std::printf("valid=%d samples=%u rate=%u channels=%u bits=%u loaded=%d frame700=%d,%d\n", reader.GetIsValidAVIFile(),
                info.NumSamples, info.SampleRate, info.Channels, info.BitsPerSample, loaded, frame[0], frame[1]);
    return 0;
}
