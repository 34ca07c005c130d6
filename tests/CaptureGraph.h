// A graph over one file that ends in a video and an audio capture renderer, built and driven as
// the graph reader drives it: for tests, benchmarks and fuzzing of the graph path.
#pragma once

#include <strings.h>

#include <string>
#include <vector>

#include "graphread/Ombrix_RendererFilter.h"
#include "platform/dshow/Streams.h"

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
        for (IUnknown* held : std::initializer_list<IUnknown*>{m_pControl, m_pSeeking, m_pSource, m_pGraph, m_pVideo, m_pAudio})
            if (held)
                held->Release();
    }
    CaptureGraph(const CaptureGraph&) = delete;
    CaptureGraph& operator=(const CaptureGraph&) = delete;

    bool Ok() const { return m_bOk; }
    bool HasVideo() const { return m_bVideo; }
    bool HasAudio() const { return m_bAudio; }
    LONGLONG Duration() const { return m_Duration; }
    Ombrix_RendererFilter* Video() const { return m_pVideo; }
    Ombrix_RendererFilter* Audio() const { return m_pAudio; }

    // The graph reader's seek: free both streaming threads, pause, set the origins, seek, run,
    // and wait for each stream's first sample (or its end).
    bool Seek(REFERENCE_TIME time, LONGLONG sample)
    {
        FreeStreams();
        if (FAILED(m_pControl->Pause()))
            return false;
        m_pVideo->Ombrix_RendererFilter_SetOrigin(time, 0);
        m_pAudio->Ombrix_RendererFilter_SetOrigin(time, sample);
        for (Ombrix_RendererFilter* renderer : {m_pVideo, m_pAudio}) {
            renderer->SetBufferLocking(true);
            renderer->ResetEndOfStreamNotification();
        }
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
        for (Ombrix_RendererFilter* renderer : {m_pVideo, m_pAudio}) {
            renderer->SetBufferLocking(true);
            renderer->ResetEndOfStreamNotification();
        }
        return SUCCEEDED(m_pControl->Run());
    }

    // Each sample of the renderer in turn, handed to take(bits, bytes, start, first sample) and
    // released, until the end of its stream.
    template <class Take>
    void ReadAll(Ombrix_RendererFilter* renderer, Take take)
    {
        while (renderer->WaitForSampleOrEOS()) {
            LONGLONG start, end, first, last;
            IMediaSample* sample = renderer->Ombrix_RendererFilter_GetAudioSample(start, end, first, last);
            BYTE* bits = nullptr;
            sample->GetPointer(&bits);
            take(bits, sample->GetActualDataLength(), start, first);
            renderer->ReleaseSample();
        }
    }

    // The bits of the sample the renderer holds, once one is held; null at the end of its stream.
    static BYTE* Held(Ombrix_RendererFilter* renderer, LONGLONG* first = nullptr, LONG* bytes = nullptr)
    {
        if (!renderer->WaitForSampleOrEOS())
            return nullptr;
        LONGLONG start, end, firstSample, last;
        IMediaSample* sample = renderer->Ombrix_RendererFilter_GetAudioSample(start, end, firstSample, last);
        BYTE* bits = nullptr;
        sample->GetPointer(&bits);
        if (first)
            *first = firstSample;
        if (bytes)
            *bytes = sample->GetActualDataLength();
        return bits;
    }

