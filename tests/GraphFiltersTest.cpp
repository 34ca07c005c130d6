// The system filters in a real filter graph over files the ffmpeg tool writes: the file source (or
// the ASF Reader) connected by intelligent connect, through the decoders it finds, to a renderer
// that records every sample. What such a renderer sees is checked here: the pins, each sample's
// time and discontinuity, the streams' lengths, all that follows a seek while running, the DV
// decoder's display sizes, the loads that fail. The pictures and samples themselves are compared with FFmpeg's
// through the capture renderers (GraphReadingTest).
#include "CaptureGraph.h"
#include "GraphMediaFiles.h"
#include "RecordingRenderer.h"

namespace {

// Takes UYVY of any size or PCM.
bool UyvyOrPcm(const CMediaType& type)
{
    const bool video = type.majortype == MEDIATYPE_Video;
    return (video || type.majortype == MEDIATYPE_Audio) &&
           type.subtype == (video ? MEDIASUBTYPE_UYVY : MEDIASUBTYPE_PCM) &&
           type.formattype == (video ? FORMAT_VideoInfo : FORMAT_WaveFormatEx) &&
           type.cbFormat >= (video ? sizeof(VIDEOINFOHEADER) : sizeof(WAVEFORMATEX));
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

template <class T>
ComRef<T> Create(REFCLSID clsid, REFIID iid)
{
    ComRef<T> made;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(made.out())), S_OK);
    return made;
}

