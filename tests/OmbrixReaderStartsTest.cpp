// The reader's use count, watched through the graph it made; loads while
// stopped; a graph that cannot be put together again; a source that takes no position; readers
// destroyed in use.
#include "DShowTestFilters.h"
#include "InChild.h"
#include "OmbrixReaderSupport.h"
#include "graphread/WindowsMediaAVFile.h"
#include "platform/com/ClassTable.h"
#include "platform/com/ComRef.h"
#include "platform/dshow/FilterGraph.h"

namespace {

using testing::Return;

// While it lives, filter graphs are made through it, and the last one made can be watched.
class GraphProbe {
public:
    GraphProbe()
    {
        original = *FindClass(CLSID_FilterGraph);
        AddClass({original.clsid, original.name, original.merit, original.inputTypes, Make});
    }
    ~GraphProbe() { AddClass(original); }
    FilterGraph* Graph() const { return static_cast<FilterGraph*>(made); }
    OAFilterState State() const
    {
        OAFilterState state = -1;
        Graph()->GetState(0, &state);
        return state;
    }
    // Whether any pin of the graph is connected.
    bool Connected() const
    {
        ComRef<IEnumFilters> filters;
        Graph()->EnumFilters(filters.out());
        bool connected = false;
        for (IBaseFilter* filter; filters->Next(1, &filter, nullptr) == S_OK; filter->Release()) {
            ComRef<IEnumPins> pins;
            filter->EnumPins(pins.out());
            for (IPin* pin; pins->Next(1, &pin, nullptr) == S_OK; pin->Release())
                connected |= pin->ConnectedTo(ComRef<IPin>().out()) == S_OK;  // the peer released at once
        }
        return connected;
    }

private:
    static CUnknown* Make(IUnknown* outer, HRESULT* result) { return made = original.create(outer, result); }
    static inline ClassEntry original;
    static inline CUnknown* made = nullptr;
};

// Counts stop the graph (the ASF Reader's stays connected while stopped, others are taken apart), a
// load starts it for itself, and a start puts it together again: the same frame and samples.
TEST(OmbrixReaderStarts, CountsStopTheGraphAndStartItAgain)
{
    for (auto [name, keptConnected] : {std::pair{"GraphWmv2Wma2", true}, {"GraphH264Aac", false}}) {
        SCOPED_TRACE(name);
        GraphProbe probe;
        const auto reader = openReader(mediaFile(name).path());
        ASSERT_FALSE(reader->Error());
        EXPECT_EQ(State_Running, probe.State());
        const Bytes frame = copyFrame(*reader, 7, 25, 1);
        ASSERT_FALSE(frame.empty());
        std::vector<int16_t> pcm(2000), again(2000);
        ASSERT_TRUE(reader->LoadAudioSamples(pcm.data(), 1000, 1000, false));
        reader->ReleaseVideoFrame(nullptr);
        reader->AddStart();
        reader->AddStart();
        reader->ReleaseStart();
        reader->ReleaseStart();
        EXPECT_EQ(State_Running, probe.State());
        // The constructor's count, the last one.
        reader->ReleaseStart();
        EXPECT_EQ(State_Stopped, probe.State());
        EXPECT_EQ(keptConnected, probe.Connected());
        // A load starts the graph for itself, and a frame out keeps it running.
        unsigned char* bits = reader->LoadVideoFrame(7, 25, 1, false);
        ASSERT_TRUE(bits);
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), bits));
        EXPECT_EQ(State_Running, probe.State());
        reader->ReleaseVideoFrame(bits);
        EXPECT_EQ(State_Stopped, probe.State());
        reader->AddStart();
        EXPECT_TRUE(probe.Connected());
        EXPECT_TRUE(reader->LoadAudioSamples(again.data(), 1000, 1000, false));
        // AAC's decoder keeps state that a restart does not reset (see the file table's slack).
        const auto near = [slack = mediaFile(name).audioSlack](int a, int b) { return std::abs(a - b) <= slack; };
        EXPECT_TRUE(std::equal(again.begin(), again.end(), pcm.begin(), near));
        EXPECT_EQ(frame, copyFrame(*reader, 7, 25, 1));
    }
}

// Stopped, the graph reader answers at once: no frame, and silence.
TEST(OmbrixReaderStopped, LoadsWhileStoppedAndTimelinesWithoutFrames)
{
    expectInChild([] {
        WindowsMediaAVFile reader(mediaFile("GraphMpeg4Pcm").path().c_str(), false, false, nullptr, 0, 0);
        reader.ReleaseStart();
        Bytes pcm(4000, 0xAA);
        bool ok = !reader.LoadVideoFrame(0, 25, 1) && reader.LoadAudioSamples(pcm.data(), 0, 1000) &&
                  pcm == Bytes(4000, 0);
        reader.AddStart();
        BYTE* frame = reader.LoadVideoFrame(0, 25, 1);
        reader.ReleaseVideoFrame(frame);
        return ok && frame && !reader.LoadVideoFrame(0, 0, 1) && !reader.LoadVideoFrame(0, -25, 1);
    }, "loads while stopped");
}

