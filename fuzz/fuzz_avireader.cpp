// Opens any input as a file for the reader and makes a few dozen requests that the input picks
// (through a generator seeded with it): frames anywhere, past the end, in single-frame mode, on
// another timeline and repeated; audio windows inside and past the end, continuing each other or
// not; the reader released and started again between them. Every frame handed out is read whole
// and every audio buffer is exactly as long as the record says, so that a short buffer or a long
// write is caught. Whatever the container and the coded data say, the reader must answer or
// refuse, never fault.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "ombrix/AVIReader.h"
#include "tests/TestSupport.h"

namespace {

unsigned long long hashOf(const uint8_t* data, size_t size)
{
    unsigned long long hash = 14695981039346656037ull;  // FNV-1a
    for (size_t i = 0; i < size; i++)
        hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

}  // namespace

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
    std::mt19937_64 random(hashOf(data, size));
    const auto below = [&](unsigned long long n) { return n ? random() % n : 0; };
    const size_t image = frameBytes(info), block = sampleBytes(info);
    long long frame = 0;
    unsigned audioEnd = 0;
    bool started = true;
    for (int request = 0; request < 40; request++) {
        try {
            switch (below(10)) {
            case 0: case 1: case 2: case 3: {
                const unsigned kind = below(8);
                frame = kind == 0 ? frame : kind == 1 ? frame + 1 : kind == 2 ? 1ll << 40 : below(info.NumFrames + 3ull);
                // Mostly the file's own timeline, sometimes NTSC's or one of no rate.
                const unsigned timeline = below(8);
                const long long rate = timeline == 0 ? 30000 : timeline == 1 ? 0 : info.Rate;
                const long long scale = timeline == 0 ? 1001 : info.Scale;
                if (unsigned char* picture = reader.LoadVideoFrame(frame, rate, scale, below(4) == 0)) {
                    touch(picture, image);
                    reader.ReleaseVideoFrame(picture);
                }
                break;
            }
            case 4: case 5: case 6: case 7: case 8: {
                const unsigned count = (unsigned)below(below(4) == 0 ? 20000 : 3000);
                const unsigned start = below(2) == 0 ? audioEnd : (unsigned)below(info.NumSamples + 2ull * count + 1);
                std::vector<unsigned char> pcm((size_t)count * block);  // exactly what the record promises
                reader.LoadAudioSamples(pcm.data(), start, count, false);
                audioEnd = start + count;
                break;
            }
            default:
                if (started)
                    reader.ReleaseStart();
                else
                    reader.AddStart();
                started = !started;
            }
        } catch (const char*) {
            // A message is an answer.
        }
    }
    return 0;
}