Bytes joined(const std::vector<Record>& records)
{
    Bytes all;
    for (const Record& r : records)
        all.insert(all.end(), r.data.begin(), r.data.end());
    return all;
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
        EXPECT_EQ(AddFileSource(graph.get(), path, source.out()), S_OK);
        for (const ComRef<IPin>& pin : PinsOf(source.get())) {
            recorders.emplace_back(new Recorder(UyvyOrPcm));
            EXPECT_EQ(graph->AddFilter(recorders.back().get(), nullptr), S_OK);
            EXPECT_EQ(graph->Connect(pin.get(), recorders.back()->GetPin(0)), S_OK) << path;
        }
    }
    ~Graph() { control->Stop(); }
    Recorder* Of(bool video)
    {
        for (const ComRef<Recorder>& recorder : recorders)
            if ((recorder->Type().majortype == MEDIATYPE_Video) == video)
                return recorder.get();
        return nullptr;
    }
    // The format block of the stream's type (UyvyOrPcm saw it whole); zeros without the stream.
    template <class Format>
    Format FormatOf(bool video)
    {
        Format format{};
        if (Recorder* recorder = Of(video))
            memcpy(&format, recorder->Type().Format(), sizeof format);
        return format;
    }
    std::vector<Record> Take(bool video) { return Of(video) ? Of(video)->Take() : std::vector<Record>{}; }
    HRESULT Seek(LONGLONG at) { return seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning); }
    void WaitForEnd()
    {
        LONG code = 0;
        ASSERT_EQ(QueryRef<IMediaEvent>(graph.get(), IID_IMediaEvent)->WaitForCompletion(20000, &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
    }
    void RunToEnd()
    {
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        WaitForEnd();
    }
};

// The samples after the last discontinuity.
std::vector<Record> lastSegment(std::vector<Record> records)
{
    const auto mark = std::find_if(records.rbegin(), records.rend(), [](const Record& r) { return r.discontinuity; });
    return {mark == records.rend() ? records.end() : std::prev(mark.base()), records.end()};
}

class GraphFilterFiles : public testing::TestWithParam<MediaFile> {};

// A whole run: the pins, each stream as long as ffprobe gives it (PCM in AVI, which has no length
// of its own, as long as its samples), every picture once at its place in time, blocks that follow
// each other sample for sample, the first of each stream marked. Then two seeks to one time while the graph
// runs (it pauses, seeks and runs again; what the first started, the second flushes): from the last
// mark on, the picture covering the time, starting at or before zero, and every picture after it;
// audio from the time's exact sample to the end.
TEST_P(GraphFilterFiles, PinsTimesAndAllAfterASeekWhileRunning)
{
    const MediaFile& file = GetParam();
    Graph g(file.path());
    std::vector<std::wstring> names;
    const std::vector<ComRef<IPin>> pins = PinsOf(g.source.get());
    for (size_t n = 0; n < pins.size(); n++) {
        PIN_INFO info;
        pins[n]->QueryPinInfo(&info);
        SafeRelease(info.pFilter);
        names.push_back(info.achName);
        LONGLONG duration = 0;
        EXPECT_EQ(QueryRef<IMediaSeeking>(pins[n].get(), IID_IMediaSeeking)->GetDuration(&duration), S_OK);
        EXPECT_NEAR(double(duration) / 1e7, ffprobeSeconds(file, int(n)), 1e-6) << "stream " << n;
    }
    EXPECT_EQ(names, file.pins);

    g.RunToEnd();
    const std::vector<Record> pictures = g.Take(true), blocks = g.Take(false);
    const REFERENCE_TIME frame = g.FormatOf<VIDEOINFOHEADER>(true).AvgTimePerFrame;
    for (size_t n = 0; n < pictures.size(); n++) {
        EXPECT_NEAR(pictures[n].start, REFERENCE_TIME(n) * frame, 10000) << n;  // ASF counts milliseconds
        EXPECT_GT(pictures[n].stop, pictures[n].start) << n;
        EXPECT_EQ(pictures[n].discontinuity, n == 0) << n;
    }
    const WAVEFORMATEX wave = g.FormatOf<WAVEFORMATEX>(false);
    int64_t sample = 0;
    for (const Record& block : blocks) {
        ASSERT_EQ(block.start, (sample * 10000000 + wave.nSamplesPerSec - 1) / wave.nSamplesPerSec);
        sample += int64_t(block.data.size() / wave.nBlockAlign);
    }

    LONGLONG duration = 0;
    ASSERT_EQ(g.seeking->GetDuration(&duration), S_OK);
    const REFERENCE_TIME t = duration * 3 / 5 + 1234;
    ASSERT_TRUE(SUCCEEDED(g.Seek(t)));
    g.Take(true);
    g.Take(false);
    ASSERT_TRUE(SUCCEEDED(g.Seek(t)));
    g.WaitForEnd();
    if (!pictures.empty()) {
        const std::vector<Record> after = lastSegment(g.Take(true));
        ASSERT_FALSE(after.empty());
        EXPECT_LE(after[0].start, 0);
        EXPECT_GT(after[0].stop, 0);
        const auto covering = std::find_if(pictures.begin(), pictures.end(), [&](const Record& r) { return r.stop > t; });
        EXPECT_TRUE(std::equal(after.begin(), after.end(), covering, pictures.end(),
                               [](const Record& a, const Record& b) { return a.data == b.data; }));
    }
    if (!blocks.empty()) {
        const std::vector<Record> after = lastSegment(g.Take(false));
        ASSERT_FALSE(after.empty());
        // The first sample given is the one whose time span holds t.
        EXPECT_LE(after[0].start, 0);
        EXPECT_GT(after[0].start, -10000000 / REFERENCE_TIME(wave.nSamplesPerSec) - 1);
        const Bytes pcm = joined(blocks), rest = joined(after);
        const size_t first = size_t(t * wave.nSamplesPerSec / 10000000) * wave.nBlockAlign;
        EXPECT_EQ(rest.size(), pcm.size() - first);
        EXPECT_TRUE(file.audioSlack || rest == Bytes(pcm.begin() + first, pcm.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(GraphFilters, GraphFilterFiles, testing::ValuesIn(mediaFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// Each display size of the DV decoder, asked for once the graph is connected: every picture comes
// at that size, as FFmpeg decodes it at that size.
TEST(GraphFiltersDV, DisplaySizes)
{
    const MediaFile& file = mediaFile("GraphDvPal");
    for (int lowres = 0; lowres < 4; lowres++) {
        Graph g(file.path());
        ComRef<IBaseFilter> decoder;
        ASSERT_EQ(g.graph->FindFilterByName(L"DV Video Decoder", decoder.out()), S_OK);
        ComRef<IIPDVDec> dv = QueryRef<IIPDVDec>(decoder.get(), IID_IIPDVDec);
        ASSERT_TRUE(dv);
        EXPECT_EQ(dv->put_IPDisplay(DVRESOLUTION_FULL + lowres), S_OK);
        int display = 0;
        EXPECT_EQ(dv->get_IPDisplay(&display), S_OK);
        g.RunToEnd();
        const BITMAPINFOHEADER format = g.FormatOf<VIDEOINFOHEADER>(true).bmiHeader;
        EXPECT_EQ(std::tuple(DVRESOLUTION_FULL + lowres, LONG(720 >> lowres), LONG(576 >> lowres)),
                  std::tuple(display, format.biWidth, format.biHeight));
        const std::vector<Bytes> expected = ffmpegPictures(file.path(), file.video, format, lowres);
        const std::vector<Record> pictures = g.Take(true);
        ASSERT_EQ(pictures.size(), expected.size());
        for (size_t n = 0; n < pictures.size(); n++)
            EXPECT_TRUE(pictures[n].data == expected[n]) << "lowres " << lowres << ", picture " << n;
    }
    ComRef<IIPDVDec> dv = Create<IIPDVDec>(CLSID_DVVideoCodec, IID_IIPDVDec);
    for (int wrong : {DVRESOLUTION_FULL - 1, DVRESOLUTION_DC + 1})
        EXPECT_EQ(dv->put_IPDisplay(wrong), E_INVALIDARG);
}

// Loads that fail, by source: a missing file, one FFmpeg cannot read, a file of another kind for
// the ASF Reader, a file without audio or video; and a second load.
TEST(GraphFiltersSources, LoadsThatFail)
{
    ScratchDir dir;
    const std::string text = dir.write("notes.wmv", Bytes(1000, 'x'));
    const std::string subtitles =
        make("GraphSubtitles", ".mkv",
             "printf '1\\n00:00:00,000 --> 00:00:01,000\\nhi\\n' > {out}.srt && ffmpeg -nostdin -v error -y -i {out}.srt "
             "-f matroska {out}; status=$?; rm -f {out}.srt; exit $status");
    const struct { CLSID source; std::string path; HRESULT expected; } cases[] = {
        {CLSID_AsyncReader, dir.path("missing.avi"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {CLSID_AsyncReader, text, VFW_E_UNKNOWN_FILE_TYPE},
        {CLSID_WMAsfReader, text, VFW_E_UNKNOWN_FILE_TYPE},
        {CLSID_WMAsfReader, mediaFile("GraphH264Aac").path(), VFW_E_UNKNOWN_FILE_TYPE},
        {CLSID_AsyncReader, subtitles, VFW_E_INVALID_FILE_FORMAT},
    };
    for (const auto& c : cases) {
        ComRef<IFileSourceFilter> source = Create<IFileSourceFilter>(c.source, IID_IFileSourceFilter);
        EXPECT_EQ(source->Load(Wide(c.path).c_str(), nullptr), c.expected) << c.path;
        EXPECT_EQ(PinsOf(QueryRef<IBaseFilter>(source.get(), IID_IBaseFilter).get()).size(), 0u) << c.path;
    }
    ComRef<IFileSourceFilter> source = Create<IFileSourceFilter>(CLSID_AsyncReader, IID_IFileSourceFilter);
    const std::wstring name = Wide(mediaFile("GraphFfv1Flac").path());
    ASSERT_EQ(source->Load(name.c_str(), nullptr), S_OK);
    EXPECT_EQ(source->Load(name.c_str(), nullptr), E_UNEXPECTED);
    LPOLESTR loaded = nullptr;
    ASSERT_EQ(source->GetCurFile(&loaded, nullptr), S_OK);
    EXPECT_EQ(std::wstring(loaded), name);
    CoTaskMemFree(loaded);
}

}  // namespace
