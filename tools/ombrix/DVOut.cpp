// `ombrix dvout IN --to OUT.dv [--pal | --ntsc] [--graph]`: plays a file out through the DV output
// to a DV device that writes the raw DV stream to OUT.dv. Pictures are scaled to the DV frame and
// shown at DV's frame rate; sound at 48 kHz goes along (as 16-bit stereo).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Arguments.h"
#include "Commands.h"
#include "MediaFile.h"
#include "Progress.h"
#include "ombrix/Ombrix_DVOutput.h"
#include "ombrix/platform.h"

namespace {

constexpr const char* DeviceName = "ombrix DV file";
constexpr unsigned int DVSampleRate = 48000;

// The DV device while the command runs.
class FileDevice {
public:
    explicit FileDevice(const std::string& path)
    {
        if (!Ombrix_AddDVDeviceFile(DeviceName, path.c_str()))
            throw Failure(path + ": no DV device could be made for it");
    }
    ~FileDevice() { Ombrix_RemoveDVDevice(DeviceName); }
    FileDevice(const FileDevice&) = delete;
};

// One sample of PCM of the given width (unsigned at 8 bits) as 16 bits.
int16_t To16(const uint8_t* sample, unsigned int bytes)
{
    if (bytes == 1)
        return int16_t((sample[0] - 128) * 256);
    return int16_t(sample[bytes - 2] | sample[bytes - 1] << 8);
}

// count sample frames of the file's PCM as 16-bit stereo (a single channel on both sides, the
// first two of more).
void ToStereo16(const Ombrix_FileInfo& info, const uint8_t* from, unsigned int count, std::vector<int16_t>& to)
{
    const unsigned int bytes = info.BitsPerSample / 8, channels = info.Channels;
    to.resize(size_t(count) * 2);
    for (unsigned int i = 0; i < count; i++, from += size_t(bytes) * channels) {
        to[2 * i] = To16(from, bytes);
        to[2 * i + 1] = To16(from + (channels > 1 ? bytes : 0), bytes);
    }
}

}  // namespace

int RunDVOut(int argc, char** argv)
{
    Arguments arguments(argc, argv, {"--to"}, {"--pal", "--ntsc", "--graph"});
    const auto& words = arguments.Positional();
    const auto target = arguments.Value("--to");
    if (words.size() != 1 || !target || (arguments.Flag("--pal") && arguments.Flag("--ntsc")))
        throw UsageError("dvout takes one file, --to OUT.dv and at most one of --pal and --ntsc");
    const auto file = MediaFile::ForCommand(words[0], arguments.Flag("--graph"));
    const Ombrix_FileInfo& in = file->Info();
    const unsigned int frames = in.HasVideo ? file->Frames() : 0;
    if (!frames)
        throw Failure(words[0] + ": has no pictures to play out");
    // PAL for 25-frame or 576-line material unless told.
    const bool pal = arguments.Flag("--pal") ||
                     (!arguments.Flag("--ntsc") && (in.Height == 576 || (in.Rate == 25 * in.Scale && in.Height != 480)));
    const bool sound = in.HasAudio && in.NumSamples > 0 && in.SampleRate == DVSampleRate && in.BitsPerSample % 8 == 0 &&
                       in.BitsPerSample > 0 && in.Channels > 0;
    if (in.HasAudio && !sound)
        fprintf(stderr, "ombrix dvout: the sound (%u Hz) is not played: DV output takes 48000 Hz\n", in.SampleRate);

    FileDevice device(*target);
    Ombrix_DVOutput output(pal, sound);
    if (output.Error())
        throw Failure(*target + ": the DV output could not be built");
    Ombrix_FileInfo& info = output.GetInfo();
    const FrameFormat format{info.ColorSpace, info.Width, info.Height, info.BottomUp};
    // As many DV frames as the file lasts; each shows the file's frame of its start time.
    const unsigned long long length = (unsigned long long)frames * in.Scale * info.Rate;
    const unsigned int outFrames = unsigned((length + (unsigned long long)in.Rate * info.Scale - 1) /
                                            ((unsigned long long)in.Rate * info.Scale));
    std::vector<uint8_t> block;
    std::vector<int16_t> stereo;
    unsigned int samplesDone = 0, shown = ~0u;
    RgbPicture picture(1, 1);
    {
        Progress progress("playing out", outFrames);
        for (unsigned int n = 0; n < outFrames; n++) {
            const unsigned int source = unsigned(std::min<unsigned long long>(
                (unsigned long long)n * info.Scale * in.Rate / ((unsigned long long)info.Rate * in.Scale), frames - 1));
            if (source != shown)
                picture = Scaled(file->Frame(source, true), info.Width, info.Height);
            shown = source;
            unsigned char* buffer = output.AllocateVideoBuffer();
            if (!buffer)
                throw Failure(*target + ": the DV output takes no more frames");
            FromRgb(picture, format, buffer);
            output.ReleaseVideoBuffer(buffer);
            const unsigned int end = unsigned(
                std::min<unsigned long long>((n + 1ULL) * info.Scale * DVSampleRate / info.Rate, in.NumSamples));
            if (sound && end > samplesDone) {
                const unsigned int count = end - samplesDone;
                block.resize(size_t(count) * file->BytesPerSampleFrame());
                file->Samples(block.data(), samplesDone, count);
                ToStereo16(in, block.data(), count, stereo);
                if (!output.AddAudioSamples(stereo.data(), count))
                    throw Failure(*target + ": the DV output takes no more sound");
                samplesDone = end;
            }
            progress.Advance();
        }
    }
    printf("%s: %u %s frames, %u sample frames\n", target->c_str(), outFrames, pal ? "PAL" : "NTSC", samplesDone);
    return 0;
}
