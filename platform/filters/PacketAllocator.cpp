#include "PacketAllocator.h"

HRESULT PacketAllocator::Enlarge(LONG size)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (size <= m_lSize)
        return S_OK;
    if (SamplesOutstanding())
        return VFW_E_BUFFERS_OUTSTANDING;
    const long long whole = (long long)size + m_lPrefix;
    const long long rounded = (whole + m_lAlignment - 1) / m_lAlignment * m_lAlignment;
    if (rounded > 0x7FFFFFFF)
        return E_OUTOFMEMORY;
    m_lSize = LONG(rounded - m_lPrefix);
    m_bChanged = TRUE;
    // Every sample is free: they are made anew at the new size, committed or not.
    return Alloc();
}

HRESULT RequestBuffers(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& request, LONG count, LONG size)
{
    ALLOCATOR_PROPERTIES asked = request, granted;
    asked.cBuffers = count;
    asked.cbBuffer = size;
    if (asked.cbAlign <= 0)
        asked.cbAlign = 1;
    const HRESULT hr = allocator->SetProperties(&asked, &granted);
    if (FAILED(hr))
        return hr;
    return granted.cBuffers >= count && granted.cbBuffer >= size ? S_OK : E_FAIL;
}
