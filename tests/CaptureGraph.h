// A graph over one file that ends in a video and an audio capture renderer, built and driven as
// the graph reader drives it: for tests, benchmarks and fuzzing of the graph path.
#pragma once

#include <regex>
#include <string>

#include "graphread/Ombrix_RendererFilter.h"
#include "platform/com/ComRef.h"
#include "platform/dshow/GraphWalk.h"
#include "platform/dshow/Streams.h"

// Adds the file's source to the graph as hosts do: the ASF Reader for Windows Media, else the
// source the graph picks.
inline HRESULT AddFileSource(IGraphBuilder* graph, const std::string& path, IBaseFilter** source)
{
    const std::wstring name(path.begin(), path.end());
    if (!std::regex_search(path, std::regex("\\.(asf|wmv|wma|wm)$", std::regex::icase)))
        return graph->AddSourceFilter(name.c_str(), nullptr, source);
    ComRef<IBaseFilter> reader;
    HRESULT result = CoCreateInstance(CLSID_WMAsfReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void**)reader.out());
    if (SUCCEEDED(result) && SUCCEEDED(result = graph->AddFilter(reader.get(), L"ASF Reader")))
        result = QueryRef<IFileSourceFilter>(reader.get(), IID_IFileSourceFilter)->Load(name.c_str(), nullptr);
    *source = reader.detach();
    return result;
}

class CaptureGraph {
public:
    // Builds and runs the graph with each stream's first sample held; Ok() tells whether it could.
    CaptureGraph(const std::string& path, const GUID& videoSubtype)
    {
        CoInitialize(nullptr);
        m_bOk = Build(path, videoSubtype);
    }
    ~CaptureGraph()
    {
        FreeStreams();
        if (m_pControl)
            m_pControl->Stop();
    }
    CaptureGraph(const CaptureGraph&) = delete;
    CaptureGraph& operator=(const CaptureGraph&) = delete;

    bool Ok() const { return m_bOk; }
    bool HasVideo() const { return m_bVideo; }
    bool HasAudio() const { return m_bAudio; }
    LONGLONG Duration() const { return m_Duration; }
    Ombrix_RendererFilter* Video() const { return m_pVideo.get(); }
    Ombrix_RendererFilter* Audio() const { return m_pAudio.get(); }

    // The graph reader's seek: free both streaming threads, pause, set the origins, seek, run,
    // and wait for each stream's first sample (or its end).
    bool Seek(REFERENCE_TIME time, LONGLONG sample)
    {
        FreeStreams();
        if (FAILED(m_pControl->Pause()))
            return false;
        m_pVideo->Ombrix_RendererFilter_SetOrigin(time, 0);
        m_pAudio->Ombrix_RendererFilter_SetOrigin(time, sample);
        HoldStreams();
        if (m_pSeeking->SetPositions(&time, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning) != S_OK ||
            FAILED(m_pControl->Run()))
            return false;
        OAFilterState state;
        m_pControl->GetState(500, &state);
        return true;
    }

    // Stops the graph and runs it again from where it stood.
    bool Restart()
    {
        FreeStreams();
        if (FAILED(m_pControl->Stop()))
            return false;
        HoldStreams();
        return SUCCEEDED(m_pControl->Run());
    }

    // Each sample of the renderer in turn, handed to take(bits, bytes, start, first sample) and
    // released, until the end of its stream.
    template <class Take>
    void ReadAll(Ombrix_RendererFilter* renderer, Take take)
    {
        LONGLONG first;
        LONG bytes;
        REFERENCE_TIME start;
        for (BYTE* bits; (bits = Held(renderer, &first, &bytes, &start)); renderer->ReleaseSample())
            take(bits, bytes, start, first);
    }

