// Media types, samples, allocators and pin connection of the DirectShow base classes.
#include <gtest/gtest.h>

#include <thread>

#include "DShowTestFilters.h"

using namespace dshowtest;

// Copies are deep and compare by their format bytes; a partial template matches what it names.
TEST(DShowMediaType, CopiesCompareAndMatchPartialTemplates)
{
    const CMediaType full = TestType();
    CMediaType b(full);
    EXPECT_TRUE(full == b);
    b.Format()[0] ^= 1;
    EXPECT_FALSE(full == b);
    AM_MEDIA_TYPE* created = CreateMediaType(&full);
    EXPECT_TRUE(*static_cast<CMediaType*>(created) == full);
    DeleteMediaType(created);

    CMediaType audio(&MEDIATYPE_Audio);
    CMediaType videoOnly(&MEDIATYPE_Video);
    CMediaType otherFormat = TestType(16);
    EXPECT_TRUE(otherFormat != full);
    CMediaType subtypeOnly;
    subtypeOnly.InitMediaType();
    subtypeOnly.SetSubtype(&MEDIASUBTYPE_YUY2);
    struct Case {
        const CMediaType* partial;
        BOOL matches;
        BOOL partiallySpecified;
    } cases[] = {
        {&full, TRUE, FALSE}, {&audio, FALSE, TRUE}, {&videoOnly, TRUE, TRUE},
        {&otherFormat, FALSE, FALSE}, {&subtypeOnly, FALSE, TRUE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.matches, full.MatchesPartial(c.partial));
        EXPECT_EQ(c.partiallySpecified, c.partial->IsPartiallySpecified());
    }
}

TEST(DShowMediaSample, TimesFlagsAndLengths)
{
    CMemAllocator* allocator = CommittedAllocator(1, 32);
    IMediaSample* sample;
    ASSERT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));

    REFERENCE_TIME start = -1, end = -1;
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, sample->GetTime(&start, &end));
    EXPECT_EQ(-1, start);
    REFERENCE_TIME s = 50, e = 80;
    sample->SetTime(&s, nullptr);
    EXPECT_EQ(VFW_S_NO_STOP_TIME, sample->GetTime(&start, &end));
    EXPECT_EQ(51, end);
    sample->SetTime(&s, &e);
    EXPECT_EQ(S_OK, sample->GetTime(&start, &end));
    EXPECT_EQ(80, end);
    sample->SetTime(nullptr, nullptr);
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, sample->GetTime(&start, &end));

    EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, sample->GetMediaTime(&start, &end));
    EXPECT_EQ(E_POINTER, sample->SetMediaTime(&s, nullptr));
    sample->SetMediaTime(&s, &e);
    EXPECT_EQ(S_OK, sample->GetMediaTime(&start, &end));
    EXPECT_EQ(80, end);

    for (LONG wrong : {33, -1})
        EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, sample->SetActualDataLength(wrong)) << wrong;
    EXPECT_EQ(S_OK, sample->SetActualDataLength(7));
    AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(S_FALSE, sample->GetMediaType(&type));
    EXPECT_EQ(nullptr, type);
    CMediaType changed = TestType();
    sample->SetMediaType(&changed);
    sample->SetSyncPoint(TRUE);
    sample->SetPreroll(TRUE);
    sample->SetDiscontinuity(TRUE);
    EXPECT_EQ(S_OK, sample->IsPreroll());
    sample->Release();

    // Back from the allocator: properties forgotten, the data length kept.
    ASSERT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ((std::vector<HRESULT>{S_FALSE, S_FALSE, S_FALSE, VFW_E_SAMPLE_TIME_NOT_SET, VFW_E_MEDIA_TIME_NOT_SET,
                                    S_FALSE}),
              (std::vector<HRESULT>{sample->IsSyncPoint(), sample->IsPreroll(), sample->IsDiscontinuity(),
                                    sample->GetTime(&start, &end), sample->GetMediaTime(&start, &end),
                                    sample->GetMediaType(&type)}));
    EXPECT_EQ(7, sample->GetActualDataLength());
    sample->Release();
    allocator->Decommit();
    EXPECT_EQ(0u, allocator->Release());
}

