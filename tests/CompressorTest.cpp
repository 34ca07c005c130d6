// The installed compressors, each driven in a small graph (the writer's push source, the
// compressor, a renderer that keeps every packet): the names and settings the device enumerator
// shows; every video codec from every frame format, odd sizes included, decoded back through the
// Video for Windows decompressors exactly or nearly; every audio codec with a tone cut into odd
// pieces, decoded back through the ACM with every sample counted; what the settings change; a
// second run after an end of stream.
#include <mutex>

#include "DShowTestFilters.h"
#include "RiffBuilder.h"
#include "WriterSupport.h"
#include "platform/acm/Acm.h"
#include "platform/com/ComRef.h"
#include "platform/com/FilterSettings.h"
#include "platform/devices/DeviceRegistry.h"
#include "platform/vfw/Vfw.h"
#include "write/DirectShowOutput.h"

namespace {

using namespace dshowtest;

constexpr DWORD Patience = 20000;
constexpr REFERENCE_TIME FrameTime = 400000;

struct Packet {
    Bytes data;
    REFERENCE_TIME start, stop;
    bool sync;
};

class Recorder : public CBaseRenderer {
public:
    Recorder() : CBaseRenderer(GUID_NULL, "Recorder", nullptr, &m_Result) { AddRef(); }
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT DoRenderSample(IMediaSample* sample) override
    {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        Packet packet{Bytes(data, data + sample->GetActualDataLength()), -1, -1, sample->IsSyncPoint() == S_OK};
        sample->GetTime(&packet.start, &packet.stop);
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Packets.push_back(std::move(packet));
        return S_OK;
    }
    std::vector<Packet> Packets()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Packets;
    }

private:
    HRESULT m_Result = S_OK;
    std::mutex m_Lock;
    std::vector<Packet> m_Packets;
};

// The push source, the compressor a registry entry makes, the recorder.
class Chain {
public:
    Chain(REFCLSID category, const std::wstring& name, std::vector<Ombrix_Setting> settings = {})
    {
        for (const DeviceEntry& device : DeviceRegistry::Instance().Devices(category))
            if (device.friendlyName == name) {
                HRESULT hr = S_OK;
                m_Compressor = dynamic_cast<CTransformFilter*>(device.create(nullptr, &hr));
            }
        if (!m_Compressor)
            throw std::runtime_error("no such compressor");
        m_Compressor->AddRef();
        if (!settings.empty())
            QueryRef<IFilterSettings>(m_Compressor, IID_IFilterSettings)->PutSettings(settings);
        NewSource();
        m_Recorder->JoinFilterGraph(&m_Graph, L"recorder");
    }
    ~Chain()
    {
        Stop();
        m_Source->Stream->Disconnect();
        m_Compressor->InputPin()->Disconnect();
        m_Compressor->OutputPin()->Disconnect();
        m_Recorder->GetPin(0)->Disconnect();
        m_Source->Release();
        m_Compressor->Release();
        m_Recorder->Release();
    }
    DirectShowOutput& Source() { return *m_Source; }
    // The push source serves one stream: another stream needs another source.
    void NewSource()
    {
        if (m_Source) {
            m_Source->Stream->Disconnect();
            m_Compressor->InputPin()->Disconnect();
            m_Source->Release();
        }
        m_Source = new DirectShowOutput(nullptr, &m_Result);
        m_Source->AddRef();
        m_Source->JoinFilterGraph(&m_Graph, L"source");
    }
    bool Connect()
    {
        return m_Source->Stream->Connect(m_Compressor->InputPin(), nullptr) == S_OK &&
               (m_Compressor->OutputPin()->IsConnected() ||
                m_Compressor->OutputPin()->Connect(m_Recorder->GetPin(0), nullptr) == S_OK);
    }
    const CMediaType& Output() { return m_Compressor->OutputPin()->CurrentMediaType(); }
    void Run()
    {
        m_Graph.m_Complete.Reset();
        m_Recorder->Run(0);
        m_Compressor->Run(0);
        m_Source->Run(0);
    }
    void Push(const uint8_t* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME stop)
    {
        IMediaSample* sample = m_Source->WaitForPacket();
        ASSERT_NE(nullptr, sample);
        BYTE* buffer = nullptr;
        sample->GetPointer(&buffer);
        memcpy(buffer, data, size);
        sample->SetActualDataLength(LONG(size));
        sample->SetTime(&start, &stop);
        m_Source->ReleasePacket();
    }
    // Ends the stream and waits for its end to reach the recorder; everything it got.
    std::vector<Packet> Finish()
    {
        m_Source->SignalEndOfStream();
        EXPECT_TRUE(m_Graph.m_Complete.Wait(Patience));
        Stop();
        return m_Recorder->Packets();
    }

private:
    void Stop()
    {
        m_Recorder->Stop();
        m_Compressor->Stop();
        m_Source->Stop();
    }

