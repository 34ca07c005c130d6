// The DV output to a registered DV device: its graph, the format the encoder takes, time stamps
// and counts, and the stream the device receives, which FFmpeg decodes with the audio exact.
#include <mutex>

#include "MuxGraph.h"
#include "TestCompressor.h"
#include "ombrix/Ombrix_DVOutput.h"
#include "ombrix/platform.h"
#include "platform/com/ClassTable.h"
#include "platform/filters/DVDeviceRenderer.h"

namespace {

// A device whose frames are kept, registered while it lives.
class CapturingDevice {
public:
    CapturingDevice()
    {
        if (!Ombrix_AddDVDevice(Name, &CapturingDevice::Take, this))
            throw std::runtime_error("cannot register a DV device");
    }
    ~CapturingDevice() { Ombrix_RemoveDVDevice(Name); }
    CapturingDevice(const CapturingDevice&) = delete;

    // The frames end to end, and the size of each.
    std::pair<Bytes, std::vector<unsigned>> Received()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return {m_Stream, m_Sizes};
    }

    static constexpr const char* Name = "Test DV Deck";

private:
    static void Take(const unsigned char* frame, unsigned size, void* context)
    {
        auto* self = static_cast<CapturingDevice*>(context);
        std::lock_guard<std::mutex> lock(self->m_Lock);
        self->m_Stream.insert(self->m_Stream.end(), frame, frame + size);
        self->m_Sizes.push_back(size);
    }

    std::mutex m_Lock;
    Bytes m_Stream;
    std::vector<unsigned> m_Sizes;
};

// Pushes frames pattern frames with the tone in calls of at most block sample frames.
Pushed push(Ombrix_DVOutput& output, unsigned frames, unsigned block)
{
    const Ombrix_FileInfo& info = output.GetInfo();
    return pushPattern(output, info, {info.ColorSpace, info.Width, info.Height, info.BottomUp}, frames, 0, block);
}

struct OutputCase {
    bool pal;
    bool audio;
    unsigned block;  // sample frames per AddAudioSamples
};
void PrintTo(const OutputCase& c, std::ostream* out) { *out << (c.pal ? "PAL, " : "NTSC, ") << c.block; }

class DVOutputStream : public ::testing::TestWithParam<OutputCase> {};

TEST_P(DVOutputStream, TheDeviceGetsEveryFrameAndTheSound)
{
    const OutputCase c = GetParam();
    const unsigned frames = 12, frameBytes = c.pal ? 144000 : 120000;
    CapturingDevice device;
    Pushed pushed;
    {
        Ombrix_DVOutput output(c.pal, c.audio);
        ASSERT_FALSE(output.Error());
        Ombrix_FileInfo info = output.GetInfo();
        // The system encoder takes the first format offered (UYVY, top row first).
        EXPECT_EQ(std::tuple(720, c.pal ? 576 : 480, 30000u, c.pal ? 1200u : 1001u, true, c.pal, c.audio, 1, false),
                  std::tuple(info.Width, info.Height, info.Rate, info.Scale, info.Interlaced, info.UpperFieldFirst,
                             info.HasAudio, int(info.ColorSpace), info.BottomUp));
        EXPECT_EQ(c.audio ? std::tuple(48000u, 2u, 16u) : std::tuple(0u, 0u, 0u),
                  std::tuple(info.SampleRate, info.Channels, info.BitsPerSample));
        EXPECT_TRUE(output.AddAudioSamples(nullptr, 0));
        pushed = push(output, frames, c.block);
        info = output.GetInfo();
        // Frame n lasts from n * Scale / Rate seconds, truncated to 100 ns units.
        EXPECT_EQ(std::tuple(frames, c.pal ? 4800000LL : 4004000LL, unsigned(pushed.pcm.size() / 4), 0LL),
                  std::tuple(info.NumFrames, info.VideoDuration, info.NumSamples, info.AudioDuration));
        // Sound to an output made without it is refused, not waited on.
        Bytes pcm = tone(48000, 2, 0, 10);
        EXPECT_EQ(c.audio, output.AddAudioSamples(pcm.data(), 10));
    }
    // Everything pushed reached the device by the time the output is gone.
    const auto [stream, sizes] = device.Received();
    EXPECT_EQ(std::vector<unsigned>(frames, frameBytes), sizes);
    ScratchDir dir;
    const std::string path = dir.write("out.dv", stream);
    const std::vector<Bytes> decoded = ffmpegFrames(path, pushed.format);
    ASSERT_EQ(frames, decoded.size());
    for (unsigned n = 0; n < frames; n++)
        EXPECT_GT(psnr(pushed.frames[n], decoded[n]), 30) << "frame " << n;
    if (!c.audio)
        return;
    // The frames carry the sound up to their end: 1920 sample frames each in PAL, 8008 in five in
    // NTSC (1600 in the first of the five, 1602 in each other).
    const size_t carried = c.pal ? 1920 * frames : frames / 5 * 8008 + (frames % 5 ? frames % 5 * 1602 - 2 : 0);
    const Bytes sound = ffmpegPcm(path);
    ASSERT_EQ(carried * 4, sound.size());
    EXPECT_TRUE(pushed.pcm.size() >= sound.size() && std::equal(sound.begin(), sound.end(), pushed.pcm.begin()));
}

