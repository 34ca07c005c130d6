// The push source: the one type it offers and takes, its buffers, and a refused sample ending the
// hand-off of samples between a producer thread and a renderer. Samples in order and the end of the
// stream are checked through the writer (OmbrixWriterTest).
#include <future>

#include "DShowTestFilters.h"
#include "write/DirectShowOutput.h"

namespace {

using namespace dshowtest;

// A renderer that refuses every sample once told to.
class RefusingRenderer : public TestRenderer {
public:
    HRESULT Receive(IMediaSample* sample) override { return m_bRefuse ? E_FAIL : TestRenderer::Receive(sample); }
    std::atomic<bool> m_bRefuse{false};
};

class PushSource : public testing::Test {
protected:
    PushSource()
    {
        EXPECT_EQ(S_OK, result);
        source->AddRef();
        source->JoinFilterGraph(&graph, L"source");
        renderer->JoinFilterGraph(&graph, L"renderer");
        renderer->m_bAcceptAll = true;
    }
    ~PushSource() override { TakeDown({renderer, source}, {source->Stream, &renderer->m_Pin}); }
    CMediaType Offered(int position = 0)
    {
        CMediaType type;
        EXPECT_EQ(position == 0 ? S_OK : VFW_S_NO_MORE_ITEMS, source->Stream->GetMediaType(position, &type));
        return type;
    }
    ALLOCATOR_PROPERTIES Buffers(LONG asked)
    {
        HRESULT hr = S_OK;
        CMemAllocator* allocator = new CMemAllocator("test", nullptr, &hr);
        allocator->AddRef();
        ALLOCATOR_PROPERTIES request{asked, 1, 1, 0}, actual{};
        EXPECT_EQ(S_OK, source->Stream->DecideBufferSize(allocator, &request));
        allocator->GetProperties(&actual);
        allocator->Release();
        return actual;
    }
    // Hands on the next sample offered.
    void Push()
    {
        IMediaSample* sample = source->WaitForPacket();
        ASSERT_NE(nullptr, sample);
        EXPECT_EQ(sample, source->GetPacket());
        source->ReleasePacket();
    }

