#include "DVMux.h"

#include <cstdlib>

#include "DvInfo.h"

namespace {

DWORD RateOf(const CMediaType& type) { return reinterpret_cast<const WAVEFORMATEX*>(type.Format())->nSamplesPerSec; }

}  // namespace

CUnknown* DVMux::CreateInstance(IUnknown* outer, HRESULT* result)
{
    *result = S_OK;
    return new DVMux(outer);
}

DVMux::DVMux(IUnknown* outer) : CBaseFilter("DV Mux", outer, &m_Lock, CLSID_DVMux)
{
    HRESULT hr = S_OK;
    m_Video = std::make_unique<DVMuxInputPin>(this, &m_Lock, &hr, true);
    m_Audio = std::make_unique<DVMuxInputPin>(this, &m_Lock, &hr, false);
    m_Output = std::make_unique<DVMuxOutputPin>(this, &m_Lock, &hr);
}

DVMux::~DVMux() = default;

int DVMux::GetPinCount() { return 3; }

CBasePin* DVMux::GetPin(int n)
{
    switch (n) {
    case 0:
        return m_Video.get();
    case 1:
        return m_Audio.get();
    case 2:
        return m_Output.get();
    default:
        return nullptr;
    }
}

bool DVMux::Pal() const
{
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(m_Video->CurrentMediaType().Format());
    return std::abs(info->bmiHeader.biHeight) == 576;
}

size_t DVMux::FrameSize() const { return m_Video->IsConnected() && Pal() ? 144000 : 120000; }

bool DVMux::TakesAudio(DWORD rate) const
{
    return !m_Video->IsConnected() || Pal() || rate == 48000;
}

bool DVMux::OutputType(CMediaType* type)
{
    CAutoLock lock(&m_Lock);
    if (!m_Video->IsConnected())
        return false;
    const DVINFO info = DvInfoFor(Pal(), m_Audio->IsConnected() ? RateOf(m_Audio->CurrentMediaType()) : 48000);
    type->InitMediaType();
    type->SetType(&MEDIATYPE_Interleaved);
    type->SetSubtype(&MEDIASUBTYPE_dvsd);
    type->SetFormatType(&FORMAT_DvInfo);
    type->SetFormat(reinterpret_cast<const BYTE*>(&info), sizeof info);
    type->SetSampleSize(ULONG(FrameSize()));
    return true;
}

HRESULT DVMux::Pause()
{
    CAutoLock lock(&m_Lock);
    if (m_State == State_Stopped) {
        std::lock_guard<std::mutex> writing(m_WriteLock);
        m_Delivered = 0;
        m_bEnded = false;
        m_Muxer.reset();
        if (m_Video->IsConnected() && m_Audio->IsConnected()) {
            m_Muxer = std::make_unique<DvFrameMuxer>(Pal(), int(RateOf(m_Audio->CurrentMediaType())),
                                                     [this](const BYTE* frame, size_t size) { return DeliverFrame(frame, size); });
            if (!m_Muxer->Valid())
                return E_FAIL;
        }
    }
    return CBaseFilter::Pause();
}

HRESULT DVMux::Stop()
{
    CAutoLock lock(&m_Lock);
    {
        std::lock_guard<std::mutex> writing(m_WriteLock);
        m_Muxer.reset();
    }
    return CBaseFilter::Stop();
}

HRESULT DVMux::Receive(DVMuxInputPin* pin, IMediaSample* sample)
{
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const size_t size = size_t(sample->GetActualDataLength());
    std::lock_guard<std::mutex> lock(m_WriteLock);
    if (m_bEnded)
        return VFW_E_WRONG_STATE;
    if (!pin->IsVideo())
        return m_Muxer ? m_Muxer->Audio(data, size) : S_OK;
    if (size != FrameSize())
        return E_INVALIDARG;
    return m_Muxer ? m_Muxer->Video(data, size) : DeliverFrame(data, size);
}

HRESULT DVMux::DeliverFrame(const BYTE* frame, size_t size)
{
    IMediaSample* sample = nullptr;
    if (const HRESULT hr = m_Output->GetDeliveryBuffer(&sample, nullptr, nullptr, 0); FAILED(hr))
        return hr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    memcpy(data, frame, size);
    sample->SetActualDataLength(LONG(size));
    // NTSC frames last 1001/30000 s: 1001000/3 units.
    REFERENCE_TIME start = Pal() ? m_Delivered * 400000 : m_Delivered * 1001000 / 3;
    REFERENCE_TIME stop = Pal() ? (m_Delivered + 1) * 400000 : (m_Delivered + 1) * 1001000 / 3;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(m_Delivered == 0);
    m_Delivered++;
    const HRESULT hr = m_Output->Deliver(sample);
    sample->Release();
    return hr;
}

HRESULT DVMux::EndOfStream(DVMuxInputPin* pin)
{
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> lock(m_WriteLock);
        pin->SetEnded();
        for (const DVMuxInputPin* input : {m_Video.get(), m_Audio.get()})
            if (input->IsConnected() && !input->Ended())
                return S_OK;
        if (m_bEnded)
            return S_OK;
        m_bEnded = true;
        if (m_Muxer)
            hr = m_Muxer->Finish();
    }
    const HRESULT ended = m_Output->DeliverEndOfStream();
    return FAILED(hr) ? hr : ended;
}