INSTANTIATE_TEST_SUITE_P(Outputs, DVOutputStream,
                         ::testing::Values(OutputCase{true, true, 4000}, OutputCase{false, true, 1000},
                                           OutputCase{false, true, 100000}, OutputCase{true, false, 0}),
                         [](const auto& info) {
                             return std::string(info.param.pal ? "Pal" : "Ntsc") +
                                    (info.param.audio ? "AudioBlocksOf" + std::to_string(info.param.block) : "Silent");
                         });

// An encoder that takes bottom-up RGB24 only and gives DV frames.
constexpr CLSID CLSID_RgbOnlyDVEncoder = MakeGuid("6C1F4A7E-2B59-4E0D-9A83-5F0E7D21C4B6");

TEST(DVOutput, AnEncoderTakingBottomUpRgb24OnlyGetsIt)
{
    AddClass({CLSID_RgbOnlyDVEncoder, L"RGB-only DV encoder", MERIT_DO_NOT_USE, {},
              [](IUnknown*, HRESULT* hr) -> CUnknown* {
                  *hr = S_OK;
                  return new TestCompressor({{MEDIASUBTYPE_RGB24, true}}, false, false, 120000);
              }});
    CapturingDevice device;
    GUID encoder = CLSID_RgbOnlyDVEncoder;
    {
        Ombrix_DVOutput output(false, false, &encoder);
        ASSERT_FALSE(output.Error());
        EXPECT_EQ(std::tuple(3, true), std::tuple(int(output.GetInfo().ColorSpace), output.GetInfo().BottomUp));
        push(output, 3, 0);
        EXPECT_EQ(1001000LL, output.GetInfo().VideoDuration);
    }
    RemoveClass(CLSID_RgbOnlyDVEncoder);
    EXPECT_EQ(std::vector<unsigned>(3, 120000), device.Received().second);
}

TEST(DVOutput, FailsWithoutADeviceThatSaysDVOrAnEncoder)
{
    {
        Ombrix_DVOutput output(true, true);
        EXPECT_TRUE(output.Error());
        // Nothing waits on a graph that never ran.
        EXPECT_EQ(nullptr, output.AllocateVideoBuffer());
        Bytes pcm = tone(48000, 2, 0, 10);
        EXPECT_FALSE(output.AddAudioSamples(pcm.data(), 10));
        EXPECT_TRUE(output.AddAudioSamples(pcm.data(), 0));
    }
    CapturingDevice device;
    GUID none = CLSID_RgbOnlyDVEncoder;
    EXPECT_TRUE(Ombrix_DVOutput(false, true, &none).Error());
    // A device's name must say DV: one that does not is passed over.
    Ombrix_RemoveDVDevice(CapturingDevice::Name);
    DeviceRegistry& devices = DeviceRegistry::Instance();
    ASSERT_EQ(S_OK, devices.Add(CLSID_VideoInputDeviceCategory,
                                {L"Webcam", CLSID_DVDeviceRenderer, [](IUnknown*, HRESULT* hr) -> CUnknown* {
                                     return new DVDeviceRenderer(nullptr, nullptr, hr);
                                 }}));
    EXPECT_TRUE(Ombrix_DVOutput(false, true).Error());
    devices.Remove(CLSID_VideoInputDeviceCategory, L"Webcam");
    // Nor is a device of ours registered under such a name, twice under one, or without a sink or a file.
    const Ombrix_DVFrameSink sink = [](const unsigned char*, unsigned, void*) {};
    for (const char* refused : {static_cast<const char*>(nullptr), "", "Camcorder dv"})
        EXPECT_FALSE(Ombrix_AddDVDevice(refused, sink, nullptr)) << (refused ? refused : "no name");
    EXPECT_FALSE(Ombrix_AddDVDevice("My DV", nullptr, nullptr));
    EXPECT_FALSE(Ombrix_AddDVDeviceFile("My DV", ""));
    ASSERT_TRUE(Ombrix_AddDVDevice("My DV", sink, nullptr));
    EXPECT_FALSE(Ombrix_AddDVDeviceFile("My DV", "x.dv"));
    Ombrix_RemoveDVDevice("My DV");
    EXPECT_TRUE(Ombrix_AddDVDevice("My DV", sink, nullptr));
    Ombrix_RemoveDVDevice("My DV");
}

TEST(DVOutput, AFileDeviceGetsTheRawStreamAndAHeldFrameDoesNotHangTheEnd)
{
    ScratchDir dir;
    const std::string path = dir.path("deck.dv");
    ASSERT_TRUE(Ombrix_AddDVDeviceFile("File DV", path.c_str()));
    {
        Ombrix_DVOutput output(true, true);
        ASSERT_FALSE(output.Error());
        EXPECT_TRUE(std::filesystem::exists(path));
        push(output, 4, 1920);
        // A frame taken and never given back is handed back as the output ends.
        EXPECT_NE(nullptr, output.AllocateVideoBuffer());
    }
    Ombrix_RemoveDVDevice("File DV");
    EXPECT_EQ(4u * 144000, std::filesystem::file_size(path));
    EXPECT_EQ(4u, ffmpegFrames(path, {1, 720, 576, false}).size());
}

}  // namespace
