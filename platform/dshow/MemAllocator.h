// The allocator of ordinary memory: one block holding every buffer, each with its prefix and
// rounded to the alignment asked for.
#pragma once

#include "BaseAllocator.h"

class CMemAllocator : public CBaseAllocator {
public:
    CMemAllocator(const char* name, IUnknown* outer, HRESULT* result);
    ~CMemAllocator() override;
    // For CoCreateInstance of CLSID_MemoryAllocator.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    // The alignment must be a power of two up to 64 KiB (VFW_E_BADALIGN). The buffer size granted
    // is the request rounded so that prefix and buffer together fill whole alignment units.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;

protected:
    // Keeps the block when the properties did not change since it was made.
    HRESULT Alloc() override;
    // The memory stays until the properties change or the allocator goes.
    void Free() override {}

private:
    void ReallyFree();

    BYTE* m_pBuffer = nullptr;
    size_t m_BlockAlignment = 0;
};
