// The sample pool shared by allocators: commit and decommit, handing out and taking back samples.
// Derived classes make the samples (Alloc) and free their memory (Free).
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "MediaSample.h"

class CBaseAllocator : public CUnknown, public IMemAllocator {
public:
    CBaseAllocator(const char* name, IUnknown* outer, HRESULT* result);
    ~CBaseAllocator() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // Takes buffers of one byte alignment only; derived allocators allow more.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) override;
    // While committed the allocator holds a reference on itself, kept until the last sample
    // handed out comes back.
    HRESULT Commit() override;
    // Wakes every thread waiting in GetBuffer; they fail with VFW_E_NOT_COMMITTED.
    HRESULT Decommit() override;
    // Times are not used. Waits for a free sample unless AM_GBF_NOWAIT is given (VFW_E_TIMEOUT).
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
    HRESULT ReleaseBuffer(IMediaSample* sample) override;

protected:
    // Makes the samples for the current properties: VFW_E_SIZENOTSET when they are not set.
    virtual HRESULT Alloc();
    // Called with the lock held once every sample is back and the allocator is decommitted.
    virtual void Free() = 0;
    // Checks shared by SetProperties: committed, or samples still out. Lock held.
    HRESULT CheckChangeable() const;
    // Takes granted properties as the ones the next Commit makes samples for. Lock held.
    void Store(const ALLOCATOR_PROPERTIES& granted, ALLOCATOR_PROPERTIES* actual);
    BOOL SamplesOutstanding() const { return LONG(m_lFree.size()) < m_lAllocated; }

    std::mutex m_Lock;
    std::vector<CMediaSample*> m_lFree;  // used last in, first out
    LONG m_lAllocated = 0;               // samples made
    LONG m_lCount = 0;
    LONG m_lSize = 0;
    LONG m_lAlignment = 0;
    LONG m_lPrefix = 0;
    BOOL m_bChanged = FALSE;  // properties set since the samples were made

private:
    std::condition_variable m_FreeChanged;
    BOOL m_bCommitted = FALSE;
    BOOL m_bDecommitInProgress = FALSE;
};
