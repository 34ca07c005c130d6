// Real files cut short and with bytes changed, read through the reader as a host reads them: every
// frame in order and a few backwards, and all the audio window by window, with every byte handed
// out touched. A damaged copy may be refused, and a load may fail or throw its message, but none
// may crash, hang, leak or read past a buffer (this suite also runs under AddressSanitizer).
#include <gtest/gtest.h>

#include <random>

#include "InChild.h"
#include "MediaFiles.h"
#include "RiffBuilder.h"
#include "ombrix/AVIReader.h"

namespace {

struct Source {
    const char* name;
    const char* extension;
    Bytes (*image)();
    unsigned cuts, changes;  // damaged copies of each kind
};
void PrintTo(const Source& source, std::ostream* out) { *out << source.name; }

const std::string qcif = testsrc("176x144", "25"),
                  stereo = lavfi("aevalsrc=0.6*sin(2*PI*440*t)|0.5*sin(2*PI*1000*t):s=48000");

Bytes fromTool(const char* stem, const std::string& command) { return readFile(make(stem, ".avi", command)); }

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

const Source sources[] = {
    {"Mpeg4BFramesPcm", ".avi",
     [] { return fromTool("DamagedMpeg4BFrames", ffmpeg(qcif + stereo, "-t 0.8 -c:v mpeg4 -g 8 -bf 2 -c:a pcm_s16le -ac 2")); },
     120, 160},
    // mencoder's MP3 runs across its chunks.
    {"MencoderMjpegMp3", ".avi",
     [] {
         const std::string source = make("DamagedMencoderSource", ".avi",
                                         ffmpeg(qcif + stereo, "-t 0.8 -c:v mjpeg -c:a pcm_s16le -ac 2"));
         return fromTool("DamagedMencoderMjpegMp3", "mencoder " + quote(source) + " -really-quiet -ovc lavc -lavcopts "
                                                    "vcodec=mjpeg -oac mp3lame -lameopts cbr:br=96 -o {out}");
     },
     120, 160},
    {"DvType1Ntsc", ".avi", [] { return buildAvi(dvType1Ntsc()).image; }, 60, 80},
    {"Wav", ".wav", [] { return readFile(make("DamagedWav", ".wav", ffmpeg(stereo, "-t 0.3 -c:a pcm_s16le"))); }, 80, 120},
    {"Mpeg4Alaw", ".avi",
     [] { return fromTool("DamagedMpeg4Alaw", ffmpeg(qcif + stereo, "-t 0.8 -c:v mpeg4 -g 12 -bf 0 -c:a pcm_alaw -ac 2")); },
     120, 160},
    {"OpenDml", ".avi", [] { return openDml(); }, 120, 160},
    // Stored frames are handed out in place, from the read buffers.
    {"UyvyPcmU8", ".avi",
     [] { return fromTool("DamagedUyvy", ffmpeg(qcif + stereo, "-t 0.48 -c:v rawvideo -pix_fmt uyvy422 -c:a pcm_u8 -ac 2")); },
     60, 100},
};

// Damaged copy i of a file: the first `cuts` copies are cut short (half of them in the headers),
// the others have one to four bytes or 32-bit fields changed, mostly in the headers and the
// index at the end. Each copy is made from its own seed.
Bytes damaged(const Bytes& original, unsigned i, unsigned cuts, std::string* what)
{
    std::mt19937 random(i);
    const auto below = [&](size_t n) { return n ? size_t(random() % n) : 0; };
    const size_t size = original.size(), head = std::min<size_t>(size, 4096);
    if (i < cuts) {
        const size_t length = i % 2 ? below(head) : below(size);
        *what = "cut to " + std::to_string(length) + " bytes";
        return Bytes(original.begin(), original.begin() + length);
    }
    Bytes copy = original;
    *what = "changed";
    for (size_t n = 1 + below(4); n-- > 0;) {
        const unsigned area = random() % 10;
        const size_t at = area < 4 ? below(head) : area < 7 ? size - 1 - below(size / 8) : below(size);
        if (random() % 2) {
            copy[at] ^= uint8_t(1 + below(255));
            *what += " byte " + std::to_string(at);
        } else {
            const DWORD values[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF, DWORD(random()), DWORD(below(65536))};
            const DWORD value = values[below(std::size(values))];
            const size_t field = std::min(at & ~size_t(3), size - std::min<size_t>(size, 4));
            memcpy(&copy[field], &value, std::min<size_t>(size, 4));
            *what += " field " + std::to_string(field) + "=" + std::to_string(value);
        }
    }
    return copy;
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

class AviDamagedFiles : public testing::TestWithParam<Source> {};

TEST_P(AviDamagedFiles, CutAndChangedCopiesAreReadOrRefused)
{
    const Source& source = GetParam();
    const Bytes original = source.image();
    ScratchDir dir;
    const std::string name = std::string("damaged") + source.extension;
    Ombrix_FileInfo info;
    {
        AVIReader whole(dir.write(name, original).data(), &info, false, false);
        ASSERT_TRUE(whole.GetIsValidAVIFile() && info.HasAudio);
    }
    // A damaged count reaches further than the file does: reading stops a little past the whole file's.
    const unsigned maxFrames = 2 * info.NumFrames + 2, maxSamples = 2 * info.NumSamples + 10000;
    expectInChild([&] {
        for (unsigned i = 0; i < source.cuts + source.changes; i++) {
            std::string what;
            const std::string path = dir.write(name, damaged(original, i, source.cuts, &what));
            fprintf(stderr, "copy %u: %s\n", i, what.c_str());  // shown when the child fails
            alarm(10);
            readAll(path, maxFrames, maxSamples);
        }
        return true;
    }, "a damaged copy");
}

INSTANTIATE_TEST_SUITE_P(AviDamaged, AviDamagedFiles, testing::ValuesIn(sources),
                         [](const auto& info) { return std::string(info.param.name); });

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
