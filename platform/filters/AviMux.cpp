#include "AviMux.h"

#include <algorithm>
#include <cwchar>

CUnknown* AviMux::CreateInstance(IUnknown* outer, HRESULT* result)
{
    *result = S_OK;
    return new AviMux(outer, AviLimits());
}

AviMux::AviMux(IUnknown* outer, AviLimits limits)
    : CBaseFilter("AVI Mux", outer, &m_Lock, CLSID_AviDest), m_Limits(limits)
{
    HRESULT hr = S_OK;
    m_Output = std::make_unique<AviMuxOutputPin>(this, &m_Lock, &hr);
    InputConnected();
}

AviMux::~AviMux() = default;

HRESULT AviMux::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IConfigAviMux)
        return GetInterface(static_cast<IConfigAviMux*>(this), object);
    if (iid == IID_IConfigInterleaving)
        return GetInterface(static_cast<IConfigInterleaving*>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

int AviMux::GetPinCount()
{
    std::lock_guard<std::mutex> lock(m_PinsLock);
    return 1 + int(m_Inputs.size());
}

CBasePin* AviMux::GetPin(int n)
{
    std::lock_guard<std::mutex> lock(m_PinsLock);
    if (n == 0)
        return m_Output.get();
    return n > 0 && size_t(n) <= m_Inputs.size() ? m_Inputs[size_t(n) - 1].get() : nullptr;
}

void AviMux::InputConnected()
{
    std::lock_guard<std::mutex> lock(m_PinsLock);
    if (std::any_of(m_Inputs.begin(), m_Inputs.end(), [](const auto& pin) { return !pin->IsConnected(); }))
        return;
    wchar_t name[16];
    swprintf(name, 16, L"Input %02u", unsigned(m_Inputs.size() + 1));
    HRESULT hr = S_OK;
    m_Inputs.push_back(std::make_unique<AviMuxInputPin>(this, &m_Lock, &hr, name));
    IncrementPinVersion();
}

HRESULT AviMux::Pause()
{
    CAutoLock lock(&m_Lock);
    if (m_State == State_Stopped)
        if (const HRESULT hr = StartFile(); FAILED(hr))
            return hr;
    return CBaseFilter::Pause();
}

HRESULT AviMux::StartFile()
{
    std::lock_guard<std::mutex> lock(m_WriteLock);
    m_File.reset();
    m_Streams.clear();
    m_bFinished = false;
    m_bReported = false;
    if (!m_Output->IsConnected())
        return S_OK;
    std::vector<AviStream> streams;
    for (int n = 1; n < GetPinCount(); n++) {
        auto* pin = static_cast<AviMuxInputPin*>(GetPin(n));
        if (!pin->IsConnected())
            continue;
        streams.emplace_back(pin->CurrentMediaType(), unsigned(m_Streams.size()));
        m_Streams.push_back(pin);
    }
    const bool framed = std::any_of(streams.begin(), streams.end(), [](const AviStream& s) { return s.HasFrames(); });
    m_Refusing.clear();
    for (const AviStream& s : streams)
        m_Refusing.push_back(s.HasFrames() || !framed);
    m_File = std::make_unique<OpenDmlWriter>(std::move(streams), *m_Output, m_bOldIndex, m_Limits);
    const HRESULT hr = m_File->Start();
    m_bFinished = FAILED(hr);
    return hr;
}

HRESULT AviMux::Run(REFERENCE_TIME start)
{
    CAutoLock lock(&m_Lock);
    const HRESULT hr = CBaseFilter::Run(start);
    if (FAILED(hr))
        return hr;
    bool ended;
    {
        std::lock_guard<std::mutex> writing(m_WriteLock);
        ended = m_Streams.empty() && FinishFile();
    }
    if (ended)
        m_Output->DeliverEndOfStream();
    return hr;
}

HRESULT AviMux::Stop()
{
    CAutoLock lock(&m_Lock);
    {
        std::lock_guard<std::mutex> writing(m_WriteLock);
        FinishFile();
        m_File.reset();
    }
    return CBaseFilter::Stop();
}

bool AviMux::FinishFile()
{
    if (!m_File || m_bFinished)
        return false;
    m_bFinished = true;
    m_File->Finish();
    return true;
}

int AviMux::StreamOf(const AviMuxInputPin* pin) const
{
    const auto found = std::find(m_Streams.begin(), m_Streams.end(), pin);
    return found == m_Streams.end() ? -1 : int(found - m_Streams.begin());
}

HRESULT AviMux::Receive(AviMuxInputPin* pin, IMediaSample* sample)
{
    std::lock_guard<std::mutex> lock(m_WriteLock);
    const int stream = StreamOf(pin);
    if (!m_File || m_bFinished || stream < 0)
        return VFW_E_WRONG_STATE;
    const HRESULT hr = m_File->Write(size_t(stream), sample);
    if (SUCCEEDED(hr))
        return hr;
    if (!m_bReported) {
        // The graph's wait ends here, whether the sources end their streams or not.
        m_bReported = true;
        NotifyEvent(EC_ERRORABORT, hr, 0);
    }
    return m_Refusing[size_t(stream)] ? hr : S_OK;
}

HRESULT AviMux::EndOfStream(AviMuxInputPin* pin)
{
    bool ended;
    {
        std::lock_guard<std::mutex> lock(m_WriteLock);
        pin->SetEnded();
        ended = std::all_of(m_Streams.begin(), m_Streams.end(), [](const AviMuxInputPin* p) { return p->Ended(); }) &&
                FinishFile();
    }
    return ended ? m_Output->DeliverEndOfStream() : S_OK;
}

HRESULT AviMux::SetMasterStream(LONG stream)
{
    if (stream < -1)
        return E_INVALIDARG;
    CAutoLock lock(&m_Lock);
    m_MasterStream = stream;
    return S_OK;
}

HRESULT AviMux::GetMasterStream(LONG* stream)
{
    if (!stream)
        return E_POINTER;
    CAutoLock lock(&m_Lock);
    *stream = m_MasterStream;
    return S_OK;
}

HRESULT AviMux::SetOutputCompatibilityIndex(BOOL oldIndex)
{
    CAutoLock lock(&m_Lock);
    m_bOldIndex = oldIndex;
    return S_OK;
}

HRESULT AviMux::GetOutputCompatibilityIndex(BOOL* oldIndex)
{
    if (!oldIndex)
        return E_POINTER;
    CAutoLock lock(&m_Lock);
    *oldIndex = m_bOldIndex;
    return S_OK;
}

HRESULT AviMux::put_Mode(InterleavingMode mode)
{
    if (unsigned(mode) > INTERLEAVE_NONE_BUFFERED)
        return E_INVALIDARG;
    CAutoLock lock(&m_Lock);
    m_Mode = mode;
    return S_OK;
}

HRESULT AviMux::get_Mode(InterleavingMode* mode)
{
    if (!mode)
        return E_POINTER;
    CAutoLock lock(&m_Lock);
    *mode = m_Mode;
    return S_OK;
}

HRESULT AviMux::put_Interleaving(const REFERENCE_TIME* interleave, const REFERENCE_TIME* preroll)
{
    if (!interleave || !preroll)
        return E_POINTER;
    CAutoLock lock(&m_Lock);
    m_Interleave = *interleave;
    m_Preroll = *preroll;
    return S_OK;
}

HRESULT AviMux::get_Interleaving(REFERENCE_TIME* interleave, REFERENCE_TIME* preroll)
{
    if (!interleave || !preroll)
        return E_POINTER;
    CAutoLock lock(&m_Lock);
    *interleave = m_Interleave;
    *preroll = m_Preroll;
    return S_OK;
}
