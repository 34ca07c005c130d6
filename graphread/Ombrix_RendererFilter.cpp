#include "Ombrix_RendererFilter.h"

#include <cstdlib>
#include <cstring>

namespace {

// One frame at 29.97 frames per second: the length of a first sample without times.
constexpr REFERENCE_TIME DefaultFrameLength = 333667;

// A format block too short for the structure it must hold cannot be taken.
bool HoldsFormat(const AM_MEDIA_TYPE& type, size_t size) { return type.pbFormat && type.cbFormat >= size; }

// PCM whose sample frame is under a byte cannot be counted in sample frames.
bool CountableAudio(const WAVEFORMATEX& format) { return format.nChannels * format.wBitsPerSample / 8 > 0; }

}  // namespace

Ombrix_InputPin::Ombrix_InputPin(CBaseRenderer* renderer, HRESULT* result, LPCWSTR name)
    : CRendererInputPin(renderer, result, name), m_bPreferredSet(false), m_PreferredMajorType(),
      m_PreferredSubtype(), m_PreferredFormatType()
{
}

Ombrix_InputPin::~Ombrix_InputPin() = default;

void Ombrix_InputPin::Ombrix_InputPin_SetPreferredMediaType(GUID majorType, GUID subtype, GUID formatType)
{
    m_PreferredMajorType = majorType;
    m_PreferredSubtype = subtype;
    m_PreferredFormatType = formatType;
    m_bPreferredSet = true;
}

HRESULT Ombrix_InputPin::GetMediaType(int position, CMediaType* type)
{
    if (!m_bPreferredSet)
        return CBasePin::GetMediaType(position, type);
    if (position != 0)
        return VFW_S_NO_MORE_ITEMS;
    type->InitMediaType();
    type->SetType(&m_PreferredMajorType);
    type->SetSubtype(&m_PreferredSubtype);
    return S_OK;
}

HRESULT Ombrix_InputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties)
{
    properties->cbBuffer = 3;
    return S_OK;
}

HRESULT Ombrix_InputPin::ReceiveCanBlock() { return S_OK; }

