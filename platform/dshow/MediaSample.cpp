#include "MediaSample.h"

CMediaSample::CMediaSample(const char*, IMemAllocator* allocator, HRESULT*, BYTE* buffer, LONG length)
    : m_pAllocator(allocator), m_pBuffer(buffer), m_cbBuffer(length), m_lActual(length)
{
}

CMediaSample::~CMediaSample() { DeleteMediaType(m_pMediaType); }

HRESULT CMediaSample::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IMediaSample || iid == IID_IUnknown)
        return GetInterface(static_cast<IMediaSample*>(this), object);
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return ULONG(++m_cRef); }

ULONG CMediaSample::Release()
{
    const LONG count = --m_cRef;
    if (count == 0) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
        m_dwFlags = 0;
        m_pAllocator->ReleaseBuffer(this);
    }
    return ULONG(count);
}

HRESULT CMediaSample::GetPointer(BYTE** buffer)
{
    if (!buffer)
        return E_POINTER;
    *buffer = m_pBuffer;
    return S_OK;
}

LONG CMediaSample::GetSize() { return m_cbBuffer; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end)
{
    if (!(m_dwFlags & TimeValid))
        return VFW_E_SAMPLE_TIME_NOT_SET;
    if (!start || !end)
        return E_POINTER;
    *start = m_Start;
    if (!(m_dwFlags & StopValid)) {
        *end = m_Start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *end = m_End;
    return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end)
{
    m_dwFlags &= ~(TimeValid | StopValid);
    if (start) {
        m_Start = *start;
        m_dwFlags |= TimeValid;
        if (end) {
            m_End = *end;
            m_dwFlags |= StopValid;
        }
    }
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return Flag(SyncPoint); }

HRESULT CMediaSample::SetSyncPoint(BOOL syncPoint)
{
    SetFlag(SyncPoint, syncPoint);
    return S_OK;
}

HRESULT CMediaSample::IsPreroll() { return Flag(Preroll); }

HRESULT CMediaSample::SetPreroll(BOOL preroll)
{
    SetFlag(Preroll, preroll);
    return S_OK;
}

HRESULT CMediaSample::IsDiscontinuity() { return Flag(Discontinuity); }

HRESULT CMediaSample::SetDiscontinuity(BOOL discontinuity)
{
    SetFlag(Discontinuity, discontinuity);
    return S_OK;
}

LONG CMediaSample::GetActualDataLength() { return m_lActual; }

HRESULT CMediaSample::SetActualDataLength(LONG length)
{
    if (length < 0 || length > m_cbBuffer)
        return VFW_E_BUFFER_OVERFLOW;
    m_lActual = length;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** type)
{
    if (!type)
        return E_POINTER;
    if (!m_pMediaType) {
        *type = nullptr;
        return S_FALSE;
    }
    *type = CreateMediaType(m_pMediaType);
    return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* type)
{
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
    if (!type)
        return S_OK;
    m_pMediaType = CreateMediaType(type);
    return m_pMediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end)
{
    if (!start || !end)
        return E_POINTER;
    if (!(m_dwFlags & MediaTimeValid))
        return VFW_E_MEDIA_TIME_NOT_SET;
    *start = m_MediaStart;
    *end = m_MediaStart + m_MediaEnd;
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end)
{
    if (!start) {
        if (end)
            return E_POINTER;
        m_dwFlags &= ~MediaTimeValid;
        return S_OK;
    }
    if (!end)
        return E_POINTER;
    m_MediaStart = *start;
    m_MediaEnd = LONG(*end - *start);
    m_dwFlags |= MediaTimeValid;
    return S_OK;
}
