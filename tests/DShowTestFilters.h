// Small filters for the base-class suites: a source of numbered samples, a transform, a renderer that records
// what it renders (and can be held in DoRenderSample), and a graph stand-in that keeps
// the events filters send.
#pragma once

#include <gmock/gmock.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/dshow/Streams.h"

namespace dshowtest {

constexpr DWORD Patience = 10000;  // bounds every wait; never reached when the code works

// Whether the condition comes true within Patience milliseconds.
inline bool Eventually(const std::function<bool()>& condition)
{
    for (DWORD waited = 0; waited < Patience; waited++, Sleep(1))
        if (condition())
            return true;
    return condition();
}

// Asks the allocator for count buffers of size bytes.
inline HRESULT SetBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, LONG count, LONG size)
{
    request->cBuffers = count;
    request->cbBuffer = size;
    ALLOCATOR_PROPERTIES actual;
    return allocator->SetProperties(request, &actual);
}

// A new allocator of count buffers of size bytes, committed, with one reference.
inline CMemAllocator* CommittedAllocator(LONG count, LONG size)
{
    auto* allocator = new CMemAllocator("test", nullptr, nullptr);
    allocator->AddRef();
    ALLOCATOR_PROPERTIES request{count, size, 1, 0}, actual;
    EXPECT_EQ(S_OK, allocator->SetProperties(&request, &actual));
    EXPECT_EQ(S_OK, allocator->Commit());
    return allocator;
}

// Stops the filters, disconnects the pins, and releases each filter's last reference.
inline void TakeDown(std::initializer_list<IBaseFilter*> filters, std::initializer_list<IPin*> pins)
{
    for (IBaseFilter* filter : filters)
        filter->Stop();
    for (IPin* pin : pins)
        pin->Disconnect();
    for (IBaseFilter* filter : filters)
        EXPECT_EQ(0u, filter->Release());
}

// The one type the test filters use: 32-bit RGB (or another subtype), 8x2.
inline CMediaType TestType(LONG width = 8, REFGUID subtype = MEDIASUBTYPE_RGB32)
{
    CMediaType type(&MEDIATYPE_Video);
    type.SetSubtype(&subtype);
    type.SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER header{};
    header.bmiHeader = {40, width, 2, 0, 32, 0, 0, 0, 0, 0, 0};  // 32 bits, width x 2
    type.SetFormat(reinterpret_cast<const BYTE*>(&header), sizeof header);
    return type;
}

// The number a test sample carries in its first bytes.
inline int NumberOf(IMediaSample* sample)
{
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    int number;
    std::memcpy(&number, data, sizeof number);
    return number;
}

inline void SetNumber(IMediaSample* sample, int number)
{
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memcpy(data, &number, sizeof number);
}

struct MockSeeking : IMediaSeeking {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    MOCK_METHOD(HRESULT, GetCapabilities, (DWORD*), (override));
    MOCK_METHOD(HRESULT, CheckCapabilities, (DWORD*), (override));
    MOCK_METHOD(HRESULT, IsFormatSupported, (const GUID*), (override));
    MOCK_METHOD(HRESULT, QueryPreferredFormat, (GUID*), (override));
    MOCK_METHOD(HRESULT, GetTimeFormat, (GUID*), (override));
    MOCK_METHOD(HRESULT, IsUsingTimeFormat, (const GUID*), (override));
    MOCK_METHOD(HRESULT, SetTimeFormat, (const GUID*), (override));
    MOCK_METHOD(HRESULT, GetDuration, (LONGLONG*), (override));
    MOCK_METHOD(HRESULT, GetStopPosition, (LONGLONG*), (override));
    MOCK_METHOD(HRESULT, GetCurrentPosition, (LONGLONG*), (override));
    MOCK_METHOD(HRESULT, ConvertTimeFormat, (LONGLONG*, const GUID*, LONGLONG, const GUID*), (override));
    MOCK_METHOD(HRESULT, SetPositions, (LONGLONG*, DWORD, LONGLONG*, DWORD), (override));
    MOCK_METHOD(HRESULT, GetPositions, (LONGLONG*, LONGLONG*), (override));
    MOCK_METHOD(HRESULT, GetAvailable, (LONGLONG*, LONGLONG*), (override));
    MOCK_METHOD(HRESULT, SetRate, (double), (override));
    MOCK_METHOD(HRESULT, GetRate, (double*), (override));
    MOCK_METHOD(HRESULT, GetPreroll, (LONGLONG*), (override));
};

class TestStream : public CSourceStream {
public:
    TestStream(HRESULT* result, CSource* filter, int count, REFGUID subtype = MEDIASUBTYPE_RGB32)
        : CSourceStream("TestStream", result, filter, L"Out"), m_Subtype(subtype), m_Count(count) {}

    HRESULT GetMediaType(CMediaType* type) override { return type->Set(TestType(8, m_Subtype)); }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        return SetBuffers(allocator, request, 2, 64);
    }
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override
    {
        return iid == IID_IMediaSeeking && m_pSeeking ? GetInterface(m_pSeeking, object)
                                                      : CSourceStream::NonDelegatingQueryInterface(iid, object);
    }

    IMediaSeeking* m_pSeeking = nullptr;  // answered for when set
    REFERENCE_TIME m_TimeOffset = 0;      // added to every time stamp

