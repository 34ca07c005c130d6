// The installed compressors, each driven in a small graph (the writer's push source, the
// compressor, a renderer that keeps every packet): the names and settings the device enumerator
// shows; every video codec from every frame format, odd sizes included, decoded back through the
// Video for Windows decompressors exactly or nearly; every audio codec with a tone cut into odd
// pieces, decoded back through the ACM with every sample counted; what the settings change; a
// second run after an end of stream.
#include <mutex>

#include "DShowTestFilters.h"
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
        m_Source->AddRef();
        m_Source->JoinFilterGraph(&m_Graph, L"source");
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
    bool Connect()
    {
        return m_Source->Stream->Connect(m_Compressor->InputPin(), nullptr) == S_OK &&
               m_Compressor->OutputPin()->Connect(m_Recorder->GetPin(0), nullptr) == S_OK;
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
    DirectShowOutput* m_Source = new DirectShowOutput(nullptr, &m_Result);
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
    const std::vector<Bytes> decoded = decompress(encoded.type, encoded.packets, format);
    ASSERT_EQ(count, decoded.size());
    for (unsigned n = 0; n < count; n++) {
        const Bytes pushed = pictureBytes(encoded.frames[n], format), back = pictureBytes(decoded[n], format);
        if (codec.psnr == 99)
            EXPECT_TRUE(pushed == back) << "frame " << n;
        else
            EXPECT_GT(psnr(pushed, back), codec.psnr) << "frame " << n;
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

}  // namespace