    HRESULT m_Result = S_OK;
    CTransformFilter* m_Compressor = nullptr;
    DirectShowOutput* m_Source = nullptr;
    Recorder* m_Recorder = new Recorder;
    EventGraph m_Graph;
};

// What the device enumerator lists in a category, as the writer takes it: each name and the
// filter its moniker binds.
std::vector<std::pair<std::wstring, ComRef<IUnknown>>> enumerated(REFCLSID category)
{
    ComRef<ICreateDevEnum> devices;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     reinterpret_cast<void**>(devices.out())));
    ComRef<IEnumMoniker> monikers;
    EXPECT_EQ(S_OK, devices->CreateClassEnumerator(category, monikers.out(), 0));
    std::vector<std::pair<std::wstring, ComRef<IUnknown>>> found;
    for (ComRef<IMoniker> moniker; monikers->Next(1, moniker.out(), nullptr) == S_OK;) {
        ComRef<IPropertyBag> bag;
        ComRef<IUnknown> filter;
        EXPECT_EQ(S_OK, moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.out())));
        EXPECT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter.out())));
        VARIANT name;
        VariantInit(&name);
        bag->Read(L"FriendlyName", &name, nullptr);
        found.emplace_back(name.bstrVal, filter);
        VariantClear(&name);
    }
    return found;
}

// The setting names each compressor shows; none means no settings interfaces at all.
const struct Listed {
    const wchar_t* name;
    std::vector<std::string> settings;
} listedVideo[] = {
    {L"Motion JPEG", {"Quality"}},
    {L"HuffYUV (lossless)", {}},
    {L"FFV1 (lossless)", {"Key-frame interval"}},
    {L"MPEG-4 Part 2", {"Quality", "Key-frame interval"}},
}, listedAudio[] = {
    {L"A-law", {}}, {L"mu-law", {}}, {L"MS ADPCM", {}}, {L"IMA ADPCM", {}}, {L"MP3", {"Bit rate (kbit/s)"}},
};

