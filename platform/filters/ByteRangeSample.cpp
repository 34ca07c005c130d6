#include "ByteRangeSample.h"

IMediaSample* ByteRangeSample::Own(ULONGLONG offset, std::vector<BYTE> bytes)
{
    // Moving the vector keeps its buffer where it is.
    BYTE* data = bytes.data();
    const LONG length = LONG(bytes.size());
    return new ByteRangeSample(offset, data, length, std::move(bytes), nullptr);
}

IMediaSample* ByteRangeSample::Lend(ULONGLONG offset, IMediaSample* owner, BYTE* data, LONG length)
{
    owner->AddRef();
    return new ByteRangeSample(offset, data, length, {}, owner);
}

ByteRangeSample::ByteRangeSample(ULONGLONG offset, BYTE* data, LONG length, std::vector<BYTE> bytes,
                                 IMediaSample* owner)
    : CMediaSample("ByteRangeSample", nullptr, nullptr, data, length), m_Bytes(std::move(bytes)), m_pOwner(owner)
{
    REFERENCE_TIME start = REFERENCE_TIME(offset), stop = start + length;
    SetTime(&start, &stop);
}

ByteRangeSample::~ByteRangeSample()
{
    if (m_pOwner)
        m_pOwner->Release();
}

ULONG ByteRangeSample::AddRef() { return ++m_Count; }

ULONG ByteRangeSample::Release()
{
    const ULONG count = --m_Count;
    if (count == 0)
        delete this;
    return count;
}
