// The filter graph manager, driven as the graph reader and the writer drive it, over small test
// filters: a counting source that seeks on its pin, a decoder found through the class table, a
// renderer that records what it renders.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <optional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "DShowTestFilters.h"
#include "TestSupport.h"
#include "platform/com/ClassTable.h"
#include "platform/com/ComRef.h"
#include "platform/dshow/BaseRenderer.h"
#include "platform/dshow/GraphWalk.h"
#include "platform/dshow/MediaTimeSeeking.h"
#include "platform/dshow/SourceStream.h"
#include "platform/dshow/TransformFilter.h"

namespace {

constexpr GUID MEDIASUBTYPE_TestCoded = MakeGuid("9B2D07E1-3C4A-4F1E-8D6B-2A7C5E1F0A01");
constexpr CLSID CLSID_TestSource = MakeGuid("9B2D07E1-3C4A-4F1E-8D6B-2A7C5E1F0A02");
constexpr CLSID CLSID_TestFileSource = MakeGuid("9B2D07E1-3C4A-4F1E-8D6B-2A7C5E1F0A04");
// Registered decoders: [0] outputs what the renderer takes, [1] a type it refuses.
constexpr CLSID CLSID_TestDecoder[2] = {MakeGuid("9B2D07E1-3C4A-4F1E-8D6B-2A7C5E1F0A10"),
                                        MakeGuid("9B2D07E1-3C4A-4F1E-8D6B-2A7C5E1F0A11")};
constexpr REFERENCE_TIME FrameTime = 1000;
HRESULT ignored;

// Every test filter counts itself alive and logs its state changes ("Rp" = the renderer paused).
std::atomic<int> liveFilters{0};
std::mutex logLock;
std::string stateLog;

template <class Base>
class Tracked : public Base {
public:
    template <class... Args>
    explicit Tracked(char tag, Args&&... args) : Base(std::forward<Args>(args)...), m_Tag(tag) { ++liveFilters; }
    ~Tracked() override { --liveFilters; }
    HRESULT Stop() override { return Log('s'), Base::Stop(); }
    HRESULT Pause() override { return Log('p'), Base::Pause(); }
    HRESULT Run(REFERENCE_TIME start) override { return Log('r'), Base::Run(start); }
    IPin* Pin(int n) { return this->GetPin(n); }

private:
    void Log(char change)
    {
        std::lock_guard<std::mutex> lock(logLock);
        stateLog += {m_Tag, change, ' '};
    }
    const char m_Tag;
};

std::string TakeLog()
{
    std::lock_guard<std::mutex> lock(logLock);
    return std::exchange(stateLog, {});
}

// Lets a source's thread through a number of times (-1: any number), one sample each.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    int permits = -1;
    void Allow(int count)
    {
        std::lock_guard<std::mutex> hold(lock);
        permits = count;
        changed.notify_all();
    }
    void Pass()
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return permits != 0; });
        permits -= permits > 0;
    }
};

class CountingSource;