// Each in its category, in order, with its settings (page, names, values kept within range).
TEST(Compressors, EachIsListedWithItsSettings)
{
    for (const auto& [category, list] : {std::pair{CLSID_VideoCompressorCategory, std::vector(std::begin(listedVideo), std::end(listedVideo))},
                                         std::pair{CLSID_AudioCompressorCategory, std::vector(std::begin(listedAudio), std::end(listedAudio))}}) {
        const auto found = enumerated(category);
        ASSERT_EQ(list.size(), found.size());
        for (size_t i = 0; i < list.size(); i++) {
            const std::string name = WideToAnsi(list[i].name);
            EXPECT_EQ(list[i].name, found[i].first);
            ComRef<IFilterSettings> settings = QueryRef<IFilterSettings>(found[i].second.get(), IID_IFilterSettings);
            ComRef<ISpecifyPropertyPages> pages =
                QueryRef<ISpecifyPropertyPages>(found[i].second.get(), IID_ISpecifyPropertyPages);
            ASSERT_EQ(std::tuple(!list[i].settings.empty(), !list[i].settings.empty()),
                      std::tuple(bool(settings), bool(pages))) << name;
            if (!settings)
                continue;
            CAUUID shown{};
            ASSERT_EQ(S_OK, pages->GetPages(&shown));
            EXPECT_EQ(std::tuple(1u, CLSID_FilterSettingsPage), std::tuple(shown.cElems, shown.pElems[0]));
            CoTaskMemFree(shown.pElems);
            std::vector<Ombrix_Setting> values = settings->GetSettings();
            std::vector<std::string> names;
            for (Ombrix_Setting& s : values) {
                names.push_back(s.name);
                EXPECT_TRUE(s.minimum <= s.value && s.value <= s.maximum) << name << " " << s.name;
                s.value = s.maximum + 1000;
            }
            EXPECT_EQ(list[i].settings, names);
            EXPECT_EQ(S_OK, settings->PutSettings(values));
            for (const Ombrix_Setting& s : settings->GetSettings())
                EXPECT_EQ(s.maximum, s.value) << name << " " << s.name;
            EXPECT_EQ(E_INVALIDARG, settings->PutSettings({{"Colour", 1, 0, 9}}));
        }
    }
}

// The bytes of a frame that carry the picture: not the rows' padding, not RGB32's fourth byte,
// not the luma that completes the last UYVY/YUY2 pair of an odd-width row.
Bytes pictureBytes(const Bytes& frame, const FrameFormat& format)
{
    const size_t pitch = frame.size() / size_t(format.height);
    Bytes kept;
    for (size_t row = 0; row < size_t(format.height); row++) {
        const uint8_t* p = &frame[row * pitch];
        const int w = format.width;
        if (format.colorSpace == 3)
            kept.insert(kept.end(), p, p + 3 * w);
        for (int x = 0; format.colorSpace == 4 && x < w; x++)
            kept.insert(kept.end(), p + 4 * x, p + 4 * x + 3);
        for (int i = 0; format.colorSpace <= 2 && i < 2 * (w + w % 2); i++)
            if (!(w % 2 && i == 2 * w + (format.colorSpace == 1 ? 1 : 0)))
                kept.push_back(p[i]);
    }
    return kept;
}

BITMAPINFOHEADER frameHeader(const FrameFormat& format)
{
    static const DWORD compression[] = {0, FCC("UYVY"), FCC("YUY2"), BI_RGB, BI_RGB};
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = format.width;
    header.biHeight = format.colorSpace > 2 && !format.bottomUp ? -format.height : format.height;
    header.biPlanes = 1;
    header.biBitCount = WORD(format.colorSpace == 3 ? 24 : format.colorSpace == 4 ? 32 : 16);
    header.biCompression = compression[format.colorSpace];
    header.biSizeImage = DWORD(frameSize(format));
    return header;
}

// The packets decoded by the decompressor of the output type, into frames of `format`.
std::vector<Bytes> decompress(const CMediaType& type, const std::vector<Packet>& packets, const FrameFormat& format)
{
    Bytes input(type.Format() + offsetof(VIDEOINFOHEADER, bmiHeader), type.Format() + type.FormatLength());
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(input.data());
    BITMAPINFOHEADER output = frameHeader(format);
    std::vector<Bytes> frames;
    HIC decoder = ICOpen(ICTYPE_VIDEO, header->biCompression, ICMODE_DECOMPRESS);
    if (!decoder || ICSendMessage(decoder, ICM_DECOMPRESS_BEGIN, DWORD_PTR(header), DWORD_PTR(&output)) != ICERR_OK)
        return frames;
    for (const Packet& packet : packets) {
        Bytes bits(output.biSizeImage);
        header->biSizeImage = DWORD(packet.data.size());
        if (ICDecompress(decoder, packet.sync ? 0 : ICDECOMPRESS_NOTKEYFRAME, header, (void*)packet.data.data(),
                         &output, bits.data()) == ICERR_OK)
            frames.push_back(std::move(bits));
    }
    ICClose(decoder);
    return frames;
}