TEST(DShowAllocator, SetPropertiesChecksAndRounds)
{
    IMemAllocator* allocator = nullptr;  // the class table makes the same allocator
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                     reinterpret_cast<void**>(&allocator)));
    EXPECT_EQ(VFW_E_SIZENOTSET, allocator->Commit());
    struct Case {
        ALLOCATOR_PROPERTIES request;
        HRESULT result;
        LONG grantedSize;
    } cases[] = {
        {{2, 100, 0, 0}, VFW_E_BADALIGN, 0},      {{2, 100, 3, 0}, VFW_E_BADALIGN, 0},
        {{2, 100, 131072, 0}, VFW_E_BADALIGN, 0}, {{2, 100, 1, 0}, S_OK, 100},
        {{2, 100, 64, 0}, S_OK, 128},             {{2, 100, 64, 8}, S_OK, 120},
        {{2, 128, 65536, 0}, S_OK, 65536},
    };
    for (const Case& c : cases) {
        ALLOCATOR_PROPERTIES request = c.request, actual{-1, -1, -1, -1};
        EXPECT_EQ(c.result, allocator->SetProperties(&request, &actual)) << c.request.cbAlign;
        EXPECT_EQ(c.grantedSize, actual.cbBuffer) << c.request.cbAlign;
    }
    EXPECT_EQ(0u, allocator->Release());
}

TEST(DShowAllocator, CommitDecommitAndOutstandingSamples)
{
    CMemAllocator* allocator = CommittedAllocator(2, 16);
    const auto references = [&] { return allocator->AddRef(), allocator->Release(); };
    EXPECT_EQ(2u, references());  // the committed allocator holds itself
    ALLOCATOR_PROPERTIES request{1, 8, 1, 0}, actual;
    EXPECT_EQ(VFW_E_ALREADY_COMMITTED, allocator->SetProperties(&request, &actual));

    IMediaSample *first, *second, *third;
    ASSERT_EQ(S_OK, allocator->GetBuffer(&first, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, allocator->GetBuffer(&second, nullptr, nullptr, 0));
    EXPECT_EQ(VFW_E_TIMEOUT, allocator->GetBuffer(&third, nullptr, nullptr, AM_GBF_NOWAIT));
    // Last in, first out.
    second->Release();
    ASSERT_EQ(S_OK, allocator->GetBuffer(&third, nullptr, nullptr, 0));
    EXPECT_EQ(second, third);

    // Decommit may come before or after a GetBuffer blocks waiting for a buffer: either way it
    // must come back.
    HRESULT waited = S_OK;
    std::thread waiter([&] {
        IMediaSample* sample = nullptr;
        waited = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
    });
    allocator->Decommit();
    waiter.join();
    EXPECT_EQ(VFW_E_NOT_COMMITTED, waited);
    EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator->GetBuffer(&second, nullptr, nullptr, 0));
    EXPECT_EQ(VFW_E_BUFFERS_OUTSTANDING, allocator->SetProperties(&request, &actual));
    // The self reference stays until the last sample is back.
    EXPECT_EQ(2u, references());
    first->Release();
    third->Release();
    EXPECT_EQ(1u, references());
    EXPECT_EQ(S_OK, allocator->SetProperties(&request, &actual));
    EXPECT_EQ(0u, allocator->Release());
}

// A source and a renderer, connected by hand, released with the test.
class DShowConnection : public ::testing::Test {
protected:
    void TearDown() override { TakeDown({source, renderer}, {Output(), Input()}); }
    IPin* Output() { return source->m_pStream; }
    IPin* Input() { return &renderer->m_Pin; }

    TestSource* source = new TestSource(3);
    TestRenderer* renderer = new TestRenderer;
};