protected:
    // Sample n holds n and lasts [n, n + 1) * 100 after the offset; then the stream ends.
    HRESULT FillBuffer(IMediaSample* sample) override
    {
        if (m_Next == m_Count)
            return S_FALSE;
        SetNumber(sample, m_Next);
        REFERENCE_TIME start = m_TimeOffset + m_Next * 100, end = start + 100;
        sample->SetTime(&start, &end);
        ++m_Next;
        return S_OK;
    }

private:
    const GUID m_Subtype;
    const int m_Count;
    int m_Next = 0;
};

class TestSource : public CSource {
public:
    explicit TestSource(int count)
        : CSource("TestSource", nullptr, GUID_NULL), m_pStream(new TestStream(&m_Result, this, count))
    {
        AddRef();
    }
    HRESULT m_Result = S_OK;
    TestStream* const m_pStream;  // deleted by CSource
};

// Passes samples on from one subtype to another, emitting sample n (n % 3) times: none, one or
// two outputs per input.
class TestTransform : public CTransformFilter {
public:
    TestTransform(REFCLSID clsid, REFGUID input, REFGUID output)
        : CTransformFilter("TestTransform", nullptr, clsid), m_Input(input), m_Output(output) {}

    HRESULT CheckInputType(const CMediaType* in) override
    {
        return *in->Subtype() == m_Input ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType*, const CMediaType* out) override
    {
        return *out->Subtype() == m_Output ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override
    {
        return position ? VFW_S_NO_MORE_ITEMS : type->Set(TestType(8, m_Output));
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        return SetBuffers(allocator, request, 3, 16);
    }
    HRESULT Receive(IMediaSample* sample) override
    {
        ++m_Received;
        for (int copy = 0; copy < NumberOf(sample) % 3; ++copy) {
            IMediaSample* out;
            HRESULT hr = InitializeOutputSample(sample, &out);
            if (FAILED(hr))
                return hr;
            SetNumber(out, NumberOf(sample));
            hr = OutputPin()->Deliver(out);
            out->Release();
            if (hr != S_OK)
                return hr;
        }
        return S_OK;
    }
    std::atomic<int> m_Received{0};

private:
    const GUID m_Input, m_Output;
};

// The renderer's own pin, embedded in it: asks for 16-byte alignment.
class TestRendererPin : public CRendererInputPin {
public:
    TestRendererPin(CBaseRenderer* renderer, HRESULT* result) : CRendererInputPin(renderer, result, L"In") {}
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override
    {
        properties->cbAlign = 16;
        return S_OK;
    }
};

class TestRenderer : public CBaseRenderer {
public:
    TestRenderer() : CBaseRenderer(GUID_NULL, "TestRenderer", nullptr, nullptr), m_Pin(this, &m_Result)
    {
        m_pInputPin = &m_Pin;
        AddRef();
    }
    ~TestRenderer() override { m_pInputPin = nullptr; }

    HRESULT CheckMediaType(const CMediaType* type) override
    {
        return m_bAcceptAll || *type == TestType() ? S_OK : E_FAIL;
    }
    HRESULT DoRenderSample(IMediaSample* sample) override
    {
        {
            Sample rendered{NumberOf(sample), -1, sample->IsDiscontinuity() == S_OK};
            REFERENCE_TIME end;
            sample->GetTime(&rendered.start, &end);
            std::lock_guard<std::mutex> lock(m_RecordLock);
            m_Rendered.push_back(rendered);
            m_Changed.notify_all();
            m_bLocksHeld = m_bLocksHeld && CritCheckIn(&m_InterfaceLock) && CritCheckIn(&m_RendererLock);
            m_bOnOtherThread = m_bOnOtherThread && std::this_thread::get_id() != m_TestThread;
        }
        m_Entered.Set();
        m_Gate.Wait();
        return S_OK;
    }
    struct Sample {
        int number;
        REFERENCE_TIME start;
        bool discontinuity;
    };
    std::vector<int> Rendered()
    {
        std::vector<int> numbers;
        for (const Sample& sample : Samples())
            numbers.push_back(sample.number);
        return numbers;
    }
    std::vector<Sample> Samples()
    {
        std::lock_guard<std::mutex> lock(m_RecordLock);
        return m_Rendered;
    }
    // Whether `count` samples were rendered within ten seconds.
    bool WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_RecordLock);
        return m_Changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_Rendered.size() >= count; });
    }

    HRESULT m_Result = S_OK;
    TestRendererPin m_Pin;
    bool m_bAcceptAll = false;
    CAMEvent m_Entered;            // a DoRenderSample started
    CAMEvent m_Gate{TRUE, TRUE};   // every DoRenderSample waits here while it is reset
    bool m_bLocksHeld = true;    // every DoRenderSample ran with both locks held
    bool m_bOnOtherThread = true;  // and on a thread other than the test's
    const std::thread::id m_TestThread = std::this_thread::get_id();

private:
    std::mutex m_RecordLock;
    std::condition_variable m_Changed;
    std::vector<Sample> m_Rendered;
};

// The graph as filters see it: an event sink that keeps what it is told.
class EventGraph : public IFilterGraph, public IMediaEventSink {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override
    {
        return iid == IID_IMediaEventSink ? GetInterface(static_cast<IMediaEventSink*>(this), object) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }

    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Events.emplace_back(code, param1, param2);
        if (code == EC_COMPLETE)
            m_Complete.Set();
        return S_OK;
    }
    using Event = std::tuple<LONG, LONG_PTR, LONG_PTR>;  // code and both parameters
    std::vector<Event> Events()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Events;
    }
    CAMEvent m_Complete{TRUE};

private:
    std::mutex m_Lock;
    std::vector<Event> m_Events;
};

}  // namespace dshowtest
