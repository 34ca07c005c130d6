// The system filters in a real filter graph, on files the ffmpeg tool writes: the file source (or
// the ASF Reader) connected by intelligent connect, through the decoders it finds, to a renderer
// that records what it renders. Every picture and block once and in order, with its time; the
// pixels of the lossless file and the PCM of lossless audio as the ffmpeg tool decodes them; the
// duration against ffprobe; after a seek, the picture covering the time and audio from its exact
// sample; the DV decoder's display sizes; the loads that fail.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "MediaFiles.h"
#include "TestSupport.h"
#include "platform/com/ComRef.h"
#include "platform/dshow/Streams.h"

namespace {

HRESULT ignored;

struct Record {
    REFERENCE_TIME start, stop;
    bool discontinuity;
    Bytes data;
};

// Takes UYVY of any size or PCM, and keeps every sample it renders with the type it came in.
class Recorder final : public CBaseRenderer {
public:
    Recorder() : CBaseRenderer(GUID_NULL, "Recorder", nullptr, &ignored) {}
    HRESULT CheckMediaType(const CMediaType* type) override
    {
        const bool video = type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_UYVY &&
                           type->formattype == FORMAT_VideoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER);
        const bool audio = type->majortype == MEDIATYPE_Audio && type->subtype == MEDIASUBTYPE_PCM &&
                           type->formattype == FORMAT_WaveFormatEx && type->cbFormat >= sizeof(WAVEFORMATEX);
        return video || audio ? S_OK : E_FAIL;
    }
    HRESULT SetMediaType(const CMediaType* type) override
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Type = *type;
        return S_OK;
    }
    HRESULT DoRenderSample(IMediaSample* sample) override
    {
        Record r{0, 0, sample->IsDiscontinuity() == S_OK, Bytes(size_t(sample->GetActualDataLength()))};
        EXPECT_EQ(sample->GetTime(&r.start, &r.stop), S_OK);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::copy(data, data + r.data.size(), r.data.begin());
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Records.push_back(std::move(r));
        return S_OK;
    }
    std::vector<Record> Take()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return std::exchange(m_Records, {});
    }
    CMediaType Type()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Type;
    }
    bool IsVideo() { return Type().majortype == MEDIATYPE_Video; }
    // The format block of the type it renders: VIDEOINFOHEADER or WAVEFORMATEX.
    template <class Format>
    Format FormatOf()
    {
        Format format;
        std::memcpy(&format, Type().pbFormat, sizeof format);
        return format;
    }

private:
    std::mutex m_Lock;
    std::vector<Record> m_Records;
    CMediaType m_Type;
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

template <class T>
ComRef<T> Create(REFCLSID clsid, REFIID iid)
{
    ComRef<T> made;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(made.out())), S_OK);
    return made;
}

std::vector<ComRef<IPin>> PinsOf(IBaseFilter* filter)
{
    std::vector<ComRef<IPin>> pins;
    ComRef<IEnumPins> pinEnum;
    filter->EnumPins(pinEnum.out());
    for (IPin* pin; pinEnum->Next(1, &pin, nullptr) == S_OK;)
        pins.push_back(ComRef<IPin>::Adopt(pin));
    return pins;
}

std::wstring PinName(IPin* pin)
{
    PIN_INFO info;
    pin->QueryPinInfo(&info);
    SafeRelease(info.pFilter);
    return info.achName;
}

// A file's source connected, pin by pin, to recorders through whatever intelligent connect finds.
struct Graph {
    ComRef<IGraphBuilder> graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComRef<IMediaControl> control = QueryRef<IMediaControl>(graph.get(), IID_IMediaControl);
    ComRef<IMediaSeeking> seeking = QueryRef<IMediaSeeking>(graph.get(), IID_IMediaSeeking);
    ComRef<IBaseFilter> source;
    std::vector<ComRef<Recorder>> recorders;  // one per output pin of the source

