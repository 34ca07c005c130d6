#include "PosPassThru.h"

CPosPassThru::CPosPassThru(const char* name, IUnknown* outer, HRESULT*, IPin* pin) : CUnknown(name, outer), m_pPin(pin) {}

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IMediaSeeking)
        return GetInterface(static_cast<IMediaSeeking*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

template <class Call>
HRESULT CPosPassThru::Forward(Call call)
{
    IPin* peer = nullptr;
    if (FAILED(m_pPin->ConnectedTo(&peer)))
        return E_NOTIMPL;
    IMediaSeeking* seeking = nullptr;
    const HRESULT found = peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking));
    peer->Release();
    if (FAILED(found))
        return E_NOTIMPL;
    const HRESULT hr = call(seeking);
    seeking->Release();
    return hr;
}

HRESULT CPosPassThru::GetCapabilities(DWORD* capabilities)
{
    return Forward([&](IMediaSeeking* s) { return s->GetCapabilities(capabilities); });
}

HRESULT CPosPassThru::CheckCapabilities(DWORD* capabilities)
{
    return Forward([&](IMediaSeeking* s) { return s->CheckCapabilities(capabilities); });
}

HRESULT CPosPassThru::IsFormatSupported(const GUID* format)
{
    return Forward([&](IMediaSeeking* s) { return s->IsFormatSupported(format); });
}

HRESULT CPosPassThru::QueryPreferredFormat(GUID* format)
{
    return Forward([&](IMediaSeeking* s) { return s->QueryPreferredFormat(format); });
}

HRESULT CPosPassThru::GetTimeFormat(GUID* format)
{
    return Forward([&](IMediaSeeking* s) { return s->GetTimeFormat(format); });
}

HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* format)
{
    return Forward([&](IMediaSeeking* s) { return s->IsUsingTimeFormat(format); });
}

HRESULT CPosPassThru::SetTimeFormat(const GUID* format)
{
    return Forward([&](IMediaSeeking* s) { return s->SetTimeFormat(format); });
}

HRESULT CPosPassThru::GetDuration(LONGLONG* duration)
{
    return Forward([&](IMediaSeeking* s) { return s->GetDuration(duration); });
}

HRESULT CPosPassThru::GetStopPosition(LONGLONG* stop)
{
    return Forward([&](IMediaSeeking* s) { return s->GetStopPosition(stop); });
}

HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* current)
{
    if (!current)
        return E_POINTER;
    LONGLONG end;
    if (SUCCEEDED(GetMediaTime(current, &end)))
        return S_OK;
    return Forward([&](IMediaSeeking* s) { return s->GetCurrentPosition(current); });
}

HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                        const GUID* sourceFormat)
{
    return Forward([&](IMediaSeeking* s) { return s->ConvertTimeFormat(target, targetFormat, source, sourceFormat); });
}

HRESULT CPosPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags)
{
    return Forward([&](IMediaSeeking* s) { return s->SetPositions(current, currentFlags, stop, stopFlags); });
}

HRESULT CPosPassThru::GetPositions(LONGLONG* current, LONGLONG* stop)
{
    return Forward([&](IMediaSeeking* s) { return s->GetPositions(current, stop); });
}

HRESULT CPosPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest)
{
    return Forward([&](IMediaSeeking* s) { return s->GetAvailable(earliest, latest); });
}

HRESULT CPosPassThru::SetRate(double rate)
{
    return Forward([&](IMediaSeeking* s) { return s->SetRate(rate); });
}

HRESULT CPosPassThru::GetRate(double* rate)
{
    return Forward([&](IMediaSeeking* s) { return s->GetRate(rate); });
}

HRESULT CPosPassThru::GetPreroll(LONGLONG* preroll)
{
    return Forward([&](IMediaSeeking* s) { return s->GetPreroll(preroll); });
}

CRendererPosPassThru::CRendererPosPassThru(const char* name, IUnknown* outer, HRESULT* result, IPin* pin)
    : CPosPassThru(name, outer, result, pin)
{
}

HRESULT CRendererPosPassThru::RegisterMediaTime(IMediaSample* sample)
{
    REFERENCE_TIME start, end;
    CAutoLock lock(&m_PositionLock);
    const HRESULT hr = sample->GetTime(&start, &end);
    if (FAILED(hr))
        return hr;
    m_StartMedia = start;
    m_EndMedia = end;
    m_bReset = false;
    return S_OK;
}

HRESULT CRendererPosPassThru::ResetMediaTime()
{
    CAutoLock lock(&m_PositionLock);
    m_StartMedia = m_EndMedia = 0;
    m_bReset = true;
    return S_OK;
}

HRESULT CRendererPosPassThru::EOS()
{
    {
        CAutoLock lock(&m_PositionLock);
        if (m_bReset)
            return E_FAIL;
    }
    LONGLONG stop;
    const HRESULT hr = GetStopPosition(&stop);
    if (SUCCEEDED(hr)) {
        CAutoLock lock(&m_PositionLock);
        m_StartMedia = m_EndMedia = stop;
    }
    return hr;
}

HRESULT CRendererPosPassThru::GetMediaTime(LONGLONG* start, LONGLONG* end)
{
    CAutoLock lock(&m_PositionLock);
    if (m_bReset)
        return E_FAIL;
    *start = m_StartMedia;
    if (end)
        *end = m_EndMedia;
    return S_OK;
}
