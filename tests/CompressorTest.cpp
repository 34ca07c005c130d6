// The installed compressors, each driven in a small graph (the writer's push source, the
// compressor, a renderer that keeps every packet), their output decoded back by the platform's
// decompressors or the ACM and by the ffmpeg tool.
#include <numeric>

#include "RecordingRenderer.h"
#include "RiffBuilder.h"
#include "WriterSupport.h"
#include "platform/acm/Acm.h"
#include "platform/com/ComRef.h"
#include "platform/com/FilterSettings.h"
#include "platform/devices/DeviceRegistry.h"
#include "platform/vfw/Vfw.h"
#include "write/DirectShowOutput.h"

namespace {

constexpr REFERENCE_TIME FrameTime = 400000;

// The filter (no reference yet) the registry's device of that name makes; none when not listed.
IBaseFilter* makeDevice(REFCLSID category, const std::wstring& name)
{
    HRESULT hr;
    for (const DeviceEntry& device : DeviceRegistry::Instance().Devices(category))
        if (device.friendlyName == name)
            return dynamic_cast<IBaseFilter*>(device.create(nullptr, &hr));
    return nullptr;
}

// A graph of the push source, the compressor its registry entry makes (with settings put) and the
// recorder, rendering samples as they come.
class Chain {
public:
    Chain(REFCLSID category, const std::wstring& name, const std::vector<Ombrix_Setting>& settings = {})
        : m_Compressor(dynamic_cast<CTransformFilter*>(makeDevice(category, name)))
    {
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                         reinterpret_cast<void**>(m_Graph.out()));
        QueryRef<IMediaFilter>(m_Graph.get(), IID_IMediaFilter)->SetSyncSource(nullptr);
        if (!settings.empty())
            QueryRef<IFilterSettings>(m_Compressor.get(), IID_IFilterSettings)->PutSettings(settings);
        m_Graph->AddFilter(m_Compressor.get(), L"compressor");
        m_Graph->AddFilter(m_Recorder.get(), L"recorder");
        NewSource();
    }
    ~Chain() { Control()->Stop(); }
    // The push source serves one stream: another stream needs another source.
    void NewSource()
    {
        if (m_Source)
            m_Graph->RemoveFilter(m_Source.get());
        HRESULT hr;
        m_Source = ComRef(new DirectShowOutput(nullptr, &hr));
        m_Graph->AddFilter(m_Source.get(), L"source");
    }
    DirectShowOutput& Source() { return *m_Source.get(); }
    bool Connect()
    {
        CTransformOutputPin* output = m_Compressor->OutputPin();
        return m_Graph->ConnectDirect(m_Source->Stream, m_Compressor->InputPin(), nullptr) == S_OK &&
               (output->IsConnected() || m_Graph->ConnectDirect(output, m_Recorder->GetPin(0), nullptr) == S_OK);
    }
    IBaseFilter* Compressor() { return m_Compressor.get(); }
    const CMediaType& Input() { return m_Compressor->InputPin()->CurrentMediaType(); }
    const CMediaType& Output() { return m_Compressor->OutputPin()->CurrentMediaType(); }
    void Run() { Control()->Run(); }
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
    // Ends the stream; every packet recorded (in every run) once the end has reached the recorder.
    std::vector<Packet> Finish()
    {
        m_Source->SignalEndOfStream();
        LONG code = 0;
        EXPECT_EQ(S_OK, QueryRef<IMediaEvent>(m_Graph.get(), IID_IMediaEvent)->WaitForCompletion(20000, &code));
        Control()->Stop();
        for (Record& r : m_Recorder->Take())
            m_Packets.push_back({std::move(r.data), r.start, r.stop, r.sync});
        return m_Packets;
    }

private:
    ComRef<IMediaControl> Control() { return QueryRef<IMediaControl>(m_Graph.get(), IID_IMediaControl); }

    ComRef<CTransformFilter> m_Compressor;
    ComRef<IGraphBuilder> m_Graph;
    ComRef<DirectShowOutput> m_Source;
    ComRef<Recorder> m_Recorder{new Recorder};
    std::vector<Packet> m_Packets;
};

