// `ombrix convert IN OUT [--video-codec N|NAME] [--audio-codec N|NAME] [--graph]`: reads a file
// through either reader and writes it through the library's writer.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Arguments.h"
#include "Commands.h"
#include "MediaFile.h"
#include "Output.h"
#include "Progress.h"

namespace {

bool SameLayout(const FrameFormat& a, const FrameFormat& b)
{
    return a.colorSpace == b.colorSpace && a.width == b.width && std::abs(a.height) == std::abs(b.height) &&
           a.bottomUp == b.bottomUp;
}

size_t FrameBytes(const FrameFormat& format)
{
    const int bits = format.colorSpace == 3 ? 24 : format.colorSpace == 4 ? 32 : 16;
    return (size_t(format.width) * bits + 31) / 32 * 4 * size_t(std::abs(format.height));
}

// The file's audio up to sample frame end, in blocks of at most a second.
void CopyAudio(MediaFile& file, Output& output, unsigned int& done, unsigned int end, std::vector<uint8_t>& block)
{
    const unsigned int step = unsigned(block.size() / file.BytesPerSampleFrame());
    while (done < end) {
        const unsigned int count = std::min(step, end - done);
        file.Samples(block.data(), done, count);
        output.PutAudio(block.data(), count);
        done += count;
    }
}

}  // namespace

int RunConvert(int argc, char** argv)
{
    Arguments arguments(argc, argv, {"--video-codec", "--audio-codec"}, {"--graph"});
    const auto& words = arguments.Positional();
    if (words.size() != 2)
        throw UsageError("convert takes an input file and an output file");
    const auto file = MediaFile::ForCommand(words[0], arguments.Flag("--graph"));
    Output output;
    if (auto codec = arguments.Value("--video-codec"))
        output.SelectVideoCodec(*codec);
    if (auto codec = arguments.Value("--audio-codec"))
        output.SelectAudioCodec(*codec);

    Ombrix_FileInfo info = file->Info();
    info.HasVideo = info.HasVideo && file->Frames() > 0;
    info.HasAudio = info.HasAudio && info.NumSamples > 0;
    output.Open(words[1], info);
    const FrameFormat from = file->Format(), to = output.Format();
    const unsigned int frames = info.HasVideo ? file->Frames() : 0, samples = info.HasAudio ? info.NumSamples : 0;
    std::vector<uint8_t> block(info.HasAudio ? size_t(info.SampleRate) * file->BytesPerSampleFrame() : 0);
    unsigned int samplesDone = 0;
    {
        Progress progress("converting", frames ? frames : samples);
        for (unsigned int n = 0; n < frames; n++) {
            file->WithFrame(n, true, [&](const uint8_t* data) {
                output.PutFrame([&](uint8_t* buffer) {
                    if (SameLayout(from, to))
                        memcpy(buffer, data, FrameBytes(to));
                    else
                        FromRgb(ToRgb(from, data), to, buffer);
                });
            });
            // The audio that plays until the end of this frame.
            if (info.HasAudio) {
                const unsigned long long end = (n + 1ULL) * info.Scale * info.SampleRate / info.Rate;
                CopyAudio(*file, output, samplesDone, unsigned(std::min<unsigned long long>(end, samples)), block);
            }
            progress.Advance();
        }
        if (info.HasAudio) {
            const unsigned int before = samplesDone;
            CopyAudio(*file, output, samplesDone, samples, block);
            if (!frames)
                progress.Advance(samplesDone - before);
        }
    }
    output.Close();
    printf("%s: %u frames, %u sample frames\n", words[1].c_str(), frames, samplesDone);
    return 0;
}
