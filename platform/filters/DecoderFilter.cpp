#include "DecoderFilter.h"

#include "StreamDemuxer.h"

HRESULT DecoderFilter::Receive(IMediaSample* sample)
{
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)))
        return E_POINTER;
    REFERENCE_TIME start = 0, stop = 0, decode = 0, decodeEnd = 0;
    start = SUCCEEDED(sample->GetTime(&start, &stop)) ? start + m_SegmentStart : NoTime;
    decode = sample->GetMediaTime(&decode, &decodeEnd) == S_OK ? decode + m_SegmentStart : NoTime;
    Send(data, size_t(sample->GetActualDataLength()), start, decode);
    return DeliverReady();
}

HRESULT DecoderFilter::EndOfStream()
{
    Drain();
    DeliverReady();
    return CTransformFilter::EndOfStream();
}

HRESULT DecoderFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    {
        CAutoLock lock(&m_csReceive);
        m_SegmentStart = start;
        m_bDiscontinuity = true;
        Restart(start);
    }
    return CTransformFilter::NewSegment(start, stop, rate);
}

HRESULT DecoderFilter::GetBuffer(IMediaSample** sample)
{
    *sample = nullptr;
    return OutputPin()->GetDeliveryBuffer(sample, nullptr, nullptr, 0);
}

HRESULT DecoderFilter::DeliverBuffer(IMediaSample* sample, REFERENCE_TIME start, REFERENCE_TIME stop)
{
    start -= m_SegmentStart;
    stop -= m_SegmentStart;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(m_bDiscontinuity);
    m_bDiscontinuity = false;
    const HRESULT hr = OutputPin()->Deliver(sample);
    sample->Release();
    return hr;
}