// Each compressor in its category's order with the settings it shows; none: no settings
// interfaces at all.
const struct Listed { const wchar_t* name; std::vector<std::string> settings; } listed[] = {
    {L"Motion JPEG", {"Quality"}}, {L"HuffYUV (lossless)", {}}, {L"FFV1 (lossless)", {"Key-frame interval"}},
    {L"MPEG-4 Part 2", {"Quality", "Key-frame interval"}}, {L"DV Video Encoder", {}}, {L"A-law", {}},
    {L"mu-law", {}}, {L"MS ADPCM", {}}, {L"IMA ADPCM", {}}, {L"MP3", {"Bit rate (kbit/s)"}},
};

// In the registry's categories, in order; values put are kept within their ranges.
TEST(Compressors, EachIsListedWithItsSettings)
{
    // The first five are video compressors, the others audio compressors.
    std::vector<DeviceEntry> devices = DeviceRegistry::Instance().Devices(CLSID_VideoCompressorCategory);
    ASSERT_EQ(5u, devices.size());
    for (const DeviceEntry& audio : DeviceRegistry::Instance().Devices(CLSID_AudioCompressorCategory))
        devices.push_back(audio);
    ASSERT_EQ(std::size(listed), devices.size());
    for (size_t i = 0; i < devices.size(); i++) {
        const Listed& l = listed[i];
        SCOPED_TRACE(WideToAnsi(l.name));
        EXPECT_EQ(l.name, devices[i].friendlyName);
        EXPECT_TRUE(std::wstring(l.name) != L"DV Video Encoder" || devices[i].clsid == CLSID_DVVideoEnc);
        HRESULT hr;
        const ComRef<IBaseFilter> filter(dynamic_cast<IBaseFilter*>(devices[i].create(nullptr, &hr)));
        ComRef<IFilterSettings> settings = QueryRef<IFilterSettings>(filter.get(), IID_IFilterSettings);
        const bool pages = bool(QueryRef<ISpecifyPropertyPages>(filter.get(), IID_ISpecifyPropertyPages));
        ASSERT_EQ(std::tuple(!l.settings.empty(), !l.settings.empty()), std::tuple(bool(settings), pages));
        if (!settings)
            continue;
        std::vector<Ombrix_Setting> values = settings->GetSettings();
        std::vector<std::string> names;
        for (Ombrix_Setting& s : values) {
            names.push_back(s.name);
            EXPECT_TRUE(s.minimum <= s.value && s.value <= s.maximum) << s.name;
            s.value = s.maximum + 1000;
        }
        EXPECT_EQ(l.settings, names);
        EXPECT_EQ(S_OK, settings->PutSettings(values));
        for (const Ombrix_Setting& s : settings->GetSettings())
            EXPECT_EQ(s.maximum, s.value) << s.name;
        EXPECT_EQ(E_INVALIDARG, settings->PutSettings({{"Colour", 1, 0, 9}}));
    }
}

// The bytes of rows that carry the picture, top row first: not the rows' padding, not RGB32's
// fourth byte, not the luma that completes the last UYVY/YUY2 pair of an odd-width row.
Bytes pictureBytes(const uint8_t* rows, size_t pitch, const FrameFormat& format)
{
    const int w = format.width, h = format.height, odd = w % 2;
    Bytes kept;
    for (int y = 0; y < h; y++) {
        const uint8_t* p = rows + size_t(format.bottomUp ? h - 1 - y : y) * pitch;
        for (int i = 0; format.colorSpace <= 2 && i < 2 * (w + odd); i++)
            if (!(odd && i == 2 * w + (format.colorSpace == 1)))
                kept.push_back(p[i]);
        const int bytes = format.colorSpace == 3 ? 3 : 4;
        for (int x = 0; format.colorSpace > 2 && x < w; x++)
            kept.insert(kept.end(), p + bytes * x, p + bytes * x + 3);
    }
    return kept;
}

// Frames pushed through a compressor (in as many runs, each on a source of its own) and what came
// out; nothing when it refused the format.
struct Encoded {
    bool taken = false;
    CMediaType frames, type;
    std::vector<Bytes> pictures;
    std::vector<Packet> packets;
};

