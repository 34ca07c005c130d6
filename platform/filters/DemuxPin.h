// An output pin of the file source and the ASF Reader: one stream of the file, read by a demuxer
// of its own on the pin's own streaming thread, so that a renderer holding a sample of one stream
// never holds up another. Seeking is on the pin, in media time; each pin moves its own demuxer.
//
// Samples: each (re)start announces the segment with NewSegment(segment start, stop, 1.0); a
// sample is one whole packet, timed from its presentation time relative to the segment (no time
// when the packet has none), with its decoding time likewise as media time (start, start + 1),
// a sync point for a key packet, a discontinuity on the first after a (re)start.
#pragma once

#include "platform/dshow/MediaTimeSeeking.h"

#include <atomic>
#include <memory>

#include "MediaTypes.h"
#include "PacketAllocator.h"
#include "StreamDemuxer.h"
#include "platform/dshow/SourceStream.h"

class DemuxPin final : public CSourceStream, public CMediaTimeSeeking {
public:
    DemuxPin(CSource* filter, LPCWSTR name, std::unique_ptr<StreamDemuxer> demuxer, StreamFormat format,
             HRESULT* result);
    ~DemuxPin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // The stream's compressed type, its only one.
    HRESULT GetMediaType(CMediaType* type) override;
    // Always our own allocator, whose buffers grow for a larger packet.
    HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT BreakConnect() override;
    // Reads the next packet first and makes the buffers large enough for it.
    HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;

    // Media time only; the duration is the stream's. The current position is the renderers' to tell.
    HRESULT GetCapabilities(DWORD* capabilities) override;
    HRESULT CheckCapabilities(DWORD* capabilities) override;
    HRESULT GetDuration(LONGLONG* duration) override;
    HRESULT GetStopPosition(LONGLONG* stop) override;
    HRESULT GetCurrentPosition(LONGLONG* current) override;
    // A new current position (clamped to the stream) flushes downstream, stops the thread, moves
    // the demuxer and restarts with the new segment; a stop position ends the stream at the first
    // packet decoded at or after it. A failure when the demuxer cannot move.
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
    HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    // Rate 1 only.
    HRESULT SetRate(double rate) override;
    HRESULT GetRate(double* rate) override;
    HRESULT GetPreroll(LONGLONG* preroll) override;

protected:
    HRESULT FillBuffer(IMediaSample* sample) override;
    // A run after a stop starts from the beginning, unless a seek came in between: the graph
    // reader counts a restarted graph's times from 0.
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadStartPlay() override;

private:
    bool Position(REFERENCE_TIME time);
    REFERENCE_TIME StopPosition() const
    {
        const REFERENCE_TIME stop = m_Stop;
        return stop == MAX_TIME ? m_Duration : stop;
    }

    const std::unique_ptr<StreamDemuxer> m_Demuxer;
    const StreamFormat m_Format;
    const REFERENCE_TIME m_Duration;
    const REFERENCE_TIME m_FrameDuration;  // for video packets that do not say how long they last
    const LONG m_FirstBufferSize;
    PacketAllocator* m_pPacketAllocator = nullptr;  // not counted: m_pAllocator holds it

    // The streaming thread's while it runs; the seeking caller's, under the state lock, while it
    // does not.
    AvPacketPtr m_Packet;
    bool m_bHavePacket = false;
    bool m_bAtEnd = false;
    bool m_bDiscontinuity = false;
    bool m_bPositioned = true;  // the demuxer stands at the segment's start
    REFERENCE_TIME m_SegmentStart = 0;
    std::atomic<REFERENCE_TIME> m_Stop{MAX_TIME};  // none; read by the streaming thread as it goes
};
