// A buffer of an allocator with its properties. Its count is its own: when the last reference
// goes, the sample forgets its properties and returns to its allocator.
#pragma once

#include <atomic>

#include "Strmif.h"

class CMediaSample : public IMediaSample {
public:
    CMediaSample(const char* name, IMemAllocator* allocator, HRESULT* result, BYTE* buffer, LONG length);
    virtual ~CMediaSample();
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetPointer(BYTE** buffer) override;
    LONG GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL syncPoint) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL preroll) override;
    LONG GetActualDataLength() override;
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** type) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL discontinuity) override;
    HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override;
    HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) override;

    // Called by the allocator as it hands the sample out.
    void SetHandedOut() { m_cRef = 1; }

private:
    enum : DWORD {
        SyncPoint = 0x1,
        Preroll = 0x2,
        Discontinuity = 0x4,
        TimeValid = 0x8,
        StopValid = 0x10,
        MediaTimeValid = 0x20,
    };
    HRESULT Flag(DWORD flag) const { return (m_dwFlags & flag) ? S_OK : S_FALSE; }
    void SetFlag(DWORD flag, BOOL on) { m_dwFlags = on ? (m_dwFlags | flag) : (m_dwFlags & ~flag); }

    IMemAllocator* const m_pAllocator;  // not counted: the allocator owns its samples
    BYTE* const m_pBuffer;
    const LONG m_cbBuffer;
    std::atomic<LONG> m_cRef{0};
    DWORD m_dwFlags = 0;
    LONG m_lActual;
    REFERENCE_TIME m_Start = 0;
    REFERENCE_TIME m_End = 0;
    LONGLONG m_MediaStart = 0;
    LONG m_MediaEnd = 0;  // offset from m_MediaStart
    AM_MEDIA_TYPE* m_pMediaType = nullptr;
};
