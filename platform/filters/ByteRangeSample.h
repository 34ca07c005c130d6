// A sample for a file sink that writes each sample at the byte position its times give: start is
// the file offset, stop the offset after its last byte. It carries bytes of its own, or lends the
// buffer of another sample, which it holds until it goes, so that the bytes reach the file without
// a copy.
#pragma once

#include <atomic>
#include <vector>

#include "platform/dshow/MediaSample.h"

class ByteRangeSample final : public CMediaSample {
public:
    // Each returns the sample with one reference.
    static IMediaSample* Own(ULONGLONG offset, std::vector<BYTE> bytes);
    static IMediaSample* Lend(ULONGLONG offset, IMediaSample* owner, BYTE* data, LONG length);

    // A sample of no allocator: it goes with its last reference.
    ULONG AddRef() override;
    ULONG Release() override;

private:
    ByteRangeSample(ULONGLONG offset, BYTE* data, LONG length, std::vector<BYTE> bytes, IMediaSample* owner);
    ~ByteRangeSample() override;

    std::vector<BYTE> m_Bytes;      // the data, when owned
    IMediaSample* const m_pOwner;   // counted; the lent buffer's sample
    std::atomic<ULONG> m_Count{1};
};
