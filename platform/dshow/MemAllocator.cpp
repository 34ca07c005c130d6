#include "MemAllocator.h"

#include <new>

namespace {
constexpr LONG AllocationGranularity = 65536;
}

CMemAllocator::CMemAllocator(const char* name, IUnknown* outer, HRESULT* result) : CBaseAllocator(name, outer, result) {}

CMemAllocator::~CMemAllocator() { ReallyFree(); }

CUnknown* CMemAllocator::CreateInstance(IUnknown* outer, HRESULT* result)
{
    return new CMemAllocator("CMemAllocator", outer, result);
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual)
{
    if (!request || !actual)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    *actual = {};
    const LONG align = request->cbAlign;
    if (align <= 0 || align > AllocationGranularity || (AllocationGranularity % align) != 0)
        return VFW_E_BADALIGN;
    if (const HRESULT hr = CheckChangeable(); FAILED(hr))
        return hr;
    const long long whole = (long long)request->cbBuffer + request->cbPrefix;
    const long long rounded = (whole + align - 1) / align * align;
    if (rounded > 0x7FFFFFFF)
        return E_OUTOFMEMORY;
    Store({request->cBuffers, LONG(rounded - request->cbPrefix), align, request->cbPrefix}, actual);
    return S_OK;
}

HRESULT CMemAllocator::Alloc()
{
    HRESULT hr = CBaseAllocator::Alloc();
    if (FAILED(hr))
        return hr;
    if (m_pBuffer && !m_bChanged)
        return S_OK;
    ReallyFree();
    const size_t unit = size_t(m_lSize) + size_t(m_lPrefix);
    const size_t alignedUnit = (unit + m_lAlignment - 1) / m_lAlignment * m_lAlignment;
    const size_t blockAlignment = m_lAlignment < 16 ? 16 : size_t(m_lAlignment);
    m_pBuffer = static_cast<BYTE*>(::operator new(alignedUnit * m_lCount, std::align_val_t(blockAlignment), std::nothrow));
    if (!m_pBuffer)
        return E_OUTOFMEMORY;
    m_BlockAlignment = blockAlignment;
    for (LONG i = 0; i < m_lCount; ++i) {
        m_lFree.push_back(new CMediaSample("CMediaSample", this, &hr, m_pBuffer + i * alignedUnit + m_lPrefix, m_lSize));
        ++m_lAllocated;
    }
    m_bChanged = FALSE;
    return S_OK;
}

void CMemAllocator::ReallyFree()
{
    for (CMediaSample* sample : m_lFree)
        delete sample;
    m_lFree.clear();
    m_lAllocated = 0;
    if (m_pBuffer)
        ::operator delete(m_pBuffer, std::align_val_t(m_BlockAlignment));
    m_pBuffer = nullptr;
}