// The packets as the one stream of an AVI file, decoded by the ffmpeg tool into frames of
// `format` (top row first).
std::vector<Bytes> ffmpegDecode(const CMediaType& type, const std::vector<Packet>& packets, const FrameFormat& format)
{
    const auto& info = *reinterpret_cast<const VIDEOINFOHEADER*>(type.Format());
    const DWORD count = DWORD(packets.size());
    AviLayout layout{{.dwMicroSecPerFrame = 40000, .dwTotalFrames = count, .dwStreams = 1}, {}, {{}}, Idx1::Relative};
    layout.streams.push_back({{.fccType = FCC("vids"), .fccHandler = info.bmiHeader.biCompression, .dwScale = 1,
                               .dwRate = 25, .dwLength = count},
                              Bytes(type.Format() + offsetof(VIDEOINFOHEADER, bmiHeader), type.Format() + type.FormatLength())});
    for (const Packet& p : packets)
        layout.segments[0].push_back({"00dc", p.data, p.sync});
    ScratchDir dir;
    std::string raw;
    static const char* const layouts[] = {"", "uyvy422", "yuyv422", "bgr24", "bgr0"};
    run("ffmpeg -v error -i " + quote(dir.write("video.avi", buildAvi(layout).image)) + " -f rawvideo -pix_fmt " +
            layouts[format.colorSpace] + " -",
        &raw);
    // Its rows are not padded to 4 bytes.
    const size_t pitch = frameSize(format) / size_t(format.height),
                 row = format.colorSpace <= 2 ? size_t(format.width + 1) / 2 * 4 : size_t(format.width) * (format.colorSpace);
    std::vector<Bytes> frames;
    for (size_t at = 0; at + row * size_t(format.height) <= raw.size(); at += row * size_t(format.height)) {
        Bytes& frame = frames.emplace_back(frameSize(format));
        for (size_t y = 0; y < size_t(format.height); y++)
            memcpy(&frame[y * pitch], &raw[at + y * row], row);
    }
    return frames;
}

// Frames pushed through a compressor and what came out; empty when it refused the format.
struct Encoded {
    bool taken = false;
    CMediaType type;
    std::vector<Bytes> frames;
    std::vector<Packet> packets;
};

Encoded encode(const std::wstring& codec, const FrameFormat& format, unsigned count,
               std::vector<Ombrix_Setting> settings = {})
{
    Encoded encoded;
    Chain chain(CLSID_VideoCompressorCategory, codec, settings);
    const BITMAPINFOHEADER header = frameHeader(format);
    chain.Source().SetupVideoInformation(uint8_t(format.colorSpace), format.width, header.biHeight, 25, 1);
    if (!(encoded.taken = chain.Connect()))
        return encoded;
    encoded.type = chain.Output();
    chain.Run();
    for (unsigned n = 0; n < count; n++) {
        encoded.frames.emplace_back(frameSize(format));
        FromRgb(patternPicture(format.width, format.height, n), format, encoded.frames.back().data());
        chain.Push(encoded.frames.back().data(), encoded.frames.back().size(), n * FrameTime, (n + 1) * FrameTime);
    }
    encoded.packets = chain.Finish();
    return encoded;
}

const struct VideoCodecCase {
    const wchar_t* name;
    DWORD fourcc;
    double psnr;  // 99: lossless
    bool allKeys;
} videoCodecs[] = {
    {L"Motion JPEG", FCC("MJPG"), 38, true},
    {L"HuffYUV (lossless)", FCC("HFYU"), 99, true},
    {L"FFV1 (lossless)", FCC("FFV1"), 99, true},
    {L"MPEG-4 Part 2", FCC("FMP4"), 34, false},
};

void PrintTo(const VideoCodecCase& c, std::ostream* out) { *out << WideToAnsi(c.name); }

// The push source's formats: UYVY, YUY2 (top-down), RGB24 and RGB32 either way up.
const std::pair<int, bool> frameFormats[] = {{1, false}, {2, false}, {3, true}, {3, false}, {4, true}, {4, false}};