// The compressed format's BITMAPINFOHEADER and the bytes after it.
Bytes bitmapOf(const CMediaType& type)
{
    return Bytes(type.Format() + offsetof(VIDEOINFOHEADER, bmiHeader), type.Format() + type.FormatLength());
}

// The picture bytes of each packet decoded by the platform's decompressor into frames of `format`
// (the pushed frames' own type).
std::vector<Bytes> decompress(const Encoded& encoded, const FrameFormat& format)
{
    Bytes input = bitmapOf(encoded.type);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(input.data());
    BITMAPINFOHEADER output = reinterpret_cast<const VIDEOINFOHEADER*>(encoded.frames.Format())->bmiHeader;
    std::vector<Bytes> pictures;
    HIC decoder = ICOpen(ICTYPE_VIDEO, header->biCompression, ICMODE_DECOMPRESS);
    if (!decoder || ICSendMessage(decoder, ICM_DECOMPRESS_BEGIN, DWORD_PTR(header), DWORD_PTR(&output)) != ICERR_OK)
        return pictures;
    for (const Packet& packet : encoded.packets) {
        Bytes bits(output.biSizeImage);
        header->biSizeImage = DWORD(packet.data.size());
        if (ICDecompress(decoder, packet.sync ? 0 : ICDECOMPRESS_NOTKEYFRAME, header, (void*)packet.data.data(),
                         &output, bits.data()) == ICERR_OK)
            pictures.push_back(pictureBytes(bits.data(), bits.size() / size_t(format.height), format));
    }
    ICClose(decoder);
    return pictures;
}

// The picture bytes of each packet as the ffmpeg tool decodes the AVI file they make.
std::vector<Bytes> ffmpegDecode(const Encoded& encoded, const FrameFormat& format)
{
    const DWORD count = DWORD(encoded.packets.size()), fourcc = encoded.type.subtype.Data1;
    AviLayout avi{{.dwMicroSecPerFrame = 40000, .dwTotalFrames = count, .dwStreams = 1},
                  {{{.fccType = FCC("vids"), .fccHandler = fourcc, .dwScale = 1, .dwRate = 25, .dwLength = count},
                    bitmapOf(encoded.type)}},
                  {{}}};
    for (const Packet& p : encoded.packets)
        avi.segments[0].push_back({"00dc", p.data, p.sync});
    ScratchDir dir;
    const std::string raw = ffmpegRaw(dir.write("v.avi", buildAvi(avi).image), format.colorSpace);
    // Its rows are not padded to 4 bytes, and come top first.
    const size_t pitch =
        format.colorSpace <= 2 ? size_t(format.width + 1) / 2 * 4 : size_t(format.width) * format.colorSpace;
    const FrameFormat topDown{format.colorSpace, format.width, format.height, false};
    std::vector<Bytes> pictures;
    for (size_t at = 0; at + pitch * size_t(format.height) <= raw.size(); at += pitch * size_t(format.height))
        pictures.push_back(pictureBytes(reinterpret_cast<const uint8_t*>(&raw[at]), pitch, topDown));
    return pictures;
}

Encoded encode(const std::wstring& codec, const FrameFormat& format, unsigned count,
               const std::vector<Ombrix_Setting>& settings = {}, int runs = 1,
               const std::function<void(IBaseFilter*)>& prepare = nullptr)
{
    Encoded encoded;
    Chain chain(CLSID_VideoCompressorCategory, codec, settings);
    if (prepare)
        prepare(chain.Compressor());
    for (int run = 0; run < runs; run++) {
        if (run)
            chain.NewSource();
        const bool topDownRgb = format.colorSpace > 2 && !format.bottomUp;
        chain.Source().SetupVideoInformation(uint8_t(format.colorSpace), format.width,
                                             topDownRgb ? -format.height : format.height, 25, 1);
        if (!(encoded.taken = chain.Connect()))
            return encoded;
        encoded.frames = chain.Input();
        encoded.type = chain.Output();
        chain.Run();
        for (unsigned n = 0; n < count; n++) {
            Bytes frame(frameSize(format));
            FromRgb(patternPicture(format.width, format.height, n), format, frame.data());
            encoded.pictures.push_back(pictureBytes(frame.data(), frame.size() / size_t(format.height), format));
            chain.Push(frame.data(), frame.size(), n * FrameTime, (n + 1) * FrameTime);
        }
        encoded.packets = chain.Finish();
    }
    return encoded;
}

