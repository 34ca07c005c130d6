#include "BasePin.h"

#include <cstring>
#include <cwchar>

#include "EnumMediaTypes.h"

namespace {

// Errors that say no more than "this type was refused".
bool IsPlainRefusal(HRESULT hr) { return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED; }

HRESULT RefusalOf(HRESULT check) { return SUCCEEDED(check) || IsPlainRefusal(check) ? VFW_E_TYPE_NOT_ACCEPTED : check; }

}  // namespace

HRESULT AMGetWideString(LPCWSTR text, LPWSTR* copy)
{
    if (!copy)
        return E_POINTER;
    const size_t bytes = (std::wcslen(text) + 1) * sizeof(WCHAR);
    *copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*copy)
        return E_OUTOFMEMORY;
    std::memcpy(*copy, text, bytes);
    return S_OK;
}

CBasePin::CBasePin(const char* name, CBaseFilter* filter, CCritSec* lock, HRESULT*, LPCWSTR pinName,
                   PIN_DIRECTION direction)
    : CUnknown(name, nullptr), m_pFilter(filter), m_pLock(lock), m_dir(direction), m_Name(pinName ? pinName : L"")
{
}

CBasePin::~CBasePin() = default;

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IPin)
        return GetInterface(static_cast<IPin*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

ULONG CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }

ULONG CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type)
{
    if (!receivePin)
        return E_POINTER;
    if (m_dir != PINDIR_OUTPUT)
        return E_UNEXPECTED;
    CAutoLock lock(m_pLock);
    if (m_Connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    const CMediaType* wanted = static_cast<const CMediaType*>(type);
    const HRESULT hr = AgreeMediaType(receivePin, wanted);
    if (FAILED(hr))
        BreakConnect();
    return hr;
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* type)
{
    if (type && !type->IsPartiallySpecified())
        return AttemptConnection(receivePin, type);
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        const bool ours = (pass == 0) == bool(m_bTryMyTypesFirst);
        IEnumMediaTypes* types = nullptr;
        const HRESULT listed = ours ? EnumMediaTypes(&types) : receivePin->EnumMediaTypes(&types);
        if (FAILED(listed))
            continue;
        const HRESULT hr = TryMediaTypes(receivePin, type, types);
        types->Release();
        if (SUCCEEDED(hr))
            return S_OK;
        if (hr != VFW_E_NO_ACCEPTABLE_TYPES && !IsPlainRefusal(hr))
            failure = hr;
    }
    return failure;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* type, IEnumMediaTypes* types)
{
    if (FAILED(types->Reset()))
        return VFW_E_NO_ACCEPTABLE_TYPES;
    HRESULT failure = S_OK;
    AM_MEDIA_TYPE* candidate = nullptr;
    ULONG fetched = 0;
    while (types->Next(1, &candidate, &fetched) == S_OK && fetched == 1) {
        const CMediaType* offered = static_cast<CMediaType*>(candidate);
        const bool fits = !type || offered->MatchesPartial(type);
        const HRESULT hr = fits ? AttemptConnection(receivePin, offered) : VFW_E_NO_ACCEPTABLE_TYPES;
        DeleteMediaType(candidate);
        if (SUCCEEDED(hr))
            return hr;
        if (failure == S_OK && hr != VFW_E_NO_ACCEPTABLE_TYPES && !IsPlainRefusal(hr))
            failure = hr;
    }
    return failure == S_OK ? VFW_E_NO_ACCEPTABLE_TYPES : failure;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* type)
{
    CAutoLock lock(m_pLock);
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const HRESULT check = CheckMediaType(type);
    if (check != S_OK) {
        BreakConnect();
        return RefusalOf(check);
    }
    m_Connected = receivePin;
    m_Connected->AddRef();
    hr = SetMediaType(type);
    if (SUCCEEDED(hr)) {
        hr = receivePin->ReceiveConnection(this, type);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(receivePin);
            if (SUCCEEDED(hr))
                return hr;
            receivePin->Disconnect();
        }
    }
    BreakConnect();
    SafeRelease(m_Connected);
    return hr;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type)
{
    if (!connector || !type)
        return E_POINTER;
    if (m_dir != PINDIR_INPUT)
        return E_UNEXPECTED;
    CAutoLock lock(m_pLock);
    if (m_Connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const CMediaType* offered = static_cast<const CMediaType*>(type);
    const HRESULT check = CheckMediaType(offered);
    if (check != S_OK) {
        BreakConnect();
        return RefusalOf(check);
    }
    m_Connected = connector;
    m_Connected->AddRef();
    hr = SetMediaType(offered);
    if (SUCCEEDED(hr))
        hr = CompleteConnect(connector);
    if (FAILED(hr)) {
        SafeRelease(m_Connected);
        BreakConnect();
    }
    return hr;
}

HRESULT CBasePin::Disconnect()
{
    CAutoLock lock(m_pLock);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    if (!m_Connected)
        return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr))
        return hr;
    SafeRelease(m_Connected);
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pin)
{
    if (!pin)
        return E_POINTER;
    *pin = m_Connected;
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    m_Connected->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_Connected) {
        *type = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(type, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info)
{
    if (!info)
        return E_POINTER;
    info->pFilter = m_pFilter;
    m_pFilter->AddRef();
    const size_t length = m_Name.size() < MAX_PIN_NAME - 1 ? m_Name.size() : MAX_PIN_NAME - 1;
    std::wmemcpy(info->achName, m_Name.c_str(), length);
    info->achName[length] = 0;
    info->dir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* direction)
{
    if (!direction)
        return E_POINTER;
    *direction = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) { return AMGetWideString(m_Name.c_str(), id); }

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    return CheckMediaType(static_cast<const CMediaType*>(type)) == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = new CEnumMediaTypes(this, nullptr);
    (*enumerator)->AddRef();
    return S_OK;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    m_tStart = start;
    m_tStop = stop;
    m_dRate = rate;
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* type) { return m_mt.Set(*type); }

HRESULT CBasePin::CheckConnect(IPin* pin)
{
    PIN_DIRECTION direction;
    const HRESULT hr = pin->QueryDirection(&direction);
    if (FAILED(hr))
        return hr;
    return direction == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }

HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }
