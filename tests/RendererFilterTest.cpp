// The capture renderer: what it accepts, how it rewrites times and counts audio, and how it hands
// samples to a reader thread. Reading through real pins and a streaming thread is GraphReadingTest's.
#include <gtest/gtest.h>

#include <future>

#include "DShowTestFilters.h"
#include "graphread/Ombrix_RendererFilter.h"

namespace {

using namespace dshowtest;

constexpr auto Patient = std::chrono::milliseconds(Patience);
constexpr auto Glance = std::chrono::milliseconds(200);  // how long a thread that must stay blocked is watched

CMediaType AudioType(WORD channels, WORD bits, DWORD rate, ULONG formatBytes = sizeof(WAVEFORMATEX))
{
    CMediaType type(&MEDIATYPE_Audio);
    type.SetSubtype(&MEDIASUBTYPE_PCM);
    type.SetFormatType(&FORMAT_WaveFormatEx);
    WAVEFORMATEX format{WAVE_FORMAT_PCM, channels, rate, rate * channels * bits / 8, WORD(channels * bits / 8),
                        bits, 0};
    BYTE bytes[sizeof format + 4] = {};
    std::memcpy(bytes, &format, sizeof format);
    type.SetFormat(bytes, formatBytes);
    return type;
}

class RendererFilter : public ::testing::Test {
protected:
    RendererFilter()
    {
        filter->AddRef();
        filter->m_bAllowTypeChange = false;
        filter->m_RequiredSampleRate = 0;
    }
    ~RendererFilter() override
    {
        allocator->Decommit();
        EXPECT_EQ(0u, allocator->Release());
        EXPECT_EQ(0u, filter->Release());
    }

    // A sample of `bytes` bytes delivered with [start, end), or without times when start < 0.
    IMediaSample* Sample(LONG bytes, REFERENCE_TIME start = -1, REFERENCE_TIME end = 0)
    {
        IMediaSample* sample = nullptr;
        EXPECT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));
        sample->SetActualDataLength(bytes);
        if (start >= 0)
            sample->SetTime(&start, &end);
        return sample;
    }
    // Renders one sample on the calling thread (locking off) and gives its rewritten times.
    using Span = std::pair<LONGLONG, LONGLONG>;
    struct Times {
        LONGLONG start, end, first, last;  // the last two: sample frames
        Span span() const { return {start, end}; }
        Span samples() const { return {first, last}; }
    };
    Times RenderThrough(IMediaSample* sample)
    {
        filter->DoRenderSample(sample);
        Times t;
        filter->Ombrix_RendererFilter_GetAudioSample(t.start, t.end, t.first, t.last);
        sample->Release();
        return t;
    }
    // Renders on a streaming thread of its own, which stays there while the sample is held.
    std::future<void> Deliver(IMediaSample* sample)
    {
        return std::async(std::launch::async, [this, sample] {
            filter->DoRenderSample(sample);
            sample->Release();
        });
    }

    HRESULT result = S_OK;
    Ombrix_RendererFilter* filter = new Ombrix_RendererFilter(nullptr, &result);
    CMemAllocator* allocator = CommittedAllocator(4, 4096);
};

TEST_F(RendererFilter, AcceptsOnlyThePreferredTypeWithAUsableFormat)
{
    const CMediaType video = TestType();
    EXPECT_EQ(E_INVALIDARG, filter->CheckMediaType(&video)) << "no preferred type yet";
    EXPECT_EQ(E_INVALIDARG, filter->SetMediaType(&video));

    CMediaType otherFormat = video;
    otherFormat.SetFormatType(&FORMAT_None);
    CMediaType otherSubtype = video;
    otherSubtype.SetSubtype(&MEDIASUBTYPE_RGB24);
    CMediaType shortFormat = video;
    shortFormat.SetFormat(video.pbFormat, sizeof(VIDEOINFOHEADER) - 1);
    filter->Ombrix_RendererFilter_SetPreferredMediaType(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo);
    for (const CMediaType* wrong : {&otherFormat, &otherSubtype, &shortFormat})
        EXPECT_EQ(E_INVALIDARG, filter->CheckMediaType(wrong)) << wrong->cbFormat;
    EXPECT_EQ(E_INVALIDARG, filter->SetMediaType(&shortFormat));
    ASSERT_EQ(S_OK, filter->CheckMediaType(&video));
    ASSERT_EQ(S_OK, filter->SetMediaType(&video));
    ASSERT_NE(nullptr, filter->Ombrix_RendererFilter_GetVideoInformation());
    EXPECT_EQ(8, filter->Ombrix_RendererFilter_GetVideoInformation()->bmiHeader.biWidth);
    EXPECT_EQ(nullptr, filter->Ombrix_RendererFilter_GetAudioInformation());

    // Once a format is taken, nothing more outside an allowed window.
    EXPECT_EQ(E_INVALIDARG, filter->CheckMediaType(&video));
    filter->m_bAllowTypeChange = true;
    EXPECT_EQ(S_OK, filter->CheckMediaType(&video));
}