    explicit Graph(const std::string& path)
    {
        QueryRef<IMediaFilter>(graph.get(), IID_IMediaFilter)->SetSyncSource(nullptr);
        const std::wstring name = Wide(path);
        if (path.ends_with(".wmv") || path.ends_with(".wma")) {
            source = Create<IBaseFilter>(CLSID_WMAsfReader, IID_IBaseFilter);
            EXPECT_EQ(graph->AddFilter(source.get(), L"ASF Reader"), S_OK);
            EXPECT_EQ(QueryRef<IFileSourceFilter>(source.get(), IID_IFileSourceFilter)->Load(name.c_str(), nullptr), S_OK);
        } else {
            EXPECT_EQ(graph->AddSourceFilter(name.c_str(), nullptr, source.out()), S_OK);
        }
        for (const ComRef<IPin>& pin : PinsOf(source.get())) {
            recorders.emplace_back(new Recorder);
            EXPECT_EQ(graph->AddFilter(recorders.back().get(), nullptr), S_OK);
            EXPECT_EQ(graph->Connect(pin.get(), recorders.back()->GetPin(0)), S_OK) << path;
        }
    }
    ~Graph() { control->Stop(); }
    Recorder* Of(bool video)
    {
        for (const ComRef<Recorder>& recorder : recorders)
            if (recorder->IsVideo() == video)
                return recorder.get();
        return nullptr;
    }
    void RunToEnd()
    {
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        LONG code = 0;
        ASSERT_EQ(QueryRef<IMediaEvent>(graph.get(), IID_IMediaEvent)->WaitForCompletion(20000, &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
    }
};

struct MediaFile {
    const char* name;
    const char* extension;
    std::string command;
    std::vector<std::wstring> pins;  // the source's output pins, in order
    bool losslessVideo;
    bool losslessAudio;
    std::string path() const { return make(name, extension, command); }
};
void PrintTo(const MediaFile& file, std::ostream* out) { *out << file.name; }

const std::string picture = testsrc("160x120", "25"), tone = lavfi("sine=frequency=440:sample_rate=44100");
const std::string gop = " -g 12 -bf 2";

MediaFile dv(const char* name, const std::string& size, const std::string& rate, const std::string& format)
{
    return {name, ".dv", ffmpeg(testsrc(size, rate) + lavfi("sine=frequency=440:sample_rate=48000"), "-t 1 -pix_fmt " + format + " -ac 2 -f dv"),
            {L"Video", L"Audio"}, false, true};
}

const MediaFile files[] = {
    {"GraphWmv2Wma2", ".wmv", ffmpeg(picture + tone, "-t 2 -c:v wmv2 -c:a wmav2 -ac 2"), {L"Raw Video 0", L"Raw Audio 1"}},
    {"GraphWmv1", ".wmv", ffmpeg(picture, "-t 2 -c:v wmv1"), {L"Raw Video 0"}},
    {"GraphWma2", ".wma", ffmpeg(lavfi("sine=frequency=300:sample_rate=22050"), "-t 2 -c:a wmav2"), {L"Raw Audio 0"}},
    {"GraphH264Aac", ".mp4", ffmpeg(picture + tone, "-t 2 -c:v libx264 -preset veryfast" + gop + " -c:a aac"),
     {L"Video", L"Audio"}},
    {"GraphFfv1Flac", ".mkv", ffmpeg(picture + tone, "-t 2 -c:v ffv1 -pix_fmt yuv422p -c:a flac"), {L"Video", L"Audio"},
     true, true},
    {"GraphMpeg2Mp2", ".mpg", ffmpeg(picture + tone, "-t 2 -c:v mpeg2video" + gop + " -c:a mp2 -f mpeg"),
     {L"Video", L"Audio"}},
    dv("GraphDvPal", "720x576", "25", "yuv420p"),
    dv("GraphDvNtsc", "720x480", "30000/1001", "yuv411p"),
    {"GraphMpeg4Pcm", ".avi", ffmpeg(picture + tone, "-t 2 -c:v mpeg4" + gop + " -c:a pcm_s16le -ac 2"),
     {L"Video", L"Audio"}, false, true},
    // Audio packets larger than a source's first buffers: a second of PCM each.
    {"GraphFfv1LongPcm", ".nut",
     ffmpeg(picture + lavfi("sine=frequency=440:sample_rate=44100:samples_per_frame=44100"),
            "-t 2 -c:v ffv1 -pix_fmt yuv422p -c:a pcm_s16le -ac 2"),
     {L"Video", L"Audio"}, true, true},
};

// The ffmpeg tool's decode of a file's first stream of a kind, as raw UYVY or 16-bit PCM.
Bytes toolDecode(const MediaFile& file, bool video)
{
    const std::string options = video ? "-map 0:v:0 -vsync passthrough -f rawvideo -pix_fmt uyvy422" : "-map 0:a:0 -f s16le -c:a pcm_s16le";
    return readFile(make(std::string(file.name) + (video ? "Uyvy" : "Pcm"), ".raw",
                         "ffmpeg -nostdin -v error -i " + quote(file.path()) + " " + options + " -y {out}"));
}

// The longest stream as ffprobe reads the file, or the file's length where streams do not tell.
REFERENCE_TIME probeDuration(const std::string& path)
{
    double longest = 0;
    for (const char* entry : {"stream=duration", "format=duration"}) {
        std::string text;
        run("ffprobe -v error -show_entries " + std::string(entry) + " -of csv=p=0 " + quote(path), &text);
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            longest = std::max(longest, atof(line.c_str()));
        if (longest > 0)
            break;
    }
    return REFERENCE_TIME(longest * 1e7 + 0.5);
}

Bytes joined(const std::vector<Record>& records)
{
    Bytes all;
    for (const Record& r : records)
        all.insert(all.end(), r.data.begin(), r.data.end());
    return all;
}

class GraphFilterFiles : public testing::TestWithParam<MediaFile> {};

// A whole run: the pins, every picture in order once with its place in time, blocks that follow
// each other sample for sample, lossless data as the ffmpeg tool decodes it, the duration.
// Then a seek while paused: the picture covering the time first, audio from its exact sample.
TEST_P(GraphFilterFiles, EveryPictureAndSampleThenASeek)
{
    const MediaFile& file = GetParam();
    Graph g(file.path());
    std::vector<std::wstring> names;
    for (const ComRef<IPin>& pin : PinsOf(g.source.get()))
        names.push_back(PinName(pin.get()));
    EXPECT_EQ(names, file.pins);
    LONGLONG duration = 0;
    ASSERT_EQ(g.seeking->GetDuration(&duration), S_OK);
    // ASF counts milliseconds.
    EXPECT_NEAR(duration, probeDuration(file.path()), 10000);

    g.RunToEnd();
    Recorder* video = g.Of(true);
    Recorder* audio = g.Of(false);
    std::vector<Record> pictures = video ? video->Take() : std::vector<Record>{};
    std::vector<Record> blocks = audio ? audio->Take() : std::vector<Record>{};
    if (video) {
        const Bytes tool = toolDecode(file, true);
        const VIDEOINFOHEADER info = video->FormatOf<VIDEOINFOHEADER>();
        const size_t size = info.bmiHeader.biSizeImage;
        ASSERT_EQ(pictures.size() * size, tool.size());
        for (size_t n = 0; n < pictures.size(); n++) {
            EXPECT_NEAR(pictures[n].start, REFERENCE_TIME(n) * info.AvgTimePerFrame, 10000) << n;
            EXPECT_GT(pictures[n].stop, pictures[n].start) << n;
            EXPECT_EQ(pictures[n].discontinuity, n == 0) << n;
            if (file.losslessVideo)
                EXPECT_TRUE(std::equal(pictures[n].data.begin(), pictures[n].data.end(), tool.begin() + n * size)) << n;
        }
    }
    WAVEFORMATEX wave{};
    Bytes pcm;
    if (audio) {
        wave = audio->FormatOf<WAVEFORMATEX>();
        pcm = joined(blocks);
        const Bytes tool = toolDecode(file, false);
        if (file.losslessAudio)
            EXPECT_TRUE(pcm == tool);
        else
            EXPECT_NEAR(double(pcm.size()), double(tool.size()), 2048.0 * wave.nBlockAlign);
        int64_t sample = 0;
        for (const Record& block : blocks) {
            ASSERT_EQ(block.start, (sample * 10000000 + wave.nSamplesPerSec - 1) / wave.nSamplesPerSec);
            sample += int64_t(block.data.size() / wave.nBlockAlign);
        }
    }

    const REFERENCE_TIME t = duration * 3 / 5 + 1234;
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    LONGLONG at = t;
    ASSERT_EQ(g.seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    g.RunToEnd();
    if (video) {
        const std::vector<Record> after = video->Take();
        ASSERT_FALSE(after.empty());
        EXPECT_TRUE(after[0].discontinuity);
        EXPECT_LE(after[0].start, 0);
        EXPECT_GT(after[0].stop, 0);
        auto covering = std::find_if(pictures.begin(), pictures.end(), [&](const Record& r) { return r.stop > t; });
        ASSERT_NE(covering, pictures.end());
        EXPECT_TRUE(after[0].data == covering->data);
        EXPECT_EQ(after.size(), size_t(pictures.end() - covering));
    }
    if (audio) {
        const std::vector<Record> after = audio->Take();
        ASSERT_FALSE(after.empty());
        const int64_t first = t * wave.nSamplesPerSec / 10000000;
        // The first sample given is the one whose time span holds t.
        EXPECT_LE(after[0].start, 0);
        EXPECT_GT(after[0].start, -10000000 / REFERENCE_TIME(wave.nSamplesPerSec) - 1);
        if (file.losslessAudio)
            EXPECT_TRUE(joined(after) == Bytes(pcm.begin() + first * wave.nBlockAlign, pcm.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(GraphFilters, GraphFilterFiles, testing::ValuesIn(files),
                         [](const auto& info) { return std::string(info.param.name); });

// A seek while the graph runs (the graph pauses, seeks and runs again) restarts both streams at t.
TEST(GraphFiltersSeeking, WhileRunningBothStreamsRestartAtTheTime)
{
    const MediaFile& file = files[4];
    Graph g(file.path());
    g.RunToEnd();
    const std::vector<Record> pictures = g.Of(true)->Take();
    const Bytes pcm = joined(g.Of(false)->Take());
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    LONGLONG at = 5000000;
    ASSERT_TRUE(SUCCEEDED(g.seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning)));
    g.Of(true)->Take();
    g.Of(false)->Take();
    // Once more from the same place: everything rendered now comes after this seek.
    ASSERT_TRUE(SUCCEEDED(g.seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning)));
    LONG code = 0;
    ASSERT_EQ(QueryRef<IMediaEvent>(g.graph.get(), IID_IMediaEvent)->WaitForCompletion(20000, &code), S_OK);
    std::vector<Record> videoAfter = g.Of(true)->Take(), audioAfter = g.Of(false)->Take();
    // Samples of the first seek that were under way when the second came are dropped by the flush;
    // what comes after the last discontinuity is the second segment.
    auto lastSegment = [](std::vector<Record>& records) {
        auto start = std::find_if(records.rbegin(), records.rend(), [](const Record& r) { return r.discontinuity; });
        ASSERT_NE(start, records.rend());
        records.erase(records.begin(), start.base() - 1);
    };
    lastSegment(videoAfter);
    lastSegment(audioAfter);
    ASSERT_EQ(videoAfter.size(), pictures.size() - 12);  // from picture 12, at 25 a second
    EXPECT_TRUE(videoAfter[0].data == pictures[12].data);
    const WAVEFORMATEX wave = g.Of(false)->FormatOf<WAVEFORMATEX>();
    ASSERT_EQ(wave.nSamplesPerSec, 44100u);
    EXPECT_TRUE(joined(audioAfter) == Bytes(pcm.begin() + 22050 * wave.nBlockAlign, pcm.end()));
}

// Each display size of the DV decoder, asked for once the graph is connected: the first picture
// brings the new size; every picture comes at that size.
TEST(GraphFiltersDV, DisplaySizes)
{
    const MediaFile& file = files[6];
    struct Size {
        int display;
        LONG width, height;
    };
    for (const Size& size : {Size{DVRESOLUTION_FULL, 720, 576}, Size{DVRESOLUTION_HALF, 360, 288},
                             Size{DVRESOLUTION_QUARTER, 180, 144}, Size{DVRESOLUTION_DC, 90, 72}}) {
        Graph g(file.path());
        ComRef<IBaseFilter> decoder;
        ASSERT_EQ(g.graph->FindFilterByName(L"DV Video Decoder", decoder.out()), S_OK);
        ComRef<IIPDVDec> dv = QueryRef<IIPDVDec>(decoder.get(), IID_IIPDVDec);
        ASSERT_TRUE(dv);
        EXPECT_EQ(dv->put_IPDisplay(size.display), S_OK);
        int display = 0;
        EXPECT_EQ(dv->get_IPDisplay(&display), S_OK);
        EXPECT_EQ(display, size.display);
        g.RunToEnd();
        const VIDEOINFOHEADER info = g.Of(true)->FormatOf<VIDEOINFOHEADER>();
        EXPECT_EQ(info.bmiHeader.biWidth, size.width);
        EXPECT_EQ(info.bmiHeader.biHeight, size.height);
        const std::vector<Record> pictures = g.Of(true)->Take();
        EXPECT_EQ(pictures.size(), 25u);
        for (const Record& picture : pictures)
            EXPECT_EQ(picture.data.size(), size_t(size.width * size.height * 2));
    }
    ComRef<IIPDVDec> dv = Create<IIPDVDec>(CLSID_DVVideoCodec, IID_IIPDVDec);
    for (int wrong : {DVRESOLUTION_FULL - 1, DVRESOLUTION_DC + 1})
        EXPECT_EQ(dv->put_IPDisplay(wrong), E_INVALIDARG);
}

// Loads that fail, by source: a missing file, one FFmpeg cannot read, a file of another kind for
// the ASF Reader, a file without audio or video.
TEST(GraphFiltersSources, LoadsThatFail)
{
    ScratchDir dir;
    const std::string text = dir.write("notes.wmv", Bytes(1000, 'x'));
    const std::string subtitles =
        make("GraphSubtitles", ".mkv",
             "printf '1\\n00:00:00,000 --> 00:00:01,000\\nhi\\n' > {out}.srt && ffmpeg -nostdin -v error -y -i {out}.srt "
             "-f matroska {out}; status=$?; rm -f {out}.srt; exit $status");
    const struct {
        CLSID source;
        std::string path;
        HRESULT expected;
    } cases[] = {
        {CLSID_AsyncReader, dir.path("missing.avi"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {CLSID_AsyncReader, text, VFW_E_UNKNOWN_FILE_TYPE},
        {CLSID_WMAsfReader, text, VFW_E_UNKNOWN_FILE_TYPE},
        {CLSID_WMAsfReader, files[3].path(), VFW_E_UNKNOWN_FILE_TYPE},
        {CLSID_AsyncReader, subtitles, VFW_E_INVALID_FILE_FORMAT},
    };
    for (const auto& c : cases) {
        ComRef<IFileSourceFilter> source = Create<IFileSourceFilter>(c.source, IID_IFileSourceFilter);
        EXPECT_EQ(source->Load(Wide(c.path).c_str(), nullptr), c.expected) << c.path;
        EXPECT_EQ(PinsOf(QueryRef<IBaseFilter>(source.get(), IID_IBaseFilter).get()).size(), 0u) << c.path;
    }
    ComRef<IFileSourceFilter> source = Create<IFileSourceFilter>(CLSID_AsyncReader, IID_IFileSourceFilter);
    const std::wstring name = Wide(files[4].path());
    ASSERT_EQ(source->Load(name.c_str(), nullptr), S_OK);
    EXPECT_EQ(source->Load(name.c_str(), nullptr), E_UNEXPECTED);
    LPOLESTR loaded = nullptr;
    ASSERT_EQ(source->GetCurFile(&loaded, nullptr), S_OK);
    EXPECT_EQ(std::wstring(loaded), name);
    CoTaskMemFree(loaded);
}

}  // namespace
