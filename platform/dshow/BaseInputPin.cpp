#include "BaseInputPin.h"

#include "MemAllocator.h"

CBaseInputPin::CBaseInputPin(const char* name, CBaseFilter* filter, CCritSec* lock, HRESULT* result, LPCWSTR pinName)
    : CBasePin(name, filter, lock, result, pinName, PINDIR_INPUT)
{
}

CBaseInputPin::~CBaseInputPin() { SafeRelease(m_pAllocator); }

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IMemInputPin)
        return GetInterface(static_cast<IMemInputPin*>(this), object);
    return CBasePin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator)
{
    if (!allocator)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_pAllocator) {
        HRESULT hr = S_OK;
        m_pAllocator = new CMemAllocator("CMemAllocator", nullptr, &hr);
        m_pAllocator->AddRef();
    }
    return GetInterface(m_pAllocator, reinterpret_cast<void**>(allocator));
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly)
{
    if (!allocator)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    allocator->AddRef();
    SafeRelease(m_pAllocator);
    m_pAllocator = allocator;
    m_bReadOnly = readOnly;
    return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming()
{
    if (IsStopped())
        return VFW_E_WRONG_STATE;
    if (m_bFlushing)
        return S_FALSE;
    if (m_bRunTimeError)
        return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample)
{
    if (!sample)
        return E_POINTER;
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK) {
        const bool accepted = CheckMediaType(static_cast<CMediaType*>(changed)) == S_OK;
        DeleteMediaType(changed);
        if (!accepted) {
            m_bRunTimeError = true;
            EndOfStream();
            m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed)
{
    if (!samples || !processed)
        return E_POINTER;
    HRESULT hr = S_OK;
    *processed = 0;
    while (*processed < count && (hr = Receive(samples[*processed])) == S_OK)
        ++*processed;
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock()
{
    int outputs = 0;
    for (int i = 0; i < m_pFilter->GetPinCount(); ++i) {
        CBasePin* pin = m_pFilter->GetPin(i);
        if (!pin || pin->Direction() != PINDIR_OUTPUT)
            continue;
        IPin* peer = pin->GetConnected();
        if (!peer)
            continue;
        ++outputs;
        IMemInputPin* input = nullptr;
        if (SUCCEEDED(peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input)))) {
            const HRESULT hr = input->ReceiveCanBlock();
            input->Release();
            if (hr != S_FALSE)
                return S_OK;
        } else {
            return S_OK;
        }
    }
    return outputs == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush()
{
    CAutoLock lock(m_pLock);
    m_bFlushing = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush()
{
    CAutoLock lock(m_pLock);
    m_bFlushing = false;
    m_bRunTimeError = false;
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect()
{
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        SafeRelease(m_pAllocator);
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive()
{
    m_bRunTimeError = false;
    if (!m_pAllocator)
        return VFW_E_NO_ALLOCATOR;
    m_bFlushing = false;
    return m_pAllocator->Decommit();
}