// A stream whose last frame starts at its stated length (an AVI stating one frame fewer than it
// has): a seek to it lands after the frame's window every time; the reader gives the frame it
// lands on instead of seeking for ever.
TEST(OmbrixReaderLimits, ASeekThatLandsAfterTheWindowAgainEnds)
{
    ScratchDir dir;
    const std::string path = dir.path("short.avi");
    ASSERT_EQ(0, run("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -t 2 -c:v ffv1 " + quote(path), nullptr));
    Bytes avi = readFile(path);
    const size_t length = std::search(avi.begin(), avi.end(), "strh", "strh" + 4) - avi.begin() + 8 + 32;
    ASSERT_EQ(50, avi[length]);
    avi[length] = 49;
    dir.write("short.avi", avi);
    expectInChild([&] {
        WindowsMediaAVFile reader(path.c_str(), false, false, nullptr, 0, 0);
        BYTE* frames[2] = {reader.LoadVideoFrame(20, 25, 1), nullptr};
        reader.ReleaseVideoFrame(frames[0]);
        frames[1] = reader.LoadVideoFrame(49, 25, 1);
        reader.ReleaseVideoFrame(frames[1]);
        return frames[0] && frames[1];
    }, "the last frame of a stream stated one frame short");
}

// The audio decoder taken out of the stopped graph and out of the class table: the reader stays
// stopped and taken apart, and tries again at the next start.
TEST(OmbrixReaderReconnect, FailedReconnectionLeavesTheReaderStopped)
{
    expectInChild([] {
        GraphProbe probe;
        const auto reader = openReader(mediaFile("GraphH264Aac").path());
        const Bytes frame = copyFrame(*reader, 5, 25, 1);
        reader->ReleaseStart();
        ComRef<IBaseFilter> decoder;
        probe.Graph()->FindFilterByName(L"Audio Decoder", decoder.out());
        probe.Graph()->RemoveFilter(decoder.get());
        const ClassEntry audioDecoder = *FindClass(CLSID_AudioDecoder);
        RemoveClass(CLSID_AudioDecoder);
        bool thrown = false;
        try {
            reader->AddStart();
        } catch (const char* text) {
            thrown = std::string(text) == "Cannot re-connect audio pin.";
        }
        const bool stopped = probe.State() == State_Stopped && !probe.Connected();
        AddClass(audioDecoder);
        reader->AddStart();
        return thrown && stopped && !frame.empty() && copyFrame(*reader, 5, 25, 1) == frame;
    }, "reconnection");
}

// Destroyed with a frame out, with the stream held, or both: it leaks nothing and returns.
TEST(OmbrixReaderDestroyed, InUseLeaksNothingAndReturns)
{
    for (auto [what, frameOut, held] :
         {std::tuple{"frame out", true, false}, {"stream held", false, true}, {"both", true, true}})
        expectInChild([&, frameOut = frameOut, held = held] {
            auto reader = openReader(mediaFile("GraphH264Aac").path());
            if (frameOut && !reader->LoadVideoFrame(3, 25, 1, false))
                return false;
            if (held)
                reader->AddStart();
            reader.reset();
            return true;
        }, what);
}

// A file source of Frames pictures of 8x2 RGB32, 100 units each (a whole file shorter than 10 ms),
// that takes no position.
constexpr int Frames = 100;

struct RefusingSeeking {
    testing::NiceMock<dshowtest::MockSeeking> seeking;
};

class UnseekableSource final : RefusingSeeking, public CSource, public IFileSourceFilter {
public:
    static CUnknown* Create(IUnknown*, HRESULT* result) { return *result = S_OK, new UnseekableSource; }
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override
    {
        return iid == IID_IFileSourceFilter ? GetInterface(static_cast<IFileSourceFilter*>(this), object)
                                            : CSource::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT Load(LPCOLESTR, const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT GetCurFile(LPOLESTR*, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }

private:
    UnseekableSource() : CSource("UnseekableSource", nullptr, CLSID_AsyncReader)
    {
        ON_CALL(seeking, SetPositions).WillByDefault(Return(E_FAIL));
        ON_CALL(seeking, GetCapabilities).WillByDefault(Return(E_NOTIMPL));
        ON_CALL(seeking, GetDuration).WillByDefault(testing::DoAll(testing::SetArgPointee<0>(Frames * 100), Return(S_OK)));
        HRESULT ignored = S_OK;
        (new dshowtest::TestStream(&ignored, this, Frames))->m_pSeeking = &seeking;
    }
};

TEST(OmbrixReaderLimits, UnseekableShortSource)
{
    ScratchDir dir;
    const std::string path = dir.write("short.raw", Bytes(1234));
    expectInChild([&] {
        AddClass({CLSID_AsyncReader, L"File Source", MERIT_DO_NOT_USE, {}, UnseekableSource::Create});
        const auto reader = openReader(path, {4});
        const Ombrix_FileInfo& info = reader->GetInfo();
        const bool described = !reader->Error() && info.HasVideo && !info.HasAudio && info.VideoDuration == Frames * 100 &&
                               info.DataRate == 1234LL * 10000000 / (Frames * 100);
        // Frame 0 is held; half-way needs a seek, which fails.
        return described && !copyFrame(*reader, 0, 100000, 1).empty() && copyFrame(*reader, Frames / 2, 100000, 1).empty();
    }, "unseekable source");
}

}  // namespace
