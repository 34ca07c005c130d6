// What the video and audio decoders share: compressed samples in, timed from the segment their
// source announced, and decoded samples out, timed relative to that segment.
//
// A source marks each (re)start with NewSegment(segment start, ...); its samples' times and media
// times (decoding times) count from there. The decoders work in absolute stream times, so they
// get the segment start added back, and what they give has it taken off again.
#pragma once

#include "platform/dshow/TransformFilter.h"

class DecoderFilter : public CTransformFilter {
public:
    // Decodes the sample and delivers everything ready. A packet the decoder refuses is dropped.
    HRESULT Receive(IMediaSample* sample) override;
    // Drains the decoder and delivers what it held back before passing the end on.
    HRESULT EndOfStream() override;
    // Restarts the decoder at the segment's start and passes the segment on.
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

protected:
    // Decoding goes on while the filter below holds a sample (a renderer waiting for its reader).
    DecoderFilter(const char* name, IUnknown* outer, REFCLSID clsid) : CTransformFilter(name, outer, clsid)
    {
        OutputPin()->UseQueue();
    }

    // The decoder's side, on the streaming thread under the receive lock; times are absolute.
    virtual void Restart(REFERENCE_TIME segmentStart) = 0;
    virtual bool Send(const BYTE* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME decode) = 0;
    virtual void Drain() = 0;
    // Delivers everything the decoder has ready, through DeliverBuffer.
    virtual HRESULT DeliverReady() = 0;

    // An output buffer (null with the failure when none can be had).
    HRESULT GetBuffer(IMediaSample** sample);
    // Delivers a filled buffer timed [start, stop) in absolute time, a discontinuity when it is
    // the first of its segment, and releases it.
    HRESULT DeliverBuffer(IMediaSample* sample, REFERENCE_TIME start, REFERENCE_TIME stop);

    REFERENCE_TIME SegmentStart() const { return m_SegmentStart; }

private:
    REFERENCE_TIME m_SegmentStart = 0;
    bool m_bDiscontinuity = true;
};
