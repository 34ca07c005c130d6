#include "BaseAllocator.h"

CBaseAllocator::CBaseAllocator(const char* name, IUnknown* outer, HRESULT*) : CUnknown(name, outer) {}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IMemAllocator)
        return GetInterface(static_cast<IMemAllocator*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseAllocator::CheckChangeable() const
{
    if (m_bCommitted)
        return VFW_E_ALREADY_COMMITTED;
    if (SamplesOutstanding())
        return VFW_E_BUFFERS_OUTSTANDING;
    return S_OK;
}

void CBaseAllocator::Store(const ALLOCATOR_PROPERTIES& granted, ALLOCATOR_PROPERTIES* actual)
{
    m_lCount = granted.cBuffers;
    m_lSize = granted.cbBuffer;
    m_lAlignment = granted.cbAlign;
    m_lPrefix = granted.cbPrefix;
    m_bChanged = TRUE;
    *actual = granted;
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual)
{
    if (!request || !actual)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    *actual = {};
    if (request->cbAlign != 1)
        return VFW_E_BADALIGN;
    if (const HRESULT hr = CheckChangeable(); FAILED(hr))
        return hr;
    Store(*request, actual);
    return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties)
{
    if (!properties)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    *properties = {m_lCount, m_lSize, m_lAlignment, m_lPrefix};
    return S_OK;
}

HRESULT CBaseAllocator::Alloc()
{
    if (m_lCount <= 0 || m_lSize <= 0 || m_lAlignment <= 0)
        return VFW_E_SIZENOTSET;
    return S_OK;
}

HRESULT CBaseAllocator::Commit()
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (m_bCommitted)
            return S_OK;
        if (m_bDecommitInProgress) {
            // The samples still out are taken back into use with the reference that stayed.
            m_bDecommitInProgress = FALSE;
            m_bCommitted = TRUE;
            return S_OK;
        }
        const HRESULT hr = Alloc();
        if (FAILED(hr))
            return hr;
        m_bCommitted = TRUE;
    }
    AddRef();
    return S_OK;
}

HRESULT CBaseAllocator::Decommit()
{
    bool release = false;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (!m_bCommitted && !m_bDecommitInProgress)
            return S_OK;
        m_bCommitted = FALSE;
        m_bDecommitInProgress = SamplesOutstanding();
        if (!m_bDecommitInProgress) {
            Free();
            release = true;
        }
    }
    m_FreeChanged.notify_all();
    if (release)
        Release();
    return S_OK;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags)
{
    if (!sample)
        return E_POINTER;
    *sample = nullptr;
    std::unique_lock<std::mutex> lock(m_Lock);
    for (;;) {
        if (!m_bCommitted)
            return VFW_E_NOT_COMMITTED;
        if (!m_lFree.empty())
            break;
        if (flags & AM_GBF_NOWAIT)
            return VFW_E_TIMEOUT;
        m_FreeChanged.wait(lock);
    }
    CMediaSample* free = m_lFree.back();
    m_lFree.pop_back();
    free->SetHandedOut();
    *sample = free;
    return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* sample)
{
    if (!sample)
        return E_POINTER;
    bool release = false;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_lFree.push_back(static_cast<CMediaSample*>(sample));
        if (m_bDecommitInProgress && !SamplesOutstanding()) {
            Free();
            m_bDecommitInProgress = FALSE;
            release = true;
        }
    }
    m_FreeChanged.notify_all();
    if (release)
        Release();
    return S_OK;
}