// The least PSNR of the pictures decoded back; 99: lossless.
// The compressed type names the codec, the picture's size and the frame time; one packet a frame
// pushed, with the frame's times and no larger than the type's pictures; every one a key frame or
// the first only.
void expectStream(const Encoded& encoded, DWORD fourcc, int width, int height, bool allKeys)
{
    const auto& info = *reinterpret_cast<const VIDEOINFOHEADER*>(encoded.type.Format());
    EXPECT_EQ(std::tuple(FourCCGuid(fourcc), fourcc, LONG(width), LONG(height), FrameTime,
                         offsetof(VIDEOINFOHEADER, bmiHeader) + info.bmiHeader.biSize),
              std::tuple(encoded.type.subtype, info.bmiHeader.biCompression, info.bmiHeader.biWidth,
                         info.bmiHeader.biHeight, info.AvgTimePerFrame, size_t(encoded.type.FormatLength())));
    ASSERT_EQ(encoded.pictures.size(), encoded.packets.size());
    for (unsigned n = 0; n < encoded.packets.size(); n++) {
        const Packet& p = encoded.packets[n];
        EXPECT_EQ(std::tuple(n * FrameTime, (n + 1) * FrameTime, n == 0 || allKeys), std::tuple(p.start, p.stop, p.sync))
            << "packet " << n;
        EXPECT_LE(p.data.size(), info.bmiHeader.biSizeImage);
    }
}

const struct VideoCodecCase { const wchar_t* name; DWORD fourcc; double psnr; bool allKeys; } videoCodecs[] = {
    {L"Motion JPEG", FCC("MJPG"), 38, true}, {L"HuffYUV (lossless)", FCC("HFYU"), 99, true},
    {L"FFV1 (lossless)", FCC("FFV1"), 99, true}, {L"MPEG-4 Part 2", FCC("FMP4"), 34, false},
};

void PrintTo(const VideoCodecCase& c, std::ostream* out) { *out << WideToAnsi(c.name); }

// The push source's formats: UYVY, YUY2 (top-down), RGB24 and RGB32 either way up.
const std::pair<int, bool> frameFormats[] = {{1, false}, {2, false}, {3, true}, {3, false}, {4, true}, {4, false}};

class VideoCompressor : public testing::TestWithParam<std::tuple<VideoCodecCase, std::pair<int, bool>, int>> {};

// One packet a frame with the frame's times, the first a key frame, decoded back as pushed (the
// lossless codecs) or close to it. HuffYUV's 4:2:2 needs an even width: it then takes RGB only.
TEST_P(VideoCompressor, EncodesEveryFrameOfEachFormatItTakes)
{
    const auto& [codec, frameFormat, width] = GetParam();
    const FrameFormat format{frameFormat.first, width, width * 3 / 4 + width % 2, frameFormat.second};
    const unsigned count = 5;
    const Encoded encoded = encode(codec.name, format, count);
    const bool refused = codec.fourcc == FCC("HFYU") && format.colorSpace <= 2 && width % 2;
    ASSERT_EQ(!refused, encoded.taken);
    if (refused)
        return;
    ASSERT_NO_FATAL_FAILURE(expectStream(encoded, codec.fourcc, width, format.height, codec.allKeys));
    const std::vector<Bytes> decoded[] = {decompress(encoded, format), ffmpegDecode(encoded, format)};
    for (const std::vector<Bytes>& back : decoded) {
        const char* by = &back == decoded ? "the decompressor" : "FFmpeg";
        ASSERT_EQ(count, back.size()) << by;
        for (unsigned n = 0; n < count; n++)
            if (codec.psnr == 99)
                EXPECT_TRUE(encoded.pictures[n] == back[n]) << "frame " << n << " by " << by;
            else
                EXPECT_GT(psnr(encoded.pictures[n], back[n]), codec.psnr) << "frame " << n << " by " << by;
    }
}