// The rate and frame size a PCM type must have; the sample frames each sample holds, counted
// from the audio origin.
TEST_F(RendererFilter, AudioRatesFrameSizesAndSampleRanges)
{
    filter->Ombrix_RendererFilter_SetPreferredMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
    struct Case {
        CMediaType type;
        DWORD required;
        HRESULT expected;
    } cases[] = {
        {AudioType(2, 16, 44100), 0, S_OK},
        {AudioType(2, 16, 44100), 48000, E_INVALIDARG},
        {AudioType(2, 16, 48000), 48000, S_OK},
        {AudioType(1, 4, 8000), 0, E_INVALIDARG},  // a sample frame under a byte cannot be counted
        {AudioType(2, 16, 44100, sizeof(WAVEFORMATEX) - 2), 0, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        filter->m_RequiredSampleRate = c.required;
        EXPECT_EQ(c.expected, filter->CheckMediaType(&c.type))
            << c.type.cbFormat << " bytes, required rate " << c.required;
    }
    // Only the 18 bytes of the structure are kept, whatever follows.
    const CMediaType longer = AudioType(2, 16, 44100, sizeof(WAVEFORMATEX) + 4);
    ASSERT_EQ(S_OK, filter->SetMediaType(&longer));
    const DWORD rate = filter->Ombrix_RendererFilter_GetAudioInformation()->nSamplesPerSec;  // packed: by value
    EXPECT_EQ(44100u, rate);

    filter->SetBufferLocking(false);
    filter->Ombrix_RendererFilter_SetOrigin(0, 1000);
    EXPECT_EQ(Span(1000, 2024), RenderThrough(Sample(4096, 0, 213333)).samples());
    EXPECT_EQ(Span(2024, 3048), RenderThrough(Sample(4096, 213333, 426666)).samples());
    EXPECT_EQ(3049, RenderThrough(Sample(6)).last);  // a partial frame counts nothing
}

TEST_F(RendererFilter, PinProposesOneTypeWithoutFormatAndAsksForThreeBytes)
{
    Ombrix_InputPin pin(filter, &result, L"pin");
    CMediaType proposed;
    EXPECT_NE(S_OK, pin.GetMediaType(0, &proposed)) << "nothing to propose before a preferred type";
    pin.Ombrix_InputPin_SetPreferredMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
    ASSERT_EQ(S_OK, pin.GetMediaType(0, &proposed));
    EXPECT_EQ(std::tuple(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, GUID_NULL, 0ul),
              std::tuple(proposed.majortype, proposed.subtype, proposed.formattype, proposed.cbFormat));
    EXPECT_EQ(VFW_S_NO_MORE_ITEMS, pin.GetMediaType(1, &proposed));

    ALLOCATOR_PROPERTIES properties{7, 100, 16, 2};
    EXPECT_EQ(S_OK, pin.GetAllocatorRequirements(&properties));
    EXPECT_EQ(std::tuple(7L, 3L, 16L), std::tuple(properties.cBuffers, properties.cbBuffer, properties.cbAlign));
    EXPECT_EQ(S_OK, pin.ReceiveCanBlock());
}

TEST_F(RendererFilter, TimesCountFromTheOriginByDeliveryDistance)
{
    filter->SetBufferLocking(false);
    // On a new filter, three samples 400000 apart after an origin: contiguous from it, whatever
    // the first one's delivered start.
    filter->Ombrix_RendererFilter_SetOrigin(10000000, 0);
    for (LONGLONG k = 0; k < 3; ++k)
        EXPECT_EQ(Span(10000000 + 400000 * k, 10400000 + 400000 * k),
                  RenderThrough(Sample(16, 777 + 400000 * k, 777 + 400000 * k + 400000)).span()) << k;
    EXPECT_EQ(400000, filter->GetLastDeliveryLength());
    // The length is kept across an origin; a sample without times starts at the new one.
    filter->Ombrix_RendererFilter_SetOrigin(5000, 0);
    EXPECT_EQ(Span(5000, 405000), RenderThrough(Sample(16)).span());
}

TEST_F(RendererFilter, HandsEachSampleToTheReaderUntilReleasedOrTheEnd)
{
    IMediaSample* sample = Sample(16, 0, 100);
    std::future<void> streaming = Deliver(sample);
    ASSERT_TRUE(filter->WaitForSampleOrEOS());
    LONGLONG start, end;
    EXPECT_EQ(sample, filter->Ombrix_RendererFilter_GetVideoSample(start, end));
    EXPECT_EQ(std::future_status::timeout, streaming.wait_for(Glance)) << "the streaming thread must stay parked";
    filter->ReleaseSample();
    EXPECT_EQ(std::future_status::ready, streaming.wait_for(Patient));
    EXPECT_EQ(nullptr, filter->Ombrix_RendererFilter_GetVideoSample(start, end));
    EXPECT_EQ(0, start);

    // A release with nothing held must not let the next sample pass unheld.
    filter->ReleaseSample();
    streaming = Deliver(Sample(16, 100, 200));
    ASSERT_TRUE(filter->WaitForSampleOrEOS());
    EXPECT_EQ(std::future_status::timeout, streaming.wait_for(Glance));
    EXPECT_NE(nullptr, filter->Ombrix_RendererFilter_GetVideoSample(start, end));
    filter->ReleaseSample();
    streaming.wait();

    // The end of stream wins until reset or the next sample.
    streaming = Deliver(Sample(16, 200, 300));
    ASSERT_TRUE(filter->WaitForSampleOrEOS());
    filter->EndOfStream();
    EXPECT_FALSE(filter->WaitForSampleOrEOS()) << "end of stream reported even with a sample held";
    filter->ResetEndOfStreamNotification();
    EXPECT_TRUE(filter->WaitForSampleOrEOS());
    filter->EndOfStream();
    filter->ReleaseSample();
    streaming.wait();
    // A flush takes an end that came before it away.
    filter->EndOfStream();
    filter->BeginFlush();
    filter->EndFlush();
    std::future<bool> reader = std::async(std::launch::async, [this] { return filter->WaitForSampleOrEOS(); });
    EXPECT_EQ(std::future_status::timeout, reader.wait_for(Glance)) << "an end flushed away was reported";
    filter->EndOfStream();
    EXPECT_FALSE(reader.get());
    // A sample after the end cancels it, once the streaming thread has it.
    streaming = Deliver(Sample(16, 100, 200));
    EXPECT_TRUE(Eventually([&] { return filter->WaitForSampleOrEOS(); }));
    filter->ReleaseSample();
    streaming.wait();
}

// Without locking a sample passes and is not offered; a first one without times lasts one NTSC frame.
TEST_F(RendererFilter, WithoutLockingSamplesPassAndAreNotOffered)
{
    filter->SetBufferLocking(false);
    filter->Ombrix_RendererFilter_SetOrigin(5000, 0);
    EXPECT_EQ(Span(5000, 5000 + 333667), RenderThrough(Sample(16)).span());
    std::future<bool> reader = std::async(std::launch::async, [this] { return filter->WaitForSampleOrEOS(); });
    EXPECT_EQ(std::future_status::timeout, reader.wait_for(Glance)) << "a sample that passed was offered";
    filter->EndOfStream();
    EXPECT_FALSE(reader.get());
}

// A stream about to be moved: the held sample goes, later ones pass unheld and uncounted until
// the flush ends, and the samples after it count from the origin again.
TEST_F(RendererFilter, DiscardsUntilTheFlushThenCountsFromTheOrigin)
{
    filter->Ombrix_RendererFilter_SetOrigin(1000, 0);
    std::future<void> streaming = Deliver(Sample(16, 0, 100));
    ASSERT_TRUE(filter->WaitForSampleOrEOS());
    filter->DiscardUntilFlush();
    EXPECT_EQ(std::future_status::ready, streaming.wait_for(Patient));
    EXPECT_EQ(std::future_status::ready, Deliver(Sample(16, 100, 200)).wait_for(Patient))
        << "a sample before the flush was held";
    filter->BeginFlush();
    filter->EndFlush();
    streaming = Deliver(Sample(16, 0, 100));
    ASSERT_TRUE(filter->WaitForSampleOrEOS());
    LONGLONG start, end;
    EXPECT_NE(nullptr, filter->Ombrix_RendererFilter_GetVideoSample(start, end));
    EXPECT_EQ(Span(1000, 1100), Span(start, end)) << "counted on from the discarded samples";
    filter->ReleaseSample();
    streaming.wait();
}

}  // namespace