// Frames 0..count-1, FrameTime each, times counted from the segment's start; it seeks on its pin.
class CountingPin final : public dshowtest::TestStream, public CMediaTimeSeeking {
public:
    CountingPin(CSource* filter, GUID subtype, LONGLONG count)
        : TestStream(&ignored, filter, int(count), subtype), m_Count(count)
    {
        m_pSeeking = this;
    }
    DECLARE_IUNKNOWN
    HRESULT FillBuffer(IMediaSample* sample) override
    {
        gate.Pass();
        std::lock_guard<std::mutex> lock(m_Shared);
        if (m_Next >= m_Count)
            return S_FALSE;
        REFERENCE_TIME start = (m_Next - m_First) * FrameTime, end = start + FrameTime;
        LONGLONG frame = m_Next++, next = frame + 1;
        sample->SetTime(&start, &end);
        sample->SetMediaTime(&frame, &next);
        dshowtest::SetNumber(sample, int(frame));
        sample->SetDiscontinuity(std::exchange(m_bNewSegment, false));
        return S_OK;
    }
    HRESULT OnThreadStartPlay() override
    {
        std::lock_guard<std::mutex> lock(m_Shared);
        m_bNewSegment = true;
        return DeliverNewSegment(m_First * FrameTime, m_Count * FrameTime, 1.0);
    }
    // A seek flushes downstream, stops the thread, moves, ends the flush and starts again.
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG*, DWORD) override
    {
        if (refuseSeeks)
            return E_FAIL;
        if ((currentFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_AbsolutePositioning)
            return E_INVALIDARG;
        const bool streaming = ThreadExists();
        if (streaming) {
            DeliverBeginFlush();
            Stop();
        }
        {
            std::lock_guard<std::mutex> lock(m_Shared);
            m_Next = m_First = std::min(*current / FrameTime, m_Count);
            if (currentFlags & AM_SEEKING_ReturnTime)
                *current = m_First * FrameTime;
        }
        if (streaming) {
            DeliverEndFlush();
            Pause();
        }
        return S_OK;
    }
    HRESULT GetDuration(LONGLONG* duration) override { return *duration = m_Count * FrameTime, S_OK; }
    HRESULT GetStopPosition(LONGLONG* stop) override { return GetDuration(stop); }
    HRESULT GetCapabilities(DWORD* caps) override
    {
        return *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos, S_OK;
    }
    HRESULT CheckCapabilities(DWORD*) override { return E_NOTIMPL; }
    HRESULT GetCurrentPosition(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT GetPositions(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT GetAvailable(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT SetRate(double) override { return E_NOTIMPL; }
    HRESULT GetRate(double*) override { return E_NOTIMPL; }
    HRESULT GetPreroll(LONGLONG*) override { return E_NOTIMPL; }

    Gate gate;
    std::atomic<bool> refuseSeeks{false};

private:
    const LONGLONG m_Count;
    std::mutex m_Shared;  // position, shared with the streaming thread
    LONGLONG m_Next = 0, m_First = 0;
    bool m_bNewSegment = false;
};

class CountingSource final : public Tracked<CSource> {
public:
    CountingSource(GUID subtype, LONGLONG count, char tag = 'S')
        : Tracked(tag, "CountingSource", nullptr, CLSID_TestSource), pin(new CountingPin(this, subtype, count)) {}
    CountingPin* const pin;  // deleted by CSource
};

// The shared renderer, counted and logged; it takes only RGB32. Made with a reference of its own.
using TestRenderer = Tracked<dshowtest::TestRenderer>;
using Rendered = dshowtest::TestRenderer::Sample;

ComRef<TestRenderer> NewRenderer(char tag = 'R') { return ComRef<TestRenderer>::Adopt(new TestRenderer(tag)); }

// Turns the private coded subtype into RGB32 ([0]) or YUY2 ([1]), thinning as the test transform
// does; made through the class table.
std::atomic<int> decodersMade[2];

template <int Kind>
class TestDecoder final : public Tracked<dshowtest::TestTransform> {
public:
    TestDecoder() : Tracked('D', CLSID_TestDecoder[Kind], MEDIASUBTYPE_TestCoded, Output) {}
    static CUnknown* Create(IUnknown*, HRESULT* result)
    {
        return ++decodersMade[Kind], *result = S_OK, new TestDecoder;
    }
    static constexpr GUID Output = Kind ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_RGB32;
};

// A file source stand-in: refuses to load names ending in ".bad".
class TestFileSource final : public Tracked<CBaseFilter>, public IFileSourceFilter {
public:
    TestFileSource() : Tracked('F', "TestFileSource", nullptr, &m_Lock, CLSID_TestFileSource) {}
    static CUnknown* Create(IUnknown*, HRESULT* result) { return *result = S_OK, new TestFileSource; }
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override
    {
        return iid == IID_IFileSourceFilter ? GetInterface(static_cast<IFileSourceFilter*>(this), object)
                                            : CBaseFilter::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT Load(LPCOLESTR name, const AM_MEDIA_TYPE*) override
    {
        return std::wstring(name).ends_with(L".bad") ? VFW_E_INVALID_FILE_FORMAT : S_OK;
    }
    HRESULT GetCurFile(LPOLESTR*, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    int GetPinCount() override { return 0; }
    CBasePin* GetPin(int) override { return nullptr; }

private:
    CCritSec m_Lock;
};

std::wstring NameOf(IBaseFilter* filter)
{
    FILTER_INFO info;
    if (FAILED(filter->QueryFilterInfo(&info)))
        return L"?";
    SafeRelease(info.pGraph);
    return info.achName;
}

FILTER_STATE OwnState(IBaseFilter* filter)
{
    FILTER_STATE own = FILTER_STATE(-1);
    EXPECT_EQ(filter->GetState(dshowtest::Patience, &own), S_OK);
    return own;
}

class FilterGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(graph.out())),
                  S_OK);
        control = QueryRef<IMediaControl>(graph.get(), IID_IMediaControl);
        seeking = QueryRef<IMediaSeeking>(graph.get(), IID_IMediaSeeking);
        events = QueryRef<IMediaEventEx>(graph.get(), IID_IMediaEventEx);
        ASSERT_TRUE(control && seeking && events);
        ComRef<IMediaFilter> filter = QueryRef<IMediaFilter>(graph.get(), IID_IMediaFilter);
        ASSERT_EQ(filter->SetSyncSource(nullptr), S_OK);
    }
    void TearDown() override
    {
        for (ComRef<CountingSource>& source : sources)
            source->pin->gate.Allow(-1);
        ReleaseGraph();
        sources.clear();
        renderers.clear();
        EXPECT_EQ(liveFilters, 0);  // the graph let every filter go
    }
    void ReleaseGraph() { control = {}, seeking = {}, events = {}, graph = {}; }
    // A source → renderer chain, added renderer first; connected directly when the source
    // already gives what the renderer takes.
    void AddChain(GUID subtype, LONGLONG frames, bool connect = true)
    {
        renderers.push_back(NewRenderer(char('R' + renderers.size())));
        sources.emplace_back(new CountingSource(subtype, frames, char('S' + sources.size())));
        ASSERT_TRUE(SUCCEEDED(graph->AddFilter(renderers.back().get(), nullptr)));
        ASSERT_TRUE(SUCCEEDED(graph->AddFilter(sources.back().get(), nullptr)));
        if (connect) {
            ASSERT_EQ(graph->Connect(sources.back()->pin, renderers.back()->Pin(0)), S_OK);
        }
    }
    // Source → registered decoder → renderer, endless.
    void AddDecodedChain()
    {
        AddClass({CLSID_TestDecoder[0], L"Test Decoder", MERIT_NORMAL, {{MEDIATYPE_Video, MEDIASUBTYPE_TestCoded}},
                  TestDecoder<0>::Create});
        AddChain(MEDIASUBTYPE_TestCoded, 1000000);
        RemoveClass(CLSID_TestDecoder[0]);
    }
    FILTER_STATE State(LONG wait, HRESULT expected = S_OK)
    {
        OAFilterState state = -1;
        EXPECT_EQ(control->GetState(wait, &state), expected);
        return FILTER_STATE(state);
    }
    LONG Completion(LONG wait, HRESULT expected)
    {
        LONG code = -1;
        EXPECT_EQ(events->WaitForCompletion(wait, &code), expected);
        return code;
    }

    ComRef<IGraphBuilder> graph;
    ComRef<IMediaControl> control;
    ComRef<IMediaSeeking> seeking;
    ComRef<IMediaEventEx> events;
    std::vector<ComRef<CountingSource>> sources;
    std::vector<ComRef<TestRenderer>> renderers;
};

// Names, enumeration and removal

TEST_F(FilterGraphTest, NamesEnumerationAndRemoval)
{
    const ComRef<TestRenderer> kept[4] = {NewRenderer(), NewRenderer(), NewRenderer(), NewRenderer()};
    IBaseFilter* const f[4] = {kept[0].get(), kept[1].get(), kept[2].get(), kept[3].get()};
    ComRef<IEnumFilters> list;
    ASSERT_EQ(graph->EnumFilters(list.out()), S_OK);
    IBaseFilter* got[4] = {};
    ULONG fetched = 9;
    EXPECT_EQ(list->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(list->Skip(1), E_INVALIDARG);

    EXPECT_EQ(graph->AddFilter(nullptr, L"x"), E_POINTER);
    EXPECT_EQ(graph->AddFilter(f[0], nullptr), S_OK);
    EXPECT_EQ(graph->AddFilter(f[1], nullptr), S_OK);
    EXPECT_EQ(graph->AddFilter(f[2], L"Render"), S_OK);
    EXPECT_EQ(graph->AddFilter(f[3], L"Render"), VFW_S_DUPLICATE_NAME);
    const wchar_t* names[] = {L"0001", L"0002", L"Render", L"Render 0003"};
    for (int i = 0; i < 4; ++i) {
        ComRef<IBaseFilter> found;
        EXPECT_EQ(graph->FindFilterByName(names[i], found.out()), S_OK);
        EXPECT_EQ(std::pair(NameOf(f[i]), found.get()), std::pair(std::wstring(names[i]), f[i]));
    }
    IBaseFilter* missing = f[0];
    EXPECT_EQ(graph->FindFilterByName(L"render", &missing), VFW_E_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);

    // The enumeration went stale; it lists the newest first.
    EXPECT_EQ(list->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(list->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(list->Reset(), S_OK);
    EXPECT_EQ(list->Skip(2), S_OK);
    EXPECT_EQ(list->Next(4, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(std::pair(got[0], got[1]), std::pair(f[1], f[0]));
    got[0]->Release();
    got[1]->Release();
    EXPECT_EQ(list->Skip(1), E_INVALIDARG);

    // Removed, it leaves the graph; added again, it comes first.
    EXPECT_EQ(graph->RemoveFilter(f[0]), S_OK);
    EXPECT_EQ(graph->RemoveFilter(f[0]), E_FAIL);
    FILTER_INFO info;
    ASSERT_EQ(f[0]->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
    graph->AddFilter(f[0], nullptr);
    list->Reset();
    ASSERT_EQ(list->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0], f[0]);
    got[0]->Release();

    // A member added again stays one member, under the name it was last given (its own included).
    EXPECT_EQ(graph->AddFilter(f[2], L"Again"), S_OK);
    EXPECT_EQ(graph->AddFilter(f[2], L"Again"), S_OK);
    EXPECT_EQ(NameOf(f[2]), L"Again");
    ComRef<IBaseFilter> found;
    EXPECT_EQ(graph->FindFilterByName(L"Render", found.out()), VFW_E_NOT_FOUND);
    list->Reset();
    EXPECT_EQ(list->Skip(4), S_OK);
    EXPECT_EQ(list->Skip(1), E_INVALIDARG);
}

// Connections

TEST_F(FilterGraphTest, DirectConnectionsAndRefusals)
{
    AddChain(MEDIASUBTYPE_RGB32, 1, false);
    IPin* out = sources[0]->pin;
    IPin* in = renderers[0]->Pin(0);
    ComRef<TestDecoder<0>> decoder(new TestDecoder<0>);
    ComRef<TestRenderer> outsider = NewRenderer();
    graph->AddFilter(decoder.get(), L"Decoder");
    EXPECT_EQ(graph->ConnectDirect(in, in, nullptr), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(graph->ConnectDirect(out, outsider->Pin(0), nullptr), VFW_E_NOT_IN_GRAPH);
    EXPECT_EQ(graph->ConnectDirect(decoder->Pin(1), decoder->Pin(0), nullptr), VFW_E_CIRCULAR_GRAPH);
    EXPECT_TRUE(FAILED(graph->ConnectDirect(out, decoder->Pin(0), nullptr)));  // RGB32 is not coded

    EXPECT_EQ(graph->ConnectDirect(in, out, nullptr), S_OK);  // either order
    EXPECT_TRUE(IsConnected(out) && IsConnected(in));
    EXPECT_EQ(graph->Disconnect(nullptr), E_POINTER);
    EXPECT_EQ(graph->Disconnect(out), S_OK);  // that pin only
    EXPECT_TRUE(!IsConnected(out) && IsConnected(in));
    EXPECT_EQ(graph->Disconnect(in), S_OK);

    EXPECT_EQ(graph->ConnectDirect(out, in, nullptr), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_EQ(graph->RemoveFilter(renderers[0].get()), VFW_E_NOT_STOPPED);
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(graph->RemoveFilter(renderers[0].get()), S_OK);  // and its peer lets go of it
    EXPECT_FALSE(IsConnected(out) || IsConnected(in));
}

struct IntelligentCase {
    const char* what;
    std::vector<std::pair<int, DWORD>> registered;  // decoder kinds and their merits
    bool decoderInGraph;  // a working decoder waits in the graph as "Mine"
    HRESULT result;
    int made[2];  // decoders of each kind made
};
void PrintTo(const IntelligentCase& c, std::ostream* out) { *out << c.what; }

class FilterGraphConnectTest : public FilterGraphTest, public ::testing::WithParamInterface<IntelligentCase> {};

TEST_P(FilterGraphConnectTest, IntelligentConnectInsertsARegisteredDecoder)
{
    const IntelligentCase& c = GetParam();
    const ClassFactoryFunction factories[2] = {TestDecoder<0>::Create, TestDecoder<1>::Create};
    const wchar_t* names[2] = {L"Test Decoder", L"Wrong Decoder"};
    for (const auto& [kind, merit] : c.registered)
        AddClass({CLSID_TestDecoder[kind], names[kind], merit, {{MEDIATYPE_Video, MEDIASUBTYPE_TestCoded}},
                  factories[kind]});
    decodersMade[0] = decodersMade[1] = 0;
    ComRef<TestDecoder<0>> mine(new TestDecoder<0>);
    if (c.decoderInGraph)
        graph->AddFilter(mine.get(), L"Mine");
    AddChain(MEDIASUBTYPE_TestCoded, 3, false);
    EXPECT_EQ(graph->Connect(renderers[0]->Pin(0), sources[0]->pin), c.result);
    EXPECT_EQ(std::pair(decodersMade[0].load(), decodersMade[1].load()), std::pair(c.made[0], c.made[1]));
    EXPECT_EQ(IsConnected(mine->Pin(0)), c.decoderInGraph);
    ComRef<IBaseFilter> decoder;
    EXPECT_EQ(graph->FindFilterByName(names[0], decoder.out()),
              c.made[0] && c.result == S_OK ? S_OK : VFW_E_NOT_FOUND);
    EXPECT_EQ(graph->FindFilterByName(names[1], decoder.out()), VFW_E_NOT_FOUND);  // removed on failure
    if (c.result == S_OK) {
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_EQ(Completion(INFINITE, S_OK), EC_COMPLETE);
        EXPECT_TRUE(renderers[0]->WaitFor(3));
    }
    for (const auto& [kind, merit] : c.registered)
        RemoveClass(CLSID_TestDecoder[kind]);
}

INSTANTIATE_TEST_SUITE_P(
    FilterGraph, FilterGraphConnectTest,
    ::testing::Values(IntelligentCase{"found", {{0, MERIT_NORMAL}}, false, S_OK, {1, 0}},
                      IntelligentCase{"notUsed", {{0, MERIT_DO_NOT_USE}}, false, VFW_E_CANNOT_CONNECT, {0, 0}},
                      IntelligentCase{"failsFirst", {{0, MERIT_NORMAL}, {1, MERIT_PREFERRED}}, false, S_OK, {1, 1}},
                      IntelligentCase{"meritFirst", {{1, MERIT_UNLIKELY}, {0, MERIT_PREFERRED}}, false, S_OK, {1, 0}},
                      IntelligentCase{"onlyWrong", {{1, MERIT_NORMAL}}, false, VFW_E_CANNOT_CONNECT, {0, 1}},
                      IntelligentCase{"inGraphFirst", {{1, MERIT_PREFERRED}}, true, S_OK, {0, 0}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(FilterGraphTest, AddSourceFilter)
{
    ScratchDir dir;
    const std::string good = dir.write("source.avi", {'x'}), refused = dir.write("source.bad", {'x'});
    const std::wstring file(good.begin(), good.end()), bad(refused.begin(), refused.end());
    const std::optional<ClassEntry> original = FindClass(CLSID_AsyncReader);
    AddClass({CLSID_AsyncReader, L"File Source", MERIT_NORMAL, {}, TestFileSource::Create});
    IBaseFilter* source = nullptr;
    EXPECT_EQ(graph->AddSourceFilter(L"", nullptr, &source), VFW_E_NOT_FOUND);
    EXPECT_EQ(graph->AddSourceFilter((file + L"x").c_str(), nullptr, &source),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(graph->AddSourceFilter(bad.c_str(), nullptr, &source), VFW_E_INVALID_FILE_FORMAT);
    EXPECT_EQ(source, nullptr);
    ASSERT_EQ(graph->AddSourceFilter(file.c_str(), nullptr, &source), S_OK);
    EXPECT_EQ(NameOf(source), file);
    source->Release();
    ASSERT_EQ(graph->AddSourceFilter(file.c_str(), L"Source", &source), S_OK);
    EXPECT_EQ(NameOf(source), L"Source");
    source->Release();
    EXPECT_EQ(graph->FindFilterByName(bad.c_str(), &source), VFW_E_NOT_FOUND);  // refused, not added
    original ? AddClass(*original) : RemoveClass(CLSID_AsyncReader);
}

// State changes

TEST_F(FilterGraphTest, EveryTransitionReachesEveryFilterRenderersFirst)
{
    AddDecodedChain();
    std::vector<ComRef<IBaseFilter>> filters;
    ComRef<IEnumFilters> list;
    graph->EnumFilters(list.out());
    for (IBaseFilter* f; list->Next(1, &f, nullptr) == S_OK;)
        filters.push_back(ComRef<IBaseFilter>::Adopt(f));
    ASSERT_EQ(filters.size(), 3u);  // newest first: decoder, source, renderer
    const std::function<HRESULT()> go[3] = {[&] { return control->Stop(); }, [&] { return control->Pause(); },
                                            [&] { return control->Run(); }};
    // From each state to each other, the filters change downstream first, whatever their order in
    // the graph; a running graph pauses before it stops.
    const char* expected[3][3] = {{"", "Rp Dp Sp ", "Rp Dp Sp Rr Dr Sr "},
                                  {"Rs Ds Ss ", "", "Rr Dr Sr "},
                                  {"Rp Dp Sp Rs Ds Ss ", "Rp Dp Sp ", ""}};
    for (int from = 0; from < 3; ++from)
        for (int to = 0; to < 3; ++to) {
            SCOPED_TRACE(testing::Message() << from << " -> " << to);
            ASSERT_TRUE(SUCCEEDED(go[from]()));
            EXPECT_EQ(State(INFINITE), FILTER_STATE(from));
            TakeLog();
            EXPECT_TRUE(SUCCEEDED(go[to]()));
            EXPECT_EQ(State(INFINITE), FILTER_STATE(to));
            EXPECT_EQ(TakeLog(), expected[from][to]);
            for (const ComRef<IBaseFilter>& f : filters)
                EXPECT_EQ(OwnState(f.get()), FILTER_STATE(to));
        }
    EXPECT_TRUE(renderers[0]->WaitFor(1));
}

TEST_F(FilterGraphTest, RunWaitsForARendererStillCueing)
{
    AddChain(MEDIASUBTYPE_RGB32, 2);
    sources[0]->pin->gate.Allow(0);  // the source has nothing yet
    EXPECT_EQ(control->Pause(), S_FALSE);
    EXPECT_EQ(State(0, VFW_S_STATE_INTERMEDIATE), State_Paused);
    EXPECT_EQ(control->Run(), S_FALSE);
    EXPECT_EQ(control->Run(), S_FALSE);
    EXPECT_EQ(State(0, VFW_S_STATE_INTERMEDIATE), State_Running);
    EXPECT_EQ(Completion(0, E_ABORT), 0);
    // An abort ends the wait, the renderer still cueing.
    ComRef<IMediaEventSink> sink = QueryRef<IMediaEventSink>(graph.get(), IID_IMediaEventSink);
    EXPECT_EQ(sink->Notify(EC_ERRORABORT, E_FAIL, 0), S_OK);
    EXPECT_EQ(Completion(INFINITE, S_OK), EC_ERRORABORT);
    sources[0]->pin->gate.Allow(-1);
    EXPECT_EQ(State(-1), State_Running);
    EXPECT_EQ(OwnState(renderers[0].get()), State_Running);
}

// End of stream

TEST_F(FilterGraphTest, CompletionComesOnceEveryRendererHasEnded)
{
    AddChain(MEDIASUBTYPE_RGB32, 3);
    AddChain(MEDIASUBTYPE_RGB32, 2);
    EXPECT_EQ(Completion(0, VFW_E_WRONG_STATE), 0);
    sources[1]->pin->gate.Allow(1);  // enough to cue, not to end
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(renderers[0]->WaitFor(3));
    EXPECT_EQ(renderers[0]->Rendered(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(Completion(0, E_ABORT), 0);  // one renderer is still going
    sources[1]->pin->gate.Allow(-1);
    EXPECT_EQ(Completion(INFINITE, S_OK), EC_COMPLETE);

    // One EC_COMPLETE is queued, with the handle set until it is taken.
    HANDLE queued;
    ASSERT_EQ(events->GetEventHandle(reinterpret_cast<OAEVENT*>(&queued)), S_OK);
    EXPECT_EQ(WaitForSingleObject(queued, 0), WAIT_OBJECT_0);
    LONG code;
    LONG_PTR p1, p2;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(std::tuple(code, p1, p2), std::tuple(LONG(EC_COMPLETE), LONG_PTR(S_OK), LONG_PTR(0)));
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(WaitForSingleObject(queued, 0), WAIT_TIMEOUT);

    // A new run waits again, and without default handling each renderer's event is queued.
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(Completion(0, VFW_E_WRONG_STATE), 0);
    EXPECT_EQ(events->CancelDefaultHandling(EC_COMPLETE), S_OK);
    for (ComRef<CountingSource>& s : sources) {
        s->pin->gate.Allow(0);
        LONGLONG start = 0;
        s->pin->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
    }
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_EQ(Completion(0, E_ABORT), 0);
    for (ComRef<CountingSource>& s : sources)
        s->pin->gate.Allow(-1);
    EXPECT_EQ(Completion(INFINITE, S_OK), EC_COMPLETE);
    std::set<LONG_PTR> senders;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK)
        senders.insert(code == EC_COMPLETE ? p2 : 0);
    EXPECT_EQ(senders, (std::set<LONG_PTR>{LONG_PTR(static_cast<IBaseFilter*>(renderers[0].get())),
                                           LONG_PTR(static_cast<IBaseFilter*>(renderers[1].get()))}));
}

// Seeking

TEST_F(FilterGraphTest, DurationIsTheLongestOfTheRenderers)
{
    LONGLONG duration = 0;
    EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL);
    AddChain(MEDIASUBTYPE_RGB32, 30);
    AddChain(MEDIASUBTYPE_RGB32, 70, false);  // unconnected: its renderer has no say
    AddChain(MEDIASUBTYPE_RGB32, 50);
    EXPECT_EQ(seeking->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 50 * FrameTime);
}

TEST_F(FilterGraphTest, SeekWhileRunningRestartsTheSegment)
{
    AddChain(MEDIASUBTYPE_RGB32, 100);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(renderers[0]->WaitFor(1));
    LONGLONG position = 60 * FrameTime + 3;
    const HRESULT hr = seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime,
                                             nullptr, AM_SEEKING_NoPositioning);
    EXPECT_TRUE(hr == S_OK || hr == S_FALSE);
    EXPECT_EQ(position, 60 * FrameTime);  // where the source went
    EXPECT_EQ(State(INFINITE), State_Running);
    EXPECT_EQ(Completion(INFINITE, S_OK), EC_COMPLETE);
    LONGLONG current = 0;
    EXPECT_EQ(seeking->GetCurrentPosition(&current), S_OK);
    EXPECT_EQ(current, 100 * FrameTime);  // at the end: the stop position
    const std::vector<Rendered> rendered = renderers[0]->Samples();
    ASSERT_GE(rendered.size(), 40u);
    const std::vector<Rendered> after(rendered.end() - 40, rendered.end());
    EXPECT_TRUE(after[0].discontinuity);
    for (size_t i = 0; i < after.size(); ++i)  // times restart with the segment
        EXPECT_EQ(std::pair(after[i].number, after[i].start), std::pair(int(60 + i), REFERENCE_TIME(i) * FrameTime));

    // A source that will not move fails the seek and the graph runs on.
    sources[0]->pin->refuseSeeks = true;
    position = 0;
    EXPECT_EQ(seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_FAIL);
    EXPECT_EQ(State(INFINITE), State_Running);
}

// Lifetime and threads

TEST_F(FilterGraphTest, ReleasingARunningGraphStopsAndFreesEveryFilter)
{
    AddDecodedChain();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(renderers[0]->WaitFor(2));
    ComRef<TestRenderer> kept = renderers[0];
    // TearDown releases the test's references; every filter must then be gone.
    ReleaseGraph();
    EXPECT_EQ(OwnState(kept.get()), State_Stopped);
    EXPECT_FALSE(IsConnected(kept->Pin(0)));
}

TEST_F(FilterGraphTest, RunSeekAndStopFromTwoThreads)
{
    AddChain(MEDIASUBTYPE_RGB32, 400);
    auto work = [&](int seed) {
        for (int i = 0; i < 40; ++i) {
            LONGLONG position = ((seed * 7 + i * 13) % 400) * FrameTime;
            EXPECT_TRUE(SUCCEEDED(i % 3 ? control->Run() : control->Pause()));
            EXPECT_TRUE(SUCCEEDED(seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0)));
            OAFilterState state;
            control->GetState(0, &state);
            if (i % 4 == seed) {
                EXPECT_EQ(control->Stop(), S_OK);
            }
        }
    };
    std::thread other(work, 1);
    work(2);
    other.join();
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(State(INFINITE), State_Stopped);
}

}  // namespace