INSTANTIATE_TEST_SUITE_P(All, VideoCompressor,
                         testing::Combine(testing::ValuesIn(videoCodecs), testing::ValuesIn(frameFormats),
                                          testing::Values(64, 61)));

// Sets the DV Video Encoder to a standard before it connects; gives its DVINFO then, when asked.
std::function<void(IBaseFilter*)> dvStandard(int standard, DVINFO* info = nullptr)
{
    return [=](IBaseFilter* filter) {
        const ComRef<IDVEnc> dv = QueryRef<IDVEnc>(filter, IID_IDVEnc);
        dv->put_IFormatResolution(standard, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480, FALSE, nullptr);
        int video = 0, format = 0, resolution = 0;
        EXPECT_TRUE(!info || dv->get_IFormatResolution(&video, &format, &resolution, TRUE, info) == S_OK);
    };
}

// NTSC by default; PAL taken; standard definition at full size only, a refusal changing nothing.
TEST(DVVideoEncoder, TakesStandardDefinitionAtFullSizeOnly)
{
    const ComRef<IBaseFilter> filter(makeDevice(CLSID_VideoCompressorCategory, L"DV Video Encoder"));
    const ComRef<IDVEnc> dv = QueryRef<IDVEnc>(filter.get(), IID_IDVEnc);
    ASSERT_TRUE(dv);
    const auto now = [&] {
        int video = 0, format = 0, resolution = 0;
        EXPECT_EQ(S_OK, dv->get_IFormatResolution(&video, &format, &resolution, FALSE, nullptr));
        return std::tuple(video, format, resolution);
    };
    EXPECT_EQ(std::tuple(DVENCODERVIDEOFORMAT_NTSC, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480), now());
    for (const auto& [video, format, resolution, answer] :
         {std::tuple(DVENCODERVIDEOFORMAT_PAL, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480, S_OK),
          std::tuple(1999, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480, E_FAIL),
          std::tuple(DVENCODERVIDEOFORMAT_NTSC, DVENCODERFORMAT_DVHD, DVENCODERRESOLUTION_720x480, E_FAIL),
          std::tuple(DVENCODERVIDEOFORMAT_NTSC, DVENCODERFORMAT_DVSL, DVENCODERRESOLUTION_720x480, E_FAIL),
          std::tuple(DVENCODERVIDEOFORMAT_NTSC, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_360x240, E_FAIL),
          std::tuple(DVENCODERVIDEOFORMAT_NTSC, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_88x60, E_FAIL)})
        EXPECT_EQ(answer, dv->put_IFormatResolution(video, format, resolution, FALSE, nullptr)) << video << format;
    EXPECT_EQ(std::tuple(DVENCODERVIDEOFORMAT_PAL, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480), now());
}

// The four bytes after a pack's header, as DVINFO holds them, of the first pack with this header
// in a DV frame's first DIF sequence: the VAUX packs of blocks 3 to 5, the AAUX pack that opens
// each audio block (6, 22, ..., 134); 0 when none has it.
DWORD dvPack(const Bytes& frame, BYTE header)
{
    for (size_t block = 3; block < 150; block += block < 6 ? 1 : 16)
        for (size_t at = block * 80 + 3; at < block * 80 + (block < 6 ? 78 : 8) && at + 5 <= frame.size(); at += 5)
            if (frame[at] == header)
                return DWORD(frame[at + 1]) | DWORD(frame[at + 2]) << 8 | DWORD(frame[at + 3]) << 16 |
                       DWORD(frame[at + 4]) << 24;
    return 0;
}