    // The bits of the sample the renderer holds, once one is held; null at the end of its stream.
    static BYTE* Held(Ombrix_RendererFilter* renderer, LONGLONG* first = nullptr, LONG* bytes = nullptr,
                      REFERENCE_TIME* start = nullptr)
    {
        if (!renderer->WaitForSampleOrEOS())
            return nullptr;
        LONGLONG unused[4];
        IMediaSample* sample = renderer->Ombrix_RendererFilter_GetAudioSample(start ? *start : unused[0], unused[1],
                                                                              first ? *first : unused[2], unused[3]);
        BYTE* bits = nullptr;
        sample->GetPointer(&bits);
        if (bytes)
            *bytes = sample->GetActualDataLength();
        return bits;
    }

private:
    static Ombrix_RendererFilter* MakeRenderer()
    {
        HRESULT result = S_OK;
        Ombrix_RendererFilter* renderer = new Ombrix_RendererFilter(nullptr, &result);
        renderer->m_bAllowTypeChange = true;
        renderer->m_RequiredSampleRate = 0;
        return renderer;
    }

    bool Build(const std::string& path, const GUID& videoSubtype)
    {
        if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void**)m_pGraph.out())) ||
            FAILED(AddFileSource(m_pGraph.get(), path, m_pSource.out())))
            return false;
        m_pVideo->Ombrix_RendererFilter_SetPreferredMediaType(MEDIATYPE_Video, videoSubtype, FORMAT_VideoInfo);
        m_pAudio->Ombrix_RendererFilter_SetPreferredMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
        if (FAILED(m_pGraph->AddFilter(m_pVideo.get(), nullptr)) || FAILED(m_pGraph->AddFilter(m_pAudio.get(), nullptr)))
            return false;
        m_bVideo = ConnectRenderer(m_pVideo.get());
        m_bAudio = ConnectRenderer(m_pAudio.get());
        m_pControl = QueryRef<IMediaControl>(m_pGraph.get(), IID_IMediaControl);
        m_pSeeking = QueryRef<IMediaSeeking>(m_pGraph.get(), IID_IMediaSeeking);
        const ComRef<IMediaFilter> clock = QueryRef<IMediaFilter>(m_pGraph.get(), IID_IMediaFilter);
        if ((!m_bVideo && !m_bAudio) || !m_pControl || !m_pSeeking || !clock || FAILED(clock->SetSyncSource(nullptr)) ||
            FAILED(m_pSeeking->GetDuration(&m_Duration)) || FAILED(m_pControl->Run()))
            return false;
        for (Ombrix_RendererFilter* renderer : {m_pVideo.get(), m_pAudio.get()})
            if (renderer == m_pVideo.get() ? m_bVideo : m_bAudio) {
                renderer->WaitForSampleOrEOS();
                renderer->m_bAllowTypeChange = false;
            }
        return true;
    }

    bool ConnectRenderer(Ombrix_RendererFilter* renderer)
    {
        for (const ComRef<IPin>& pin : PinsOf(m_pSource.get()))
            if (m_pGraph->Connect(pin.get(), renderer->GetPin(0)) == S_OK)
                return true;
        return false;
    }

    // A parked streaming thread holds its renderer's locks: free both before any change of state.
    void FreeStreams()
    {
        for (Ombrix_RendererFilter* renderer : {m_pVideo.get(), m_pAudio.get()}) {
            renderer->SetBufferLocking(false);
            renderer->ReleaseSample();
        }
    }
    void HoldStreams()
    {
        for (Ombrix_RendererFilter* renderer : {m_pVideo.get(), m_pAudio.get()}) {
            renderer->SetBufferLocking(true);
            renderer->ResetEndOfStreamNotification();
        }
    }

    ComRef<Ombrix_RendererFilter> m_pVideo{MakeRenderer()}, m_pAudio{MakeRenderer()};
    ComRef<IGraphBuilder> m_pGraph;
    ComRef<IBaseFilter> m_pSource;
    ComRef<IMediaControl> m_pControl;
    ComRef<IMediaSeeking> m_pSeeking;
    bool m_bOk = false, m_bVideo = false, m_bAudio = false;
    LONGLONG m_Duration = 0;
};