TEST_F(DShowConnection, RefusalsThenAConnectionAndItsAllocator)
{
    const CMediaType other = TestType(16);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, Output()->Connect(Input(), &other));
    renderer->m_bAcceptAll = true;
    // The source takes only its own type: with the renderer proposing none, nothing fits.
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, Output()->Connect(Input(), &other));
    CMediaType audio(&MEDIATYPE_Audio);
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, Output()->Connect(Input(), &audio));
    EXPECT_EQ(E_UNEXPECTED, Input()->Connect(Output(), nullptr));

    TestSource* second = new TestSource(1);
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, Output()->Connect(second->m_pStream, nullptr));
    EXPECT_EQ(0u, second->Release());

    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, Input()->ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer);
    EXPECT_EQ(S_FALSE, Input()->Disconnect());
    EXPECT_EQ(S_FALSE, Output()->QueryAccept(&other));
    const CMediaType own = TestType();
    EXPECT_EQ(S_OK, Output()->QueryAccept(&own));

    ASSERT_EQ(S_OK, Output()->Connect(Input(), nullptr));
    ASSERT_EQ(S_OK, Input()->ConnectedTo(&peer));
    EXPECT_EQ(Output(), peer);
    peer->Release();
    CMediaType type;
    ASSERT_EQ(S_OK, Input()->ConnectionMediaType(&type));
    EXPECT_TRUE(type == TestType());

    // The input pin's own allocator, with the size the source asked for and the alignment the
    // input pin asked for.
    IMemAllocator* allocator = nullptr;
    ASSERT_EQ(S_OK, renderer->m_Pin.GetAllocator(&allocator));
    EXPECT_EQ(source->m_pStream->Allocator(), allocator);
    ALLOCATOR_PROPERTIES properties;
    allocator->GetProperties(&properties);
    EXPECT_EQ(std::tuple(2L, 64L, 16L), std::tuple(properties.cBuffers, properties.cbBuffer, properties.cbAlign));
    allocator->Release();

    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, Output()->Connect(Input(), nullptr));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, Input()->ReceiveConnection(Output(), &type));

    renderer->Pause();
    EXPECT_EQ(VFW_E_NOT_STOPPED, Input()->Disconnect());
    renderer->Stop();
    // One-sided: the output pin stays connected.
    EXPECT_EQ(S_OK, Input()->Disconnect());
    EXPECT_EQ(S_OK, Output()->ConnectedTo(&peer));
    peer->Release();
}

TEST_F(DShowConnection, PinIdsAndEnumerators)
{
    IPin* found = nullptr;
    ASSERT_EQ(S_OK, source->FindPin(L"1", &found));
    EXPECT_EQ(Output(), found);
    found->Release();
    EXPECT_EQ(VFW_E_NOT_FOUND, source->FindPin(L"2", &found));
    ASSERT_EQ(S_OK, renderer->FindPin(L"In", &found));
    EXPECT_EQ(Input(), found);
    found->Release();

    IEnumPins* pins;
    source->EnumPins(&pins);
    IPin* got[2];
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, pins->Next(2, got, &fetched));
    ASSERT_EQ(1u, fetched);
    got[0]->Release();
    // A pin added later is handed out; the first is not handed out again.
    HRESULT hr;
    auto* added = new TestStream(&hr, source, 1);
    EXPECT_EQ(S_OK, pins->Next(1, got, nullptr));
    EXPECT_EQ(static_cast<IPin*>(added), got[0]);
    got[0]->Release();
    pins->Release();
    delete added;

    IEnumMediaTypes* types;
    Output()->EnumMediaTypes(&types);
    AM_MEDIA_TYPE* type;
    ASSERT_EQ(S_OK, types->Next(1, &type, nullptr));
    EXPECT_TRUE(*static_cast<CMediaType*>(type) == TestType());
    DeleteMediaType(type);
    EXPECT_EQ(S_FALSE, types->Next(1, &type, nullptr));
    source->m_pStream->IncrementTypeVersion();
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Next(1, &type, nullptr));
    types->Reset();
    ASSERT_EQ(S_OK, types->Next(1, &type, nullptr));
    DeleteMediaType(type);
    types->Release();
}