// Frames of small sizes (an odd one too) and of DV's own, from UYVY, YUY2 and bottom-up RGB24,
// become NTSC's or PAL's picture: each a key frame of DV's size with its frame's times, decoded by
// FFmpeg close to the pattern scaled alike. The DVINFO given has the packs of the standard: the
// VAUX packs of the encoder's own frames, the AAUX packs of FFmpeg's DV muxer with 48 kHz stereo
// (whose NTSC frames hold 1600 or 1602 sample frames, a count the DVINFO may state one off).
TEST(DVVideoEncoder, ScalesEveryFrameToTheStandardsPictureAndGivesItsPacks)
{
    const unsigned count = 3;
    for (const auto& [standard, height, bytes, rate, pixels] :
         {std::tuple(DVENCODERVIDEOFORMAT_NTSC, 480, 120000u, "30000/1001", "yuv411p"),
          std::tuple(DVENCODERVIDEOFORMAT_PAL, 576, 144000u, "25", "yuv420p")}) {
        DVINFO info{};
        for (const FrameFormat& format : {FrameFormat{1, 352, 240, false}, FrameFormat{3, 352, 240, true},
                                          FrameFormat{2, 351, 241, false}, FrameFormat{1, 720, height, false},
                                          FrameFormat{3, 720, height, true}}) {
            SCOPED_TRACE(testing::Message() << height << " lines from " << format.colorSpace << " " << format.width);
            const Encoded encoded = encode(L"DV Video Encoder", format, count, {}, 1, dvStandard(standard, &info));
            ASSERT_TRUE(encoded.taken);
            ASSERT_NO_FATAL_FAILURE(expectStream(encoded, FCC("dvsd"), 720, height, true));
            EXPECT_EQ(bytes, reinterpret_cast<const VIDEOINFOHEADER*>(encoded.type.Format())->bmiHeader.biSizeImage);
            const FrameFormat dv{3, 720, height, false};
            const std::vector<Bytes> decoded = ffmpegDecode(encoded, dv);
            ASSERT_EQ(count, decoded.size());
            for (unsigned n = 0; n < count; n++) {
                EXPECT_EQ(bytes, encoded.packets[n].data.size());
                Bytes scaled(frameSize(dv));
                FromRgb(Scaled(patternPicture(format.width, format.height, n), 720, height), dv, scaled.data());
                // DV's 4:1:1 or 4:2:0 chroma blurs the pattern's saturated edges.
                EXPECT_GT(psnr(scaled, decoded[n]), 21) << "frame " << n;
            }
            const Bytes& frame = encoded.packets[0].data;
            EXPECT_EQ(std::tuple(dvPack(frame, 0x60), dvPack(frame, 0x61)),
                      std::tuple(info.dwDVVAuxSrc, info.dwDVVAuxCtl));
        }
        ScratchDir dir;
        const std::string path = dir.path("muxed.dv");
        std::string ignored;
        ASSERT_EQ(0, run("ffmpeg -v error -f lavfi -i testsrc=size=720x" + std::to_string(height) + ":rate=" + rate +
                             " -f lavfi -i sine=sample_rate=48000 -t 0.2 -pix_fmt " + pixels + " -ac 2 -f dv " +
                             quote(path),
                         &ignored));
        const Bytes muxed = readFile(path);
        const DWORD source = dvPack(muxed, 0x50), samples = 0x3F;
        ASSERT_NE(0u, source);
        EXPECT_EQ(source & ~samples, info.dwDVAAuxSrc & ~samples);
        EXPECT_NEAR(double(source & samples), double(info.dwDVAAuxSrc & samples), 1);
        EXPECT_EQ(dvPack(muxed, 0x51), info.dwDVAAuxCtl);
        EXPECT_EQ(std::tuple(info.dwDVAAuxSrc, info.dwDVAAuxCtl), std::tuple(info.dwDVAAuxSrc1, info.dwDVAAuxCtl1));
    }
}