Ombrix_RendererFilter::Ombrix_RendererFilter(IUnknown* outer, HRESULT* result)
    : CBaseRenderer(CLSID_DShowSpecialOutput, nullptr, outer, result), m_VideoInfo(), m_bHaveVideoInfo(false),
      m_AudioInfo(), m_bHaveAudioInfo(false), m_bBufferLocking(true),
      m_hSampleReady(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hSampleReleased(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      m_hEndOfStream(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_bPreferredSet(false), m_PreferredMajorType(),
      m_PreferredSubtype(), m_PreferredFormatType(), m_PrevRawStart(0), m_bSeenSample(false),
      m_LastDeliveryLength(0), m_VideoElapsed(0), m_AudioElapsed(0), m_VideoOrigin(0), m_AudioOrigin(0),
      m_InputPin(this, result, L"SpecialInputPin"), m_pCurrentSample(nullptr), m_CurrentStart(0), m_CurrentEnd(0),
      m_CurrentFirstSample(0), m_CurrentEndSample(0), m_bHolding(false), m_bDiscarding(false)
{
    m_pInputPin = &m_InputPin;
}

Ombrix_RendererFilter::~Ombrix_RendererFilter()
{
    CloseHandle(m_hSampleReady);
    CloseHandle(m_hSampleReleased);
    CloseHandle(m_hEndOfStream);
    m_pInputPin = nullptr;
}

void Ombrix_RendererFilter::Ombrix_RendererFilter_SetPreferredMediaType(GUID majorType, GUID subtype,
                                                                        GUID formatType)
{
    m_PreferredMajorType = majorType;
    m_PreferredSubtype = subtype;
    m_PreferredFormatType = formatType;
    m_bPreferredSet = true;
    m_InputPin.Ombrix_InputPin_SetPreferredMediaType(majorType, subtype, formatType);
}

void Ombrix_RendererFilter::SetBufferLocking(bool locking) { m_bBufferLocking = locking; }

VIDEOINFOHEADER* Ombrix_RendererFilter::Ombrix_RendererFilter_GetVideoInformation()
{
    return m_bHaveVideoInfo ? &m_VideoInfo : nullptr;
}

WAVEFORMATEX* Ombrix_RendererFilter::Ombrix_RendererFilter_GetAudioInformation()
{
    return m_bHaveAudioInfo ? &m_AudioInfo : nullptr;
}

HRESULT Ombrix_RendererFilter::CheckMediaType(const CMediaType* type)
{
    if (!m_bPreferredSet)
        return E_INVALIDARG;
    if (!m_bAllowTypeChange && (m_bHaveAudioInfo || m_bHaveVideoInfo))
        return E_INVALIDARG;
    if (type->majortype != m_PreferredMajorType || type->subtype != m_PreferredSubtype ||
        type->formattype != m_PreferredFormatType)
        return E_INVALIDARG;
    if (m_PreferredFormatType == FORMAT_WaveFormatEx) {
        if (!HoldsFormat(*type, sizeof(WAVEFORMATEX)))
            return E_INVALIDARG;
        WAVEFORMATEX format;
        memcpy(&format, type->pbFormat, sizeof format);
        if (!CountableAudio(format) || (m_RequiredSampleRate != 0 && format.nSamplesPerSec != m_RequiredSampleRate))
            return E_INVALIDARG;
    } else if (m_PreferredFormatType == FORMAT_VideoInfo && !HoldsFormat(*type, sizeof(VIDEOINFOHEADER))) {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT Ombrix_RendererFilter::SetMediaType(const CMediaType* type)
{
    if (!m_bPreferredSet)
        return E_INVALIDARG;
    if (type->formattype == FORMAT_WaveFormatEx) {
        if (!HoldsFormat(*type, sizeof(WAVEFORMATEX)))
            return E_INVALIDARG;
        WAVEFORMATEX format;
        memcpy(&format, type->pbFormat, sizeof format);
        if (!CountableAudio(format))
            return E_INVALIDARG;
        CAutoLock lock(&m_TimeLock);
        m_AudioInfo = format;
        m_bHaveAudioInfo = true;
    } else if (m_PreferredFormatType == FORMAT_VideoInfo) {
        if (!HoldsFormat(*type, sizeof(VIDEOINFOHEADER)))
            return E_INVALIDARG;
        memcpy(&m_VideoInfo, type->pbFormat, sizeof m_VideoInfo);
        m_bHaveVideoInfo = true;
    }
    return S_OK;
}

HRESULT Ombrix_RendererFilter::DoRenderSample(IMediaSample* sample)
{
    if (m_bDiscarding)
        return S_OK;
    ResetEvent(m_hEndOfStream);
    REFERENCE_TIME start = 0, end = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &end));
    bool hold;
    {
        CAutoLock lock(&m_TimeLock);
        m_pCurrentSample = sample;
        if (!timed) {
            start = m_VideoOrigin;
            end = start + (m_LastDeliveryLength > 0 ? m_LastDeliveryLength.load() : DefaultFrameLength);
        }
        if (m_bSeenSample)
            m_LastDeliveryLength = start - m_PrevRawStart;
        else if (m_LastDeliveryLength <= 0)
            m_LastDeliveryLength = end - start;
        const REFERENCE_TIME length = std::llabs(m_LastDeliveryLength);
        m_PrevRawStart = start;
        m_CurrentStart = m_VideoOrigin + m_VideoElapsed;
        m_CurrentEnd = m_CurrentStart + length;
        m_VideoElapsed += length;
        m_bSeenSample = true;
        if (m_bHaveAudioInfo) {
            const int32_t frame = int32_t(m_AudioInfo.nChannels) * m_AudioInfo.wBitsPerSample / 8;
            const int32_t frames = sample->GetActualDataLength() / frame;
            m_CurrentFirstSample = m_AudioOrigin + m_AudioElapsed;
            m_CurrentEndSample = m_CurrentFirstSample + uint32_t(frames);
            m_AudioElapsed += frames;
        } else {
            m_CurrentFirstSample = m_CurrentEndSample = 0;
        }
        hold = m_bHolding = m_bBufferLocking;
        if (hold)
            SetEvent(m_hSampleReady);
    }
    if (hold)
        WaitForSingleObject(m_hSampleReleased, INFINITE);
    else
        Sleep(1);
    return S_OK;
}

void Ombrix_RendererFilter::Ombrix_RendererFilter_SetOrigin(LONGLONG videoOrigin, LONGLONG audioOrigin)
{
    CAutoLock lock(&m_TimeLock);
    m_VideoOrigin = videoOrigin;
    m_AudioOrigin = audioOrigin;
    RestartCount();
    ResetEvent(m_hSampleReleased);
}

void Ombrix_RendererFilter::RestartCount()
{
    m_VideoElapsed = m_AudioElapsed = m_PrevRawStart = 0;
    m_bSeenSample = false;
}

bool Ombrix_RendererFilter::WaitForSampleOrEOS()
{
    const HANDLE events[] = {m_hSampleReady, m_hEndOfStream};
    WaitForMultipleObjects(2, events, FALSE, INFINITE);
    return WaitForSingleObject(m_hEndOfStream, 0) != WAIT_OBJECT_0;
}

IMediaSample* Ombrix_RendererFilter::Ombrix_RendererFilter_GetVideoSample(LONGLONG& start, LONGLONG& end)
{
    CAutoLock lock(&m_TimeLock);
    start = m_CurrentStart;
    end = m_CurrentEnd;
    return m_pCurrentSample;
}

IMediaSample* Ombrix_RendererFilter::Ombrix_RendererFilter_GetAudioSample(LONGLONG& start, LONGLONG& end,
                                                                          LONGLONG& firstSample,
                                                                          LONGLONG& endSample)
{
    CAutoLock lock(&m_TimeLock);
    firstSample = m_CurrentFirstSample;
    endSample = m_CurrentEndSample;
    return Ombrix_RendererFilter_GetVideoSample(start, end);
}

void Ombrix_RendererFilter::ReleaseSample()
{
    CAutoLock lock(&m_TimeLock);
    ResetEvent(m_hSampleReady);
    m_pCurrentSample = nullptr;
    m_CurrentStart = m_CurrentEnd = m_CurrentFirstSample = m_CurrentEndSample = 0;
    // A release with nothing held must not let the next sample through unheld.
    if (std::exchange(m_bHolding, false))
        SetEvent(m_hSampleReleased);
}

void Ombrix_RendererFilter::DiscardUntilFlush()
{
    m_bDiscarding = true;
    ReleaseSample();
}

void Ombrix_RendererFilter::StopDiscarding() { m_bDiscarding = false; }

LONGLONG Ombrix_RendererFilter::GetLastDeliveryLength() { return m_LastDeliveryLength; }

void Ombrix_RendererFilter::ResetEndOfStreamNotification() { ResetEvent(m_hEndOfStream); }

HRESULT Ombrix_RendererFilter::EndOfStream()
{
    SetEvent(m_hEndOfStream);
    return CBaseRenderer::EndOfStream();
}

HRESULT Ombrix_RendererFilter::EndFlush()
{
    ResetEvent(m_hEndOfStream);
    {
        CAutoLock lock(&m_TimeLock);
        RestartCount();
        m_bDiscarding = false;
    }
    return CBaseRenderer::EndFlush();
}