private:
    static bool IsWindowsMedia(const std::string& path)
    {
        const size_t dot = path.rfind('.');
        for (const char* extension : {".asf", ".wmv", ".wma", ".wm"})
            if (dot != std::string::npos && strcasecmp(path.c_str() + dot, extension) == 0)
                return true;
        return false;
    }
    static Ombrix_RendererFilter* MakeRenderer()
    {
        HRESULT result = S_OK;
        Ombrix_RendererFilter* renderer = new Ombrix_RendererFilter(nullptr, &result);
        renderer->AddRef();
        renderer->m_bAllowTypeChange = true;
        renderer->m_RequiredSampleRate = 0;
        return renderer;
    }

    bool Build(const std::string& path, const GUID& videoSubtype)
    {
        if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void**)&m_pGraph)))
            return false;
        const std::wstring name(path.begin(), path.end());
        if (IsWindowsMedia(path)) {
            IFileSourceFilter* load = nullptr;
            if (FAILED(CoCreateInstance(CLSID_WMAsfReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void**)&m_pSource)) ||
                FAILED(m_pGraph->AddFilter(m_pSource, L"ASF Reader")) ||
                FAILED(m_pSource->QueryInterface(IID_IFileSourceFilter, (void**)&load)))
                return false;
            const HRESULT loaded = load->Load(name.c_str(), nullptr);
            load->Release();
            if (FAILED(loaded))
                return false;
        } else if (FAILED(m_pGraph->AddSourceFilter(name.c_str(), nullptr, &m_pSource))) {
            return false;
        }
        m_pVideo->Ombrix_RendererFilter_SetPreferredMediaType(MEDIATYPE_Video, videoSubtype, FORMAT_VideoInfo);
        m_pAudio->Ombrix_RendererFilter_SetPreferredMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
        if (FAILED(m_pGraph->AddFilter(m_pVideo, nullptr)) || FAILED(m_pGraph->AddFilter(m_pAudio, nullptr)))
            return false;
        m_bVideo = ConnectRenderer(m_pVideo);
        m_bAudio = ConnectRenderer(m_pAudio);
        IMediaFilter* clock = nullptr;
        if ((!m_bVideo && !m_bAudio) || FAILED(m_pGraph->QueryInterface(IID_IMediaControl, (void**)&m_pControl)) ||
            FAILED(m_pGraph->QueryInterface(IID_IMediaSeeking, (void**)&m_pSeeking)) ||
            FAILED(m_pGraph->QueryInterface(IID_IMediaFilter, (void**)&clock)))
            return false;
        const HRESULT unclocked = clock->SetSyncSource(nullptr);
        clock->Release();
        if (FAILED(unclocked) || FAILED(m_pSeeking->GetDuration(&m_Duration)) || FAILED(m_pControl->Run()))
            return false;
        for (Ombrix_RendererFilter* renderer : Present()) {
            renderer->WaitForSampleOrEOS();
            renderer->m_bAllowTypeChange = false;
        }
        return true;
    }

    bool ConnectRenderer(Ombrix_RendererFilter* renderer)
    {
        IEnumPins* pins = nullptr;
        if (FAILED(m_pSource->EnumPins(&pins)))
            return false;
        bool connected = false;
        for (IPin* pin; !connected && pins->Next(1, &pin, nullptr) == S_OK; pin->Release())
            connected = m_pGraph->Connect(pin, renderer->GetPin(0)) == S_OK;
        pins->Release();
        return connected;
    }

    std::vector<Ombrix_RendererFilter*> Present() const
    {
        std::vector<Ombrix_RendererFilter*> present;
        if (m_bVideo)
            present.push_back(m_pVideo);
        if (m_bAudio)
            present.push_back(m_pAudio);
        return present;
    }

    // A parked streaming thread holds its renderer's locks: free both before any change of state.
    void FreeStreams()
    {
        for (Ombrix_RendererFilter* renderer : {m_pVideo, m_pAudio}) {
            renderer->SetBufferLocking(false);
            renderer->ReleaseSample();
        }
    }

    Ombrix_RendererFilter* m_pVideo = MakeRenderer();
    Ombrix_RendererFilter* m_pAudio = MakeRenderer();
    IGraphBuilder* m_pGraph = nullptr;
    IBaseFilter* m_pSource = nullptr;
    IMediaControl* m_pControl = nullptr;
    IMediaSeeking* m_pSeeking = nullptr;
    bool m_bOk = false, m_bVideo = false, m_bAudio = false;
    LONGLONG m_Duration = 0;
};