// Settings taken at connection change the stream: smaller pictures at a lower quality, key frames
// at the interval asked for (decoded back whole), MP3's byte rate at the nearest legal bit rate.
// The end of a stream drains the encoder; streaming again starts a fresh one, which gives the same
// packets for the same frames.
TEST(CompressorSettings, ChangeWhatComesOut)
{
    const FrameFormat format{1, 256, 192, false};  // patternPicture numbers frames in the first 256 columns
    const auto bytes = [](const Encoded& e) {
        return std::accumulate(e.packets.begin(), e.packets.end(), size_t(0),
                               [](size_t total, const Packet& p) { return total + p.data.size(); });
    };
    for (const wchar_t* codec : {L"Motion JPEG", L"MPEG-4 Part 2"})
        EXPECT_LT(bytes(encode(codec, format, 3, {{"Quality", 20, 0, 0}})), bytes(encode(codec, format, 3)) * 3 / 5)
            << WideToAnsi(codec);
    for (const auto& [codec, interval, keys] :
         {std::tuple(L"MPEG-4 Part 2", 2, std::vector<bool>{true, false, true, false, true}),
          std::tuple(L"FFV1 (lossless)", 3, std::vector<bool>{true, false, false, true, false})}) {
        const Encoded encoded = encode(codec, format, 5, {{"Key-frame interval", interval, 0, 0}}, 2);
        ASSERT_EQ(10u, encoded.packets.size()) << WideToAnsi(codec);
        for (size_t n = 0; n < 10; n++) {
            const Packet &p = encoded.packets[n], &first = encoded.packets[n % 5];
            EXPECT_EQ(std::tuple(bool(keys[n % 5]), first.data, first.start), std::tuple(p.sync, p.data, p.start))
                << WideToAnsi(codec) << " packet " << n;
        }
        EXPECT_EQ(10u, decompress(encoded, format).size());
    }
    for (const auto& [asked, rate, bytesPerSecond] :
         {std::tuple(128, 44100u, 16000u), {64, 48000u, 8000u}, {100, 32000u, 12000u}, {320, 22050u, 20000u},
          {8, 44100u, 4000u}}) {
        Chain chain(CLSID_AudioCompressorCategory, L"MP3", {{"Bit rate (kbit/s)", asked, 0, 0}});
        chain.Source().SetupAudioInformation(rate, 16, 2);
        ASSERT_TRUE(chain.Connect());
        EXPECT_EQ(bytesPerSecond, reinterpret_cast<const WAVEFORMATEX*>(chain.Output().Format())->nAvgBytesPerSec)
            << asked << " kbit/s at " << rate;
    }
}

// The 16-bit PCM the packets decode to, through the ACM (as the AVI reader decodes) and through
// the ffmpeg tool from the WAV file they make.
std::pair<Bytes, Bytes> decodeAudio(const CMediaType& type, const std::vector<Packet>& packets)
{
    Bytes data, decoded;
    for (const Packet& p : packets)
        append(data, p.data);
    auto* format = reinterpret_cast<WAVEFORMATEX*>(type.Format());
    WAVEFORMATEX pcm = waveFormat(WAVE_FORMAT_PCM, format->nChannels, format->nSamplesPerSec, 16);
    HACMSTREAM stream;
    DWORD bound = 0;
    if (acmStreamOpen(&stream, nullptr, format, &pcm, nullptr, 0, 0, 0) == 0 &&
        acmStreamSize(stream, DWORD(data.size()), &bound, ACM_STREAMSIZEF_SOURCE) == 0) {
        decoded.resize(bound);
        ACMSTREAMHEADER header = {84, 0, 0, data.data(), DWORD(data.size()), 0, 0, decoded.data(), bound};
        acmStreamPrepareHeader(stream, &header, 0);
        const DWORD whole = ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
        decoded.resize(acmStreamConvert(stream, &header, whole) == 0 ? header.cbDstLengthUsed : 0);
        acmStreamUnprepareHeader(stream, &header, 0);
        acmStreamClose(stream, 0);
    }
    RiffBuilder wav;
    wav.open("RIFF", "WAVE");
    wav.chunk("fmt ", Bytes(type.Format(), type.Format() + type.FormatLength()));
    wav.chunk("data", data);
    wav.close();
    ScratchDir dir;
    return {decoded, ffmpegPcm(dir.write("a.wav", wav.image))};
}

// What the stream decodes to for the sample frames pushed: exactly those, whole blocks of them
// (the last padded with silence), or whole MP3 frames holding the encoder's delay and then every
// sample; or the connection is refused.
enum class Comes { Exactly, WholeBlocks, AfterDelay, Refused };