    HRESULT result = S_OK;
    DirectShowOutput* source = new DirectShowOutput(nullptr, &result);
    RefusingRenderer* renderer = new RefusingRenderer;
    EventGraph graph;
};

TEST_F(PushSource, OffersAndTakesOnlyTheFormatItWasSetUpWith)
{
    CMediaType type;
    EXPECT_EQ(VFW_S_NO_MORE_ITEMS, source->Stream->GetMediaType(0, &type));
    const CMediaType rgb32 = TestType();
    EXPECT_EQ(E_INVALIDARG, source->Stream->CheckMediaType(&rgb32));
    ALLOCATOR_PROPERTIES request{1, 1, 1, 0};
    EXPECT_EQ(E_FAIL, source->Stream->DecideBufferSize(nullptr, &request));

    source->SetupVideoInformation(2, 720, 480, 30000, 1001);
    type = Offered();
    Offered(1);
    ASSERT_EQ(sizeof(VIDEOINFO), type.FormatLength());
    const auto& video = *reinterpret_cast<const VIDEOINFOHEADER*>(type.Format());
    EXPECT_EQ(std::tuple(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, ULONG(691200)),
              std::tuple(type.majortype, type.subtype, type.formattype, type.GetSampleSize()));
    EXPECT_EQ(std::tuple(DWORD(691200), REFERENCE_TIME(333666), DWORD(5529600), WORD(16), DWORD(FCC("YUY2"))),
              std::tuple(video.bmiHeader.biSizeImage, video.AvgTimePerFrame, video.dwBitRate,
                         video.bmiHeader.biBitCount, video.bmiHeader.biCompression));
    EXPECT_EQ(6, Buffers(2).cBuffers);
    EXPECT_EQ(std::tuple(8L, 691200L), std::tuple(Buffers(8).cBuffers, Buffers(8).cbBuffer));

    source->SetupVideoInformation(3, 720, -576, 25, 1);
    const CMediaType rgbType = Offered();
    const auto& rgb = *reinterpret_cast<const VIDEOINFOHEADER*>(rgbType.Format());
    EXPECT_EQ(std::tuple(-576L, DWORD(1244160), REFERENCE_TIME(400000)),
              std::tuple(rgb.bmiHeader.biHeight, rgb.bmiHeader.biSizeImage, rgb.AvgTimePerFrame));
    EXPECT_EQ(MEDIASUBTYPE_RGB24, Offered().subtype);

    source->SetupAudioInformation(48000, 16, 2);
    type = Offered();
    const WAVEFORMATEX& wave = *reinterpret_cast<const WAVEFORMATEX*>(type.Format());
    EXPECT_EQ(std::tuple(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, ULONG(18), ULONG(25632)),
              std::tuple(type.majortype, type.subtype, type.FormatLength(), type.GetSampleSize()));
    EXPECT_EQ(std::tuple(WORD(4), DWORD(192000), WORD(1)),
              std::tuple(wave.nBlockAlign, wave.nAvgBytesPerSec, wave.wFormatTag));
    EXPECT_EQ(std::tuple(10L, 6408L), std::tuple(Buffers(2).cBuffers, Buffers(2).cbBuffer));
    const CMediaType yuy2 = TestType(8, MEDIASUBTYPE_YUY2);
    EXPECT_EQ(E_INVALIDARG, source->Stream->CheckMediaType(&yuy2)) << "audio set up after video still takes video";
    EXPECT_EQ(S_OK, source->Stream->CheckMediaType(&type));

    // Colour space 0 takes any of the four formats, another exactly its own; a video type with
    // another format type is refused.
    const GUID subtypes[] = {MEDIASUBTYPE_UYVY, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32};
    for (unsigned char colorSpace = 0; colorSpace <= 4; colorSpace++) {
        source->SetupVideoInformation(colorSpace, 8, 2, 25, 1);
        for (int s = 0; s < 4; s++) {
            const bool taken = colorSpace == 0 || colorSpace == s + 1;
            const CMediaType type = TestType(8, subtypes[s]);
            EXPECT_EQ(taken ? S_OK : E_INVALIDARG, source->Stream->SetMediaType(&type))
                << int(colorSpace) << " " << s;
        }
    }
    CMediaType other = TestType(8, MEDIASUBTYPE_UYVY);
    other.SetFormatType(&FORMAT_WaveFormatEx);
    EXPECT_EQ(E_INVALIDARG, source->Stream->CheckMediaType(&other));
}

// A sample refused downstream ends the stream there: the producer is not left waiting for an
// offer that never comes (it may be lent the buffers offered before the refusal was known, never
// more than the allocator holds), and the renderer still sees the end.
TEST_F(PushSource, ARefusedSampleEndsTheStreamAndFreesTheProducer)
{
    constexpr int AudioBuffers = 10;
    source->SetupAudioInformation(48000, 16, 2);
    ASSERT_EQ(S_OK, source->Stream->Connect(&renderer->m_Pin, nullptr));
    renderer->Run(0);
    ASSERT_EQ(S_OK, source->Run(0));
    Push();
    ASSERT_TRUE(renderer->WaitFor(1));
    renderer->m_bRefuse = true;
    Push();
    auto lent = std::async(std::launch::async, [&] {
        int count = 0;
        while (count <= AudioBuffers && source->WaitForPacket()) {
            source->ReleasePacket();
            count++;
        }
        return count;
    });
    ASSERT_EQ(std::future_status::ready, lent.wait_for(std::chrono::milliseconds(Patience)));
    EXPECT_LE(lent.get(), AudioBuffers);
    EXPECT_EQ(nullptr, source->WaitForPacket());
    EXPECT_TRUE(graph.m_Complete.Wait(Patience));
    source->SignalEndOfStream();
    EXPECT_EQ(1u, renderer->Samples().size());
}

}  // namespace