class VideoCompressor : public testing::TestWithParam<std::tuple<VideoCodecCase, std::pair<int, bool>, int>> {};

// One packet a frame with the frame's times; the first a key frame; decoded back as pushed (the
// lossless codecs) or close to it. HuffYUV's 4:2:2 needs an even width: it then takes RGB only.
TEST_P(VideoCompressor, EncodesEveryFrameOfEachFormatItTakes)
{
    const auto& [codec, frameFormat, width] = GetParam();
    const auto [colorSpace, bottomUp] = frameFormat;
    const FrameFormat format{colorSpace, width, width * 3 / 4 + width % 2, bottomUp};
    const unsigned count = 5;
    const Encoded encoded = encode(codec.name, format, count);
    const bool refused = codec.fourcc == FCC("HFYU") && colorSpace <= 2 && width % 2;
    ASSERT_EQ(!refused, encoded.taken);
    if (refused)
        return;
    const auto& info = *reinterpret_cast<const VIDEOINFOHEADER*>(encoded.type.Format());
    EXPECT_EQ(std::tuple(FourCCGuid(codec.fourcc), codec.fourcc, LONG(width), LONG(format.height), FrameTime),
              std::tuple(encoded.type.subtype, info.bmiHeader.biCompression, info.bmiHeader.biWidth,
                         info.bmiHeader.biHeight, info.AvgTimePerFrame));
    EXPECT_EQ(encoded.type.FormatLength(), sizeof(VIDEOINFOHEADER) - sizeof(BITMAPINFOHEADER) + info.bmiHeader.biSize);
    ASSERT_EQ(count, encoded.packets.size());
    for (unsigned n = 0; n < count; n++) {
        const Packet& p = encoded.packets[n];
        EXPECT_EQ(std::tuple(REFERENCE_TIME(n * FrameTime), REFERENCE_TIME((n + 1) * FrameTime), n == 0 || codec.allKeys),
                  std::tuple(p.start, p.stop, p.sync));
        EXPECT_LE(p.data.size(), info.bmiHeader.biSizeImage);
    }
    // The library's decompressors give the frames in their own layout, FFmpeg top row first.
    const FrameFormat topDown{colorSpace, format.width, format.height, false};
    const std::vector<Bytes> decoded = decompress(encoded.type, encoded.packets, format),
                             ffmpeg = ffmpegDecode(encoded.type, encoded.packets, topDown);
    ASSERT_EQ(std::tuple(count, count), std::tuple(decoded.size(), ffmpeg.size()));
    for (unsigned n = 0; n < count; n++) {
        const Bytes pushed = pictureBytes(topFirst(encoded.frames[n], format), topDown);
        const std::pair<const char*, Bytes> backs[] = {{"decompressor", pictureBytes(topFirst(decoded[n], format), topDown)},
                                                       {"FFmpeg", pictureBytes(ffmpeg[n], topDown)}};
        for (const auto& [by, back] : backs)
            if (codec.psnr == 99)
                EXPECT_TRUE(pushed == back) << "frame " << n << " by " << by;
            else
                EXPECT_GT(psnr(pushed, back), codec.psnr) << "frame " << n << " by " << by;
    }
}

std::string videoCaseName(const testing::TestParamInfo<VideoCompressor::ParamType>& info)
{
    const char* const formats[] = {"", "UYVY", "YUY2", "RGB24", "RGB32"};
    const DWORD fourcc = std::get<0>(info.param).fourcc;
    const auto [colorSpace, bottomUp] = std::get<1>(info.param);
    return std::string(reinterpret_cast<const char*>(&fourcc), 4) + formats[colorSpace] +
           (bottomUp ? "BottomUp" : "TopDown") + std::to_string(std::get<2>(info.param));
}

INSTANTIATE_TEST_SUITE_P(All, VideoCompressor,
                         testing::Combine(testing::ValuesIn(videoCodecs), testing::ValuesIn(frameFormats),
                                          testing::Values(64, 61)),
                         videoCaseName);