struct AudioCase { const wchar_t* codec; WORD tag; unsigned rate, channels, bits; Comes comes; double snr; };
void PrintTo(const AudioCase& c, std::ostream* out)
{
    *out << "tag " << c.tag << ", " << c.rate << "x" << c.channels << "x" << c.bits;
}
const AudioCase audioCases[] = {
    {L"A-law", 6, 8000, 1, 16, Comes::Exactly, 33}, {L"mu-law", 7, 22050, 2, 16, Comes::Exactly, 33},
    {L"A-law", 6, 48000, 6, 8, Comes::Exactly, 30}, {L"MS ADPCM", 2, 44100, 2, 16, Comes::WholeBlocks, 38},
    {L"MS ADPCM", 2, 22050, 1, 8, Comes::WholeBlocks, 30}, {L"IMA ADPCM", 0x11, 48000, 2, 16, Comes::WholeBlocks, 38},
    {L"IMA ADPCM", 0x11, 11025, 1, 16, Comes::WholeBlocks, 30}, {L"MP3", 0x55, 44100, 2, 16, Comes::AfterDelay, 22},
    {L"MP3", 0x55, 48000, 1, 16, Comes::AfterDelay, 22}, {L"MP3", 0x55, 22050, 2, 16, Comes::AfterDelay, 22},
    {L"MS ADPCM", 2, 44100, 3, 16, Comes::Refused}, {L"IMA ADPCM", 0x11, 22050, 6, 16, Comes::Refused},
    {L"MP3", 0x55, 96000, 2, 16, Comes::Refused}, {L"MP3", 0x55, 44100, 6, 16, Comes::Refused},
    {L"A-law", 6, 8000, 1, 24, Comes::Refused},
};

class AudioCompressor : public testing::TestWithParam<AudioCase> {};

// A tone pushed in pieces of odd sizes comes back with every sample accounted for: the packets
// follow one another from the first sample's time and end where the decoded stream ends; the ACM
// and FFmpeg decode it alike.
TEST_P(AudioCompressor, EncodesEverySampleAndCountsWhatComesBack)
{
    const AudioCase& c = GetParam();
    Chain chain(CLSID_AudioCompressorCategory, c.codec);
    chain.Source().SetupAudioInformation(c.rate, c.bits, c.channels);
    ASSERT_EQ(c.comes != Comes::Refused, chain.Connect());
    if (c.comes == Comes::Refused)
        return;
    const CMediaType type = chain.Output();
    const auto& wave = *reinterpret_cast<const WAVEFORMATEX*>(type.Format());
    WORD extra[6] = {};
    memcpy(extra, &wave + 1, std::min<size_t>(wave.cbSize, sizeof extra));
    EXPECT_EQ(std::tuple(FourCCGuid(c.tag), c.tag, WORD(c.channels), DWORD(c.rate), size_t(type.FormatLength())),
              std::tuple(type.subtype, wave.wFormatTag, wave.nChannels, wave.nSamplesPerSec,
                         sizeof wave + wave.cbSize));

    const unsigned total = 20000, frameBytes = c.channels * c.bits / 8;
    const Bytes original = tone(c.rate, c.channels, 0, total);
    Bytes pushed = original;
    for (size_t i = 0; c.bits == 8 && i < total * c.channels; i++)  // 8-bit: the high bytes, unsigned
        pushed[i] = uint8_t(original[2 * i + 1] + 128);
    pushed.resize(size_t(total) * frameBytes);
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
    const auto [decoded, ffmpeg] = decodeAudio(type, packets);
    EXPECT_TRUE(decoded == ffmpeg) << "the ACM and FFmpeg decode alike";
    const uint64_t frames = decoded.size() / (2 * c.channels);
    EXPECT_EQ(time(frames), end);
    if (c.comes == Comes::Exactly) {
        EXPECT_EQ(total, frames);
    } else if (c.comes == Comes::WholeBlocks) {
        const unsigned perBlock = extra[0];  // wSamplesPerBlock
        EXPECT_EQ(std::tuple(packets.size() * wave.nBlockAlign, (total + perBlock - 1) / perBlock * perBlock),
                  std::tuple(packets.size() * packets[0].data.size(), frames));
    } else {
        // MPEGLAYER3WAVEFORMAT: wID, fdwFlags, nBlockSize, nFramesPerBlock, nCodecDelay.
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

}  // namespace
