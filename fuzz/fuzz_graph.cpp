// Builds a graph over any input, saved under one of the extensions hosts open (so that the ASF
// Reader and the generic source both see damaged data), then seeks and reads at random through the
// two capture renderers: every held sample is read whole. Whatever the file says, building
// fails or the graph answers; it never faults or hangs.
#include <cstdio>
#include <random>

#include "tests/CaptureGraph.h"
#include "tests/TestSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ScratchDir dir;
    static const char* const extensions[] = {".wmv", ".wma", ".avi", ".mp4", ".mkv", ".mpg", ".dv", ".wav"};
    if (size < 1)
        return 0;
    const std::string path = dir.path(std::string("input") + extensions[data[0] % 8]);
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || fwrite(data + 1, 1, size - 1, file) != size - 1 || fclose(file) != 0)
        abort();
    CaptureGraph graph(path, data[0] & 8 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_UYVY);
    if (!graph.Ok())
        return 0;
    std::mt19937_64 random(size * 2654435761u + data[size / 2]);
    const LONGLONG duration = std::max<LONGLONG>(graph.Duration(), 1);
    for (int request = 0; request < 12; ++request) {
        const REFERENCE_TIME time = REFERENCE_TIME(random() % uint64_t(duration + duration / 4 + 1));
        if (!graph.Seek(time, time / 10000))
            break;
        for (Ombrix_RendererFilter* renderer : {graph.Video(), graph.Audio()}) {
            if (renderer == graph.Video() ? !graph.HasVideo() : !graph.HasAudio())
                continue;
            LONG bytes = 0;
            for (int n = int(random() % 3); n >= 0; --n) {
                const BYTE* bits = CaptureGraph::Held(renderer, nullptr, &bytes);
                if (!bits)
                    break;
                // A frame is read as the host reads it: the whole picture its format describes.
                const VIDEOINFOHEADER* format = renderer->Ombrix_RendererFilter_GetVideoInformation();
                touch(bits, format ? std::max<size_t>(format->bmiHeader.biSizeImage, size_t(bytes)) : size_t(bytes));
                renderer->ReleaseSample();
            }
        }
    }
    return 0;
}
