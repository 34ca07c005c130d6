#include "BaseFilter.h"

#include <cwchar>

#include "BasePin.h"
#include "EnumPins.h"

CBaseFilter::CBaseFilter(const char* name, IUnknown* outer, CCritSec* lock, REFCLSID clsid)
    : CUnknown(name, outer), m_pLock(lock), m_clsid(clsid)
{
}

CBaseFilter::~CBaseFilter() { SafeRelease(m_pClock); }

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IBaseFilter)
        return GetInterface(static_cast<IBaseFilter*>(this), object);
    if (iid == IID_IMediaFilter)
        return GetInterface(static_cast<IMediaFilter*>(this), object);
    if (iid == IID_IPersist)
        return GetInterface(static_cast<IPersist*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseFilter::GetClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop()
{
    CAutoLock lock(m_pLock);
    HRESULT hr = S_OK;
    if (m_State != State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin)
                break;
            if (pin->IsConnected()) {
                const HRESULT pinResult = pin->Inactive();
                if (FAILED(pinResult) && SUCCEEDED(hr))
                    hr = pinResult;
            }
        }
    }
    m_State = State_Stopped;
    return hr;
}

HRESULT CBaseFilter::Pause()
{
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin)
                break;
            if (pin->IsConnected())
                if (const HRESULT hr = pin->Active(); FAILED(hr))
                    return hr;
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start)
{
    CAutoLock lock(m_pLock);
    m_tStart = start;
    if (m_State == State_Stopped)
        if (const HRESULT hr = Pause(); FAILED(hr))
            return hr;
    if (m_State != State_Running) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin)
                break;
            if (pin->IsConnected())
                if (const HRESULT hr = pin->Run(start); FAILED(hr))
                    return hr;
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state)
{
    if (!state)
        return E_POINTER;
    *state = m_State;
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock)
{
    CAutoLock lock(m_pLock);
    if (clock)
        clock->AddRef();
    SafeRelease(m_pClock);
    m_pClock = clock;
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock)
{
    if (!clock)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    *clock = m_pClock;
    if (m_pClock)
        m_pClock->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = new CEnumPins(this, nullptr);
    (*enumerator)->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pin)
{
    if (!id || !pin)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* candidate = GetPin(i);
        if (!candidate)
            break;
        LPWSTR candidateId = nullptr;
        if (SUCCEEDED(candidate->QueryId(&candidateId))) {
            const bool same = std::wcscmp(candidateId, id) == 0;
            CoTaskMemFree(candidateId);
            if (same)
                return GetInterface(static_cast<IPin*>(candidate), reinterpret_cast<void**>(pin));
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info)
{
    if (!info)
        return E_POINTER;
    const size_t length = m_Name.size() < MAX_FILTER_NAME - 1 ? m_Name.size() : MAX_FILTER_NAME - 1;
    std::wmemcpy(info->achName, m_Name.c_str(), length);
    info->achName[length] = 0;
    info->pGraph = m_pGraph;
    if (m_pGraph)
        m_pGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    CAutoLock lock(m_pLock);
    m_pGraph = graph;
    IMediaEventSink* sink = nullptr;
    if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))))
        sink->Release();
    m_pSink = sink;
    m_Name = name ? name : L"";
    return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    IMediaEventSink* sink = m_pSink;
    if (!sink)
        return E_NOTIMPL;
    if (code == EC_COMPLETE)
        param2 = LONG_PTR(static_cast<IBaseFilter*>(this));
    return sink->Notify(code, param1, param2);
}