// The settings taken at connection change the stream: smaller pictures at a lower quality, key
// frames at the interval asked for (decoded back whole), MP3's byte rate at the nearest legal bit
// rate for the sample rate.
TEST(CompressorSettings, ChangeWhatComesOut)
{
    const FrameFormat format{1, 320, 240, false};
    const auto bytes = [](const Encoded& e) {
        size_t total = 0;
        for (const Packet& p : e.packets)
            total += p.data.size();
        return total;
    };
    for (const wchar_t* codec : {L"Motion JPEG", L"MPEG-4 Part 2"})
        EXPECT_LT(bytes(encode(codec, format, 3, {{"Quality", 20, 0, 0}})), bytes(encode(codec, format, 3)) * 3 / 5)
            << WideToAnsi(codec);
    const struct {
        const wchar_t* codec;
        int interval;
        std::vector<bool> keys;
    } intervals[] = {{L"MPEG-4 Part 2", 2, {true, false, true, false, true}},
                     {L"FFV1 (lossless)", 3, {true, false, false, true, false}}};
    for (const auto& c : intervals) {
        const Encoded encoded = encode(c.codec, format, 5, {{"Key-frame interval", c.interval, 0, 0}});
        std::vector<bool> keys;
        for (const Packet& p : encoded.packets)
            keys.push_back(p.sync);
        EXPECT_EQ(c.keys, keys) << WideToAnsi(c.codec);
        EXPECT_EQ(5u, decompress(encoded.type, encoded.packets, format).size());
    }
    const struct {
        int asked;
        unsigned rate;
        DWORD bytesPerSecond;
    } bitRates[] = {{128, 44100, 16000}, {64, 48000, 8000}, {100, 32000, 12000}, {320, 22050, 20000}, {8, 44100, 4000}};
    for (const auto& c : bitRates) {
        Chain chain(CLSID_AudioCompressorCategory, L"MP3", {{"Bit rate (kbit/s)", c.asked, 0, 0}});
        chain.Source().SetupAudioInformation(c.rate, 16, 2);
        ASSERT_TRUE(chain.Connect());
        EXPECT_EQ(c.bytesPerSecond, reinterpret_cast<const WAVEFORMATEX*>(chain.Output().Format())->nAvgBytesPerSec)
            << c.asked << " kbit/s at " << c.rate;
    }
}

// The end of a stream drains the encoder; streaming again starts a fresh one, which gives the same
// packets for the same frames, beginning with a key frame.
TEST(CompressorSettings, ASecondRunStartsAFreshStream)
{
    const FrameFormat format{2, 48, 32, false};
    Chain chain(CLSID_VideoCompressorCategory, L"MPEG-4 Part 2");
    std::vector<Packet> packets;
    for (int run = 0; run < 2; run++) {
        if (run)
            chain.NewSource();
        chain.Source().SetupVideoInformation(2, format.width, format.height, 25, 1);
        ASSERT_TRUE(chain.Connect());
        chain.Run();
        for (unsigned n = 0; n < 3; n++) {
            Bytes frame(frameSize(format));
            FromRgb(patternPicture(format.width, format.height, n), format, frame.data());
            chain.Push(frame.data(), frame.size(), n * FrameTime, (n + 1) * FrameTime);
        }
        packets = chain.Finish();
    }
    ASSERT_EQ(6u, packets.size());
    for (unsigned n = 0; n < 3; n++)
        EXPECT_EQ(std::tuple(packets[n].data, packets[n].sync, packets[n].start),
                  std::tuple(packets[n + 3].data, packets[n + 3].sync, packets[n + 3].start));
}

// The PCM the ACM decodes the packets to, 16-bit.
Bytes acmDecode(const WAVEFORMATEX& format, const std::vector<Packet>& packets)
{
    Bytes source;
    for (const Packet& p : packets)
        source.insert(source.end(), p.data.begin(), p.data.end());
    WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, format.nChannels, format.nSamplesPerSec, 0, WORD(2 * format.nChannels), 16, 0};
    HACMSTREAM stream;
    if (acmStreamOpen(&stream, nullptr, const_cast<WAVEFORMATEX*>(&format), &pcm, nullptr, 0, 0, 0) != 0)
        return {};
    DWORD bound = 0;
    acmStreamSize(stream, DWORD(source.size()), &bound, ACM_STREAMSIZEF_SOURCE);
    Bytes decoded(bound);
    ACMSTREAMHEADER header = {84, 0, 0, source.data(), DWORD(source.size()), 0, 0, decoded.data(), bound};
    acmStreamPrepareHeader(stream, &header, 0);
    const bool converted = acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END) == 0;
    decoded.resize(converted ? header.cbDstLengthUsed : 0);
    acmStreamUnprepareHeader(stream, &header, 0);
    acmStreamClose(stream, 0);
    return decoded;
}

// The packets as a WAV file, decoded by the ffmpeg tool to 16-bit PCM.
Bytes ffmpegDecode(const CMediaType& type, const std::vector<Packet>& packets)
{
    RiffBuilder wav;
    wav.open("RIFF", "WAVE");
    wav.chunk("fmt ", Bytes(type.Format(), type.Format() + type.FormatLength()));
    Bytes data;
    for (const Packet& p : packets)
        append(data, p.data);
    wav.chunk("data", data);
    wav.close();
    ScratchDir dir;
    return ffmpegPcm(dir.write("audio.wav", wav.image));
}

// What the stream decodes to, for `pushed` sample frames: exactly those, whole blocks of them (the
// last padded with silence), or whole MP3 frames covering the encoder's delay and every sample.
enum class Comes { Exactly, WholeBlocks, AfterDelay };

const struct AudioCase {
    const wchar_t* codec;
    WORD tag;
    unsigned rate, channels, bits;
    Comes comes;
    double snr;
} audioCases[] = {
    {L"A-law", 6, 8000, 1, 16, Comes::Exactly, 33},
    {L"mu-law", 7, 22050, 2, 16, Comes::Exactly, 33},
    {L"A-law", 6, 48000, 6, 8, Comes::Exactly, 30},
    {L"MS ADPCM", 2, 44100, 2, 16, Comes::WholeBlocks, 38},
    {L"MS ADPCM", 2, 22050, 1, 8, Comes::WholeBlocks, 30},
    {L"IMA ADPCM", 0x11, 48000, 2, 16, Comes::WholeBlocks, 38},
    {L"IMA ADPCM", 0x11, 11025, 1, 16, Comes::WholeBlocks, 30},
    {L"MP3", 0x55, 44100, 2, 16, Comes::AfterDelay, 22},
    {L"MP3", 0x55, 48000, 1, 16, Comes::AfterDelay, 22},
    {L"MP3", 0x55, 22050, 2, 16, Comes::AfterDelay, 22},
};

void PrintTo(const AudioCase& c, std::ostream* out) { *out << WideToAnsi(c.codec) << " " << c.rate << "x" << c.channels; }

class AudioCompressor : public testing::TestWithParam<AudioCase> {};

