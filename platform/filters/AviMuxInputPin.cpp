#include "AviMuxInputPin.h"

#include "AviMux.h"
#include "AviStream.h"

AviMuxInputPin::AviMuxInputPin(AviMux* mux, CCritSec* lock, HRESULT* result, LPCWSTR name)
    : CBaseInputPin("AviMuxInputPin", mux, lock, result, name), m_pMux(mux)
{
}

HRESULT AviMuxInputPin::CheckMediaType(const CMediaType* type)
{
    return AviStream::Accepts(*type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AviMuxInputPin::CompleteConnect(IPin* pin)
{
    const HRESULT hr = CBaseInputPin::CompleteConnect(pin);
    if (SUCCEEDED(hr))
        m_pMux->InputConnected();
    return hr;
}

HRESULT AviMuxInputPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = CBaseInputPin::Receive(sample);
    return hr == S_OK ? m_pMux->Receive(this, sample) : hr;
}

HRESULT AviMuxInputPin::EndOfStream()
{
    if (IsStopped() || IsFlushing())
        return VFW_E_WRONG_STATE;
    return m_pMux->EndOfStream(this);
}

HRESULT AviMuxInputPin::Active()
{
    m_bEnded = false;
    return CBaseInputPin::Active();
}
