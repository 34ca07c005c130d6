// Files damaged where a fault lay, read through the reader as a host reads them: every frame in
// order and a few backwards, and all the audio window by window, with every byte handed out
// touched. A load may fail or throw its message, but none may crash, hang, leak or read past a
// buffer (this suite also runs under AddressSanitizer).
#include <gtest/gtest.h>

#include "InChild.h"
#include "MediaFiles.h"
#include "RiffBuilder.h"
#include "ombrix/AVIReader.h"

namespace {

const std::string stereo = lavfi("aevalsrc=0.6*sin(2*PI*440*t)|0.5*sin(2*PI*1000*t):s=48000");

// Frames of a DV stream written by the ffmpeg tool, in a type-1 file.
AviLayout dvType1Ntsc()
{
    const std::string dv =
        make("DamagedDvNtsc", ".dv", ffmpeg(testsrc("720x480", "30000/1001") + stereo,
                                            "-t 0.2 -c:v dvvideo -pix_fmt yuv411p -ac 2 -f dv"));
    return dvType1(packets(dv, AVMEDIA_TYPE_VIDEO), false);
}

// The chunks of a small MJPEG and PCM file in three OpenDML segments, each with its ix## indexes;
// "dmlh" claims `frames`, or as many as there are.
Bytes openDml(DWORD frames = 0)
{
    const std::string path = make("DamagedOpenDmlSource", ".avi",
                                  ffmpeg(testsrc("64x48", "25") + stereo, "-t 0.48 -c:v mjpeg -c:a pcm_s16le -ac 2"));
    const std::vector<Bytes> video = packets(path, AVMEDIA_TYPE_VIDEO), audio = packets(path, AVMEDIA_TYPE_AUDIO);
    std::vector<std::vector<AviChunk>> segments(3);
    for (size_t i = 0; i < std::max(video.size(), audio.size()); i++) {
        std::vector<AviChunk>& segment = segments[std::min(i * segments.size() / video.size(), segments.size() - 1)];
        if (i < video.size())
            segment.push_back({"00dc", video[i]});
        if (i < audio.size())
            segment.push_back({"01wb", audio[i]});
    }
    AviLayout layout = videoAndAudio(segments);
    layout.superIndex = true;
    layout.dmlhFrames = frames ? frames : DWORD(video.size());
    return buildAvi(layout).image;
}

// Runs a load; a message thrown from it is an answer too.
template <class Load>
void answer(Load load)
{
    try {
        load();
    } catch (const char*) {
    }
}

// Reads what the file offers, touching every byte handed out: every frame (up to maxFrames) and
// the one after, the last few backwards in single-frame mode, nothing into an empty buffer, every
// window of audio (up to maxSamples) and one past the end, and the last frame and window the
// record claims, however far; each buffer exactly as long as the record promises.
void readAll(const std::string& path, unsigned maxFrames, unsigned maxSamples)
{
    Ombrix_FileInfo info;
    AVIReader reader(std::string(path).data(), &info, false, false);
    if (!reader.GetIsValidAVIFile())
        return;
    const auto load = [&](unsigned frame, bool single) {
        answer([&] {
            if (unsigned char* picture = reader.LoadVideoFrame(frame, info.Rate, info.Scale, single)) {
                touch(picture, frameBytes(info));
                reader.ReleaseVideoFrame(picture);
            }
        });
    };
    const unsigned frames = std::min(info.NumFrames, maxFrames);
    for (unsigned frame = 0; frame <= frames; frame++)
        load(frame, false);
    for (unsigned frame = frames; frame-- > 0 && frames - frame <= 4;)
        load(frame, true);
    load(info.NumFrames - 1, false);
    constexpr unsigned Window = 3000;
    std::vector<unsigned char> pcm(Window * sampleBytes(info));
    answer([&] { reader.LoadAudioSamples(nullptr, 0, 0, false); });
    for (unsigned start = 0; start < std::min(info.NumSamples, maxSamples) + Window; start += Window)
        answer([&] { reader.LoadAudioSamples(pcm.data(), start, Window, false); });
    answer([&] { reader.LoadAudioSamples(pcm.data(), std::max(info.NumSamples, Window) - Window, Window, false); });
}

// Video and an audio stream without a format: its chunks are indexed as audio, but the file
// has none that the reader can describe.
Bytes audioWithoutFormat()
{
    AviLayout layout = videoAndAudio({{videoChunk(100), audioChunk(24000), videoChunk(100), audioChunk(24000)}});
    layout.streams[1].second.clear();
    return buildAvi(layout).image;
}

// Files damaged where a fault lay, read as above:
// - a header that claims far more frames than the index holds (OpenDML's "dmlh"): the frames past
//   the index's last entry, which all repeat it, were walked one by one, for video and DV audio;
// - an audio stream without a format: its chunks were served as PCM that the record does not describe;
// - a type-1 DV file with a mono stream header: the record said mono, the frames' stereo was served.
TEST(AviDamagedHandMade, FaultsFoundBefore)
{
    AviLayout claimedDv = dvType1Ntsc(), monoDv = dvType1Ntsc();
    claimedDv.superIndex = true;
    claimedDv.dmlhFrames = 0xFFFFFFF0;
    monoDv.streams.push_back({{.fccType = FCC("auds"), .dwScale = 2, .dwRate = 16000, .dwSampleSize = 2},
                              bytesOf(waveFormat(WAVE_FORMAT_PCM, 1, 8000, 16))});
    monoDv.avih.dwStreams = 2;
    const std::pair<const char*, Bytes> cases[] = {
        {"dmlh claims 0xFFFFFFF0 frames", openDml(0xFFFFFFF0)},
        {"a type-1 DV file whose dmlh claims 0xFFFFFFF0 frames", buildAvi(claimedDv).image},
        {"an audio stream without a format", audioWithoutFormat()},
        {"a type-1 DV file with a mono PCM stream header", buildAvi(monoDv).image},
    };
    ScratchDir dir;
    expectInChild([&] {
        for (const auto& [what, image] : cases) {
            fprintf(stderr, "%s\n", what);  // shown when the child fails
            alarm(10);
            readAll(dir.write("case.avi", image), 40, 100000);
        }
        return true;
    }, "a hand-made damaged file");
}

}  // namespace