// A tone pushed in pieces of odd sizes comes back through the ACM with every sample accounted
// for: packets follow one another from the first sample's time and end where the decoded stream
// ends.
TEST_P(AudioCompressor, EncodesEverySampleAndCountsWhatComesBack)
{
    const AudioCase& c = GetParam();
    Chain chain(CLSID_AudioCompressorCategory, c.codec);
    chain.Source().SetupAudioInformation(c.rate, c.bits, c.channels);
    ASSERT_TRUE(chain.Connect());
    const CMediaType type = chain.Output();
    const auto& wave = *reinterpret_cast<const WAVEFORMATEX*>(type.Format());
    ASSERT_EQ(type.FormatLength(), sizeof wave + wave.cbSize);
    EXPECT_EQ(std::tuple(FourCCGuid(c.tag), c.tag, WORD(c.channels), DWORD(c.rate)),
              std::tuple(type.subtype, wave.wFormatTag, wave.nChannels, wave.nSamplesPerSec));
    WORD extra[6] = {};
    memcpy(extra, &wave + 1, std::min<size_t>(wave.cbSize, sizeof extra));

    const unsigned total = 20000, frameBytes = c.channels * c.bits / 8;
    const Bytes original = tone(c.rate, c.channels, 0, total);
    Bytes pushed = original;
    if (c.bits == 8) {
        pushed.clear();
        for (size_t i = 0; i < original.size(); i += 2)
            pushed.push_back(uint8_t(original[i + 1] + 128));
    }
    const auto time = [&](uint64_t frame) { return REFERENCE_TIME((frame * 10000000 + c.rate / 2) / c.rate); };
    chain.Run();
    const unsigned pieces[] = {1, 333, 1601, 977};
    for (unsigned at = 0, i = 0, n; at < total; at += n, i++) {
        n = std::min({pieces[i % 4], total - at, 6408 / frameBytes});
        ASSERT_NO_FATAL_FAILURE(chain.Push(&pushed[at * frameBytes], n * frameBytes, time(at), time(at + n)));
    }
    const std::vector<Packet> packets = chain.Finish();
    ASSERT_FALSE(packets.empty());
    REFERENCE_TIME end = 0;
    for (const Packet& p : packets) {
        EXPECT_EQ(std::tuple(end, true), std::tuple(p.start, p.sync));
        end = p.stop;
    }
    const Bytes decoded = acmDecode(wave, packets);
    EXPECT_TRUE(decoded == ffmpegDecode(type, packets)) << "the ACM and FFmpeg decode alike";
    const uint64_t frames = decoded.size() / (2 * c.channels);
    EXPECT_EQ(time(frames), end);
    if (c.comes == Comes::Exactly) {
        EXPECT_EQ(total, frames);
    } else if (c.comes == Comes::WholeBlocks) {
        const unsigned perBlock = extra[0];
        EXPECT_EQ(std::tuple(packets.size() * wave.nBlockAlign, (total + perBlock - 1) / perBlock * perBlock),
                  std::tuple(packets.size() * packets[0].data.size(), frames));
    } else {
        const unsigned perFrame = c.rate >= 32000 ? 1152 : 576, delay = extra[5];
        EXPECT_EQ(std::tuple(WORD(1), DWORD(16000), WORD(1), WORD(1)),
                  std::tuple(wave.nBlockAlign, wave.nAvgBytesPerSec, extra[0], extra[4]));
        EXPECT_EQ(packets.size() * perFrame, frames);
        EXPECT_TRUE(total + delay <= frames && frames < total + delay + perFrame) << frames << " after " << delay;
    }
    EXPECT_GT(snr(original, decoded, c.channels), c.snr);
}

INSTANTIATE_TEST_SUITE_P(All, AudioCompressor, testing::ValuesIn(audioCases), [](const auto& info) {
    return "Tag" + std::to_string(info.param.tag) + "_" + std::to_string(info.param.rate) + "x" +
           std::to_string(info.param.channels) + "x" + std::to_string(info.param.bits);
});

// What a codec cannot take is refused at connection.
TEST(AudioCompressorRefuses, WhatItsCodecCannotTake)
{
    const struct {
        const wchar_t* codec;
        unsigned rate, channels, bits;
    } refused[] = {{L"MS ADPCM", 44100, 3, 16}, {L"IMA ADPCM", 22050, 6, 16}, {L"MP3", 96000, 2, 16},
                   {L"MP3", 44100, 6, 16},      {L"A-law", 8000, 1, 24}};
    for (const auto& c : refused) {
        Chain chain(CLSID_AudioCompressorCategory, c.codec);
        chain.Source().SetupAudioInformation(c.rate, c.bits, c.channels);
        EXPECT_FALSE(chain.Connect()) << WideToAnsi(c.codec) << " " << c.rate << "x" << c.channels << "x" << c.bits;
    }
}

}  // namespace
