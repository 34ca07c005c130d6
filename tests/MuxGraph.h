// Graphs of test sources of known samples, an AVI Mux and a File Writer, for the multiplexer tests.
#pragma once

#include "WriterSupport.h"
#include "platform/com/ComRef.h"
#include "platform/dshow/GraphWalk.h"
#include "platform/dshow/Streams.h"
#include "platform/filters/AviMux.h"

inline constexpr LONG Patience = 10000;  // ms; never reached when the code works

class PacketStream final : public CSourceStream {
public:
    PacketStream(CSource* filter, const CMediaType& type, std::vector<Packet> samples, HRESULT* result)
        : CSourceStream("PacketStream", result, filter, L"Out"), m_Type(type), m_Samples(std::move(samples))
    {
    }
    HRESULT GetMediaType(CMediaType* type) override { return type->Set(m_Type); }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override
    {
        size_t largest = 1;
        for (const Packet& s : m_Samples)
            largest = std::max(largest, s.data.size());
        ALLOCATOR_PROPERTIES wanted{3, LONG(largest), 1, 0}, actual{};
        return allocator->SetProperties(&wanted, &actual);
    }

protected:
    HRESULT FillBuffer(IMediaSample* sample) override
    {
        if (m_Next == m_Samples.size())
            return S_FALSE;
        const Packet& s = m_Samples[m_Next++];
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        memcpy(data, s.data.data(), s.data.size());
        sample->SetActualDataLength(LONG(s.data.size()));
        REFERENCE_TIME start = s.start, stop = s.stop;
        sample->SetTime(s.start < 0 ? nullptr : &start, s.start < 0 ? nullptr : &stop);
        sample->SetSyncPoint(s.sync);
        return S_OK;
    }

private:
    const CMediaType m_Type;
    const std::vector<Packet> m_Samples;
    size_t m_Next = 0;
};

inline ComRef<IBaseFilter> packetSource(const CMediaType& type, std::vector<Packet> samples)
{
    auto* source = new CSource("PacketSource", nullptr, GUID_NULL);
    HRESULT hr = S_OK;
    new PacketStream(source, type, std::move(samples), &hr);  // the source deletes its pin
    return ComRef<IBaseFilter>(source);
}

inline CMediaType typeWith(const GUID& major, const GUID& subtype, const GUID& formatType, const void* format, size_t size)
{
    CMediaType type(&major);
    type.SetSubtype(&subtype);
    type.SetFormatType(&formatType);
    type.SetFormat(static_cast<const BYTE*>(format), ULONG(size));
    return type;
}

inline CMediaType pcmType(DWORD rate, WORD channels)
{
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, channels, rate, rate * channels * 2, WORD(channels * 2), 16, 0};
    return typeWith(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, &wave, sizeof wave);
}

// Test sources -> an AVI Mux -> a File Writer, in a graph of their own.
struct MuxGraph {
    explicit MuxGraph(AviLimits limits = AviLimits()) : mux(static_cast<IBaseFilter*>(new AviMux(nullptr, limits)))
    {
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void**)graph.out());
        CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void**)writer.out());
        EXPECT_EQ(S_OK, graph->AddFilter(mux.get(), L"AVI Mux"));
    }
    // To the first free input.
    void add(ComRef<IBaseFilter> source)
    {
        ASSERT_EQ(S_OK, graph->AddFilter(source.get(), nullptr));
        EXPECT_EQ(S_OK, connect(source.get(), mux.get()));
        sources.push_back(source);
    }
    HRESULT connect(IBaseFilter* from, IBaseFilter* to)
    {
        for (const ComRef<IPin>& input : PinsOf(to, PINDIR_INPUT))
            if (!IsConnected(input.get()))
                return graph->ConnectDirect(PinsOf(from, PINDIR_OUTPUT).front().get(), input.get(), nullptr);
        return VFW_E_CANNOT_CONNECT;
    }
    // Runs the graph into the file until it has ended; the event that ended the wait.
    LONG write(const std::string& path)
    {
        const std::wstring name(path.begin(), path.end());
        EXPECT_EQ(S_OK, graph->AddFilter(writer.get(), L"AVI Writer"));
        EXPECT_EQ(S_OK, QueryRef<IFileSinkFilter>(writer.get(), IID_IFileSinkFilter)->SetFileName(name.c_str(), nullptr));
        EXPECT_EQ(S_OK, connect(mux.get(), writer.get()));
        const auto control = QueryRef<IMediaControl>(graph.get(), IID_IMediaControl);
        LONG code = 0;
        EXPECT_EQ(S_OK, control->Run());
        EXPECT_EQ(S_OK, QueryRef<IMediaEvent>(graph.get(), IID_IMediaEvent)->WaitForCompletion(Patience, &code));
        control->Stop();
        return code;
    }
    // As the library's writer does after each file.
    void takeApart()
    {
        for (const ComRef<IBaseFilter>& source : sources)
            graph->RemoveFilter(source.get());
        graph->RemoveFilter(writer.get());
        sources.clear();
    }

    ComRef<IGraphBuilder> graph;
    ComRef<IBaseFilter> mux, writer;
    std::vector<ComRef<IBaseFilter>> sources;
};

// What the ffmpeg tool decodes of the file written with these arguments, the same as of its source.
inline std::string expectDecodedAlike(const std::string& path, const std::string& source, const std::string& decode)
{
    std::string ours, theirs;
    run("ffmpeg -v error -i " + quote(path) + decode, &ours);
    run("ffmpeg -v error -i " + quote(source) + decode, &theirs);
    EXPECT_TRUE(!ours.empty() && ours == theirs) << decode;
    return ours;
}
