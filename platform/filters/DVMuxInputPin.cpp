#include "DVMuxInputPin.h"

#include <cstddef>
#include <cstdlib>

#include "DVMux.h"

DVMuxInputPin::DVMuxInputPin(DVMux* mux, CCritSec* lock, HRESULT* result, bool video)
    : CBaseInputPin("DVMuxInputPin", mux, lock, result, video ? L"Video" : L"Audio"), m_pMux(mux), m_bVideo(video)
{
}

HRESULT DVMuxInputPin::CheckMediaType(const CMediaType* type)
{
    bool accepted;
    if (m_bVideo) {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->Format());
        accepted = type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_dvsd &&
                   type->formattype == FORMAT_VideoInfo && type->FormatLength() >= sizeof(VIDEOINFOHEADER) &&
                   (std::abs(info->bmiHeader.biHeight) == 480 || std::abs(info->bmiHeader.biHeight) == 576);
    } else {
        const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type->Format());
        accepted = type->majortype == MEDIATYPE_Audio && type->subtype == MEDIASUBTYPE_PCM &&
                   type->formattype == FORMAT_WaveFormatEx && type->FormatLength() >= offsetof(WAVEFORMATEX, cbSize) &&
                   wave->wFormatTag == WAVE_FORMAT_PCM && wave->nChannels == 2 && wave->wBitsPerSample == 16 &&
                   (wave->nSamplesPerSec == 48000 || wave->nSamplesPerSec == 44100 || wave->nSamplesPerSec == 32000) &&
                   m_pMux->TakesAudio(wave->nSamplesPerSec);
    }
    return accepted ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT DVMuxInputPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = CBaseInputPin::Receive(sample);
    return hr == S_OK ? m_pMux->Receive(this, sample) : hr;
}

HRESULT DVMuxInputPin::EndOfStream()
{
    if (IsStopped() || IsFlushing())
        return VFW_E_WRONG_STATE;
    return m_pMux->EndOfStream(this);
}

HRESULT DVMuxInputPin::Active()
{
    m_bEnded = false;
    return CBaseInputPin::Active();
}
