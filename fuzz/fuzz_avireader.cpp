// Opens any input as a file for the reader and pulls what it claims to hold: frames at both ends,
// in the middle and in single-frame mode, and audio at the start, the end and past it. Whatever
// the container and the coded data say, the reader must answer or refuse, never fault.
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "ombrix/AVIReader.h"
#include "tests/TestSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ScratchDir dir;
    static std::string path = dir.path("input.avi");
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || fwrite(data, 1, size, file) != size || fclose(file) != 0)
        abort();
    Ombrix_FileInfo info;
    AVIReader reader(path.data(), &info, false, false);
    if (!reader.GetIsValidAVIFile())
        return 0;
    reader.AddStart();
    if (info.HasVideo && info.NumFrames > 0) {
        const long long last = info.NumFrames - 1;
        for (long long frame : {last, 0LL, last / 2, last / 2 + 1, last + 1})
            if (unsigned char* image = reader.LoadVideoFrame(frame, info.Rate, info.Scale, frame == 0))
                reader.ReleaseVideoFrame(image);
    }
    const size_t sampleBytes = (size_t)info.Channels * (info.BitsPerSample / 8);
    if (info.HasAudio && info.NumSamples > 0 && sampleBytes > 0) {
        // Exactly what the record promises, so that a longer write is caught.
        const unsigned count = std::min<size_t>({info.NumSamples, 4096, (16u << 20) / sampleBytes});
        std::vector<unsigned char> pcm(count * sampleBytes);
        for (unsigned start : {0u, info.NumSamples - count, info.NumSamples - count / 2})
            reader.LoadAudioSamples(pcm.data(), start, count, false);
    }
    reader.ReleaseStart();
    return 0;
}
