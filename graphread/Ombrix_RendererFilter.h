// The capture renderer: accepts the one media type its owner chose, takes the decoded format at
// connection, and hands each delivered sample to a reader thread, with its times counted from an
// origin the owner sets.
#pragma once

#include <atomic>

#include "platform/dshow/BaseRenderer.h"
#include "platform/win32/Event.h"

class Ombrix_InputPin : public CRendererInputPin {
public:
    Ombrix_InputPin(CBaseRenderer* renderer, HRESULT* result, LPCWSTR name);
    ~Ombrix_InputPin() override;

    void Ombrix_InputPin_SetPreferredMediaType(GUID majorType, GUID subtype, GUID formatType);

    // Proposes the preferred major type and subtype only: a hint for the upstream pin.
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
    HRESULT ReceiveCanBlock() override;

private:
    bool m_bPreferredSet;
    GUID m_PreferredMajorType;
    GUID m_PreferredSubtype;
    GUID m_PreferredFormatType;
};

class Ombrix_RendererFilter : public CBaseRenderer {
public:
    Ombrix_RendererFilter(IUnknown* outer, HRESULT* result);
    ~Ombrix_RendererFilter() override;

    void Ombrix_RendererFilter_SetPreferredMediaType(GUID majorType, GUID subtype, GUID formatType);
    void SetBufferLocking(bool locking);
    VIDEOINFOHEADER* Ombrix_RendererFilter_GetVideoInformation();
    WAVEFORMATEX* Ombrix_RendererFilter_GetAudioInformation();
    void Ombrix_RendererFilter_SetOrigin(LONGLONG videoOrigin, LONGLONG audioOrigin);
    // True when a sample is held, false at end of stream.
    bool WaitForSampleOrEOS();
    IMediaSample* Ombrix_RendererFilter_GetVideoSample(LONGLONG& start, LONGLONG& end);
    IMediaSample* Ombrix_RendererFilter_GetAudioSample(LONGLONG& start, LONGLONG& end, LONGLONG& firstSample,
                                                       LONGLONG& endSample);
    void ReleaseSample();
    // Releases the held sample and lets every sample through unheld and uncounted until the next
    // flush ends: a stream about to be moved cannot hold a stale sample that the flush would wait
    // for. StopDiscarding ends it where no flush came.
    void DiscardUntilFlush();
    void StopDiscarding();
    LONGLONG GetLastDeliveryLength();
    void ResetEndOfStreamNotification();

    HRESULT EndOfStream() override;
    // An end of stream that came before or during a flush belongs to the stream flushed away; the
    // samples after it count from the origin again.
    HRESULT EndFlush() override;
    HRESULT SetMediaType(const CMediaType* type) override;
    HRESULT DoRenderSample(IMediaSample* sample) override;
    HRESULT CheckMediaType(const CMediaType* type) override;

    // Written by the owner before it connects: the one audio rate accepted (0: any), and whether
    // a type may still be taken once a format is known.
    std::atomic<DWORD> m_RequiredSampleRate;
    std::atomic<bool> m_bAllowTypeChange;

private:
    void RestartCount();
    VIDEOINFOHEADER m_VideoInfo;
    bool m_bHaveVideoInfo;
    WAVEFORMATEX m_AudioInfo;
    bool m_bHaveAudioInfo;
    std::atomic<bool> m_bBufferLocking;
    HANDLE m_hSampleReady;
    HANDLE m_hSampleReleased;
    HANDLE m_hEndOfStream;
    bool m_bPreferredSet;
    GUID m_PreferredMajorType;
    GUID m_PreferredSubtype;
    GUID m_PreferredFormatType;
    CCritSec m_TimeLock;
    REFERENCE_TIME m_PrevRawStart;
    bool m_bSeenSample;
    std::atomic<REFERENCE_TIME> m_LastDeliveryLength;
    REFERENCE_TIME m_VideoElapsed;
    LONGLONG m_AudioElapsed;
    REFERENCE_TIME m_VideoOrigin;
    LONGLONG m_AudioOrigin;
    Ombrix_InputPin m_InputPin;
    IMediaSample* m_pCurrentSample;
    REFERENCE_TIME m_CurrentStart;
    REFERENCE_TIME m_CurrentEnd;
    LONGLONG m_CurrentFirstSample;
    LONGLONG m_CurrentEndSample;
    // The streaming thread waits in DoRenderSample for a release: only then does a release signal.
    bool m_bHolding;
    std::atomic<bool> m_bDiscarding;
};
