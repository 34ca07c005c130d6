#include "DemuxPin.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr LONG MinimumBuffer = 64 * 1024;
// Buffers a pin delivers from: one is filled while the decoder takes the other.
constexpr LONG BufferCount = 2;
constexpr DWORD Capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                               AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

// A first guess at the largest packet: a picture's worth of two bytes a pixel; buffers grow past it.
LONG FirstBufferSize(const AVCodecParameters& p)
{
    const int64_t picture = p.codec_type == AVMEDIA_TYPE_VIDEO ? int64_t(p.width) * p.height * 2 : 0;
    return LONG(std::clamp<int64_t>(picture, MinimumBuffer, 0x7FFFFFFF));
}

// A position given with its flags, from the one it replaces.
REFERENCE_TIME Resolve(DWORD flags, const LONGLONG* value, REFERENCE_TIME current, REFERENCE_TIME start)
{
    switch (flags & AM_SEEKING_PositioningBitsMask) {
    case AM_SEEKING_AbsolutePositioning: return *value;
    case AM_SEEKING_RelativePositioning: return current + *value;
    case AM_SEEKING_IncrementalPositioning: return start + *value;
    default: return current;
    }
}

}  // namespace

DemuxPin::DemuxPin(CSource* filter, LPCWSTR name, std::unique_ptr<StreamDemuxer> demuxer, StreamFormat format,
                   HRESULT* result)
    : CSourceStream("DemuxPin", result, filter, name), m_Demuxer(std::move(demuxer)), m_Format(std::move(format)),
      m_Duration(m_Demuxer->Duration()), m_FrameDuration(FrameDuration(m_Demuxer->Stream())),
      m_FirstBufferSize(FirstBufferSize(*m_Demuxer->Stream().codecpar)), m_Packet(av_packet_alloc())
{
    if (!m_Packet && result)
        *result = E_OUTOFMEMORY;
}

DemuxPin::~DemuxPin() = default;

HRESULT DemuxPin::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IMediaSeeking)
        return GetInterface(static_cast<IMediaSeeking*>(this), object);
    return CSourceStream::NonDelegatingQueryInterface(iid, object);
}

HRESULT DemuxPin::GetMediaType(CMediaType* type)
{
    *type = CMediaType(&m_Format.majortype);
    type->SetSubtype(&m_Format.subtype);
    type->SetFormatType(&m_Format.formattype);
    type->SetVariableSize();
    type->SetTemporalCompression(m_Format.majortype == MEDIATYPE_Video);
    return type->SetFormat(m_Format.format.data(), ULONG(m_Format.format.size())) ? S_OK : E_OUTOFMEMORY;
}

HRESULT DemuxPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator)
{
    ALLOCATOR_PROPERTIES request{};
    pin->GetAllocatorRequirements(&request);
    auto* own = new PacketAllocator;
    GetInterface(static_cast<IMemAllocator*>(own), reinterpret_cast<void**>(allocator));
    HRESULT hr = DecideBufferSize(own, &request);
    if (SUCCEEDED(hr))
        hr = pin->NotifyAllocator(own, FALSE);
    if (FAILED(hr)) {
        SafeRelease(*allocator);
        return hr;
    }
    m_pPacketAllocator = own;
    return S_OK;
}

HRESULT DemuxPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    return RequestBuffers(allocator, *request, BufferCount, m_FirstBufferSize);
}

HRESULT DemuxPin::BreakConnect()
{
    m_pPacketAllocator = nullptr;
    return CSourceStream::BreakConnect();
}

HRESULT DemuxPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags)
{
    if (!m_bHavePacket && !m_bAtEnd) {
        m_bHavePacket = m_Demuxer->Read(m_Packet.get());
        m_bAtEnd = !m_bHavePacket;
    }
    if (m_bHavePacket && m_pPacketAllocator) {
        // Fails while the downstream filter still holds a sample; the thread asks again. Without
        // the memory the packet cannot be delivered whole: FillBuffer then ends the stream.
        const HRESULT hr = m_pPacketAllocator->Enlarge(m_Packet->size);
        if (FAILED(hr) && hr != E_OUTOFMEMORY)
            return hr;
    }
    return CSourceStream::GetDeliveryBuffer(sample, start, end, flags);
}

HRESULT DemuxPin::FillBuffer(IMediaSample* sample)
{
    if (!m_bHavePacket)
        return S_FALSE;
    m_bHavePacket = false;
    AVPacket* packet = m_Packet.get();
    struct Unref {
        AVPacket* packet;
        ~Unref() { av_packet_unref(packet); }
    } unref{packet};
    const REFERENCE_TIME start = m_Demuxer->Time(packet->pts), decode = m_Demuxer->Time(packet->dts);
    // Every packet after one decoded at the stop is also shown after it.
    const REFERENCE_TIME order = decode != NoTime ? decode : start;
    if (order != NoTime && order >= m_Stop) {
        m_bAtEnd = true;
        return S_FALSE;
    }
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || packet->size > sample->GetSize())
        return E_UNEXPECTED;
    memcpy(data, packet->data, size_t(packet->size));
    sample->SetActualDataLength(packet->size);
    if (start != NoTime) {
        const REFERENCE_TIME end = packet->duration > 0 ? m_Demuxer->Time(packet->pts + packet->duration)
                                                        : start + m_FrameDuration;
        REFERENCE_TIME from = start - m_SegmentStart, to = std::max(end - m_SegmentStart, from + 1);
        sample->SetTime(&from, &to);
    }
    if (decode != NoTime) {
        LONGLONG from = decode - m_SegmentStart, to = from + 1;
        sample->SetMediaTime(&from, &to);
    }
    sample->SetSyncPoint((packet->flags & AV_PKT_FLAG_KEY) != 0);
    sample->SetDiscontinuity(std::exchange(m_bDiscontinuity, false));
    return S_OK;
}

HRESULT DemuxPin::OnThreadCreate()
{
    if (!m_bPositioned)
        Position(0);
    return S_OK;
}

HRESULT DemuxPin::OnThreadStartPlay()
{
    m_bPositioned = false;
    m_bDiscontinuity = true;
    DeliverNewSegment(m_SegmentStart, StopPosition(), 1.0);
    return S_OK;
}

bool DemuxPin::Position(REFERENCE_TIME time)
{
    if (m_bHavePacket)
        av_packet_unref(m_Packet.get());
    m_bHavePacket = false;
    m_SegmentStart = time;
    m_bPositioned = true;
    m_bAtEnd = !m_Demuxer->Seek(time);
    return !m_bAtEnd;
}

HRESULT DemuxPin::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags)
{
    const DWORD move = currentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopMove = stopFlags & AM_SEEKING_PositioningBitsMask;
    if ((move && !current) || (stopMove && !stop))
        return E_POINTER;
    if (move == AM_SEEKING_IncrementalPositioning)
        return E_INVALIDARG;
    CAutoLock lock(m_pLock);
    const REFERENCE_TIME start = std::clamp<REFERENCE_TIME>(Resolve(move, current, m_SegmentStart, 0), 0, m_Duration);
    if (stopMove)
        m_Stop = Resolve(stopMove, stop, StopPosition(), start);
    HRESULT hr = S_OK;
    if (move) {
        // Flushing first frees a thread waiting in a downstream Receive or for a buffer, so that
        // it can be stopped; the flush ends before the thread starts again.
        const bool streaming = ThreadExists();
        if (streaming) {
            DeliverBeginFlush();
            Stop();
            DeliverEndFlush();
        }
        hr = Position(start) ? S_OK : E_FAIL;
        if (streaming)
            Pause();
    }
    if (move && (currentFlags & AM_SEEKING_ReturnTime))
        *current = start;
    if (stopMove && (stopFlags & AM_SEEKING_ReturnTime))
        *stop = StopPosition();
    return hr;
}

HRESULT DemuxPin::GetPositions(LONGLONG* current, LONGLONG* stop)
{
    CAutoLock lock(m_pLock);
    if (current)
        *current = m_SegmentStart;
    if (stop)
        *stop = StopPosition();
    return S_OK;
}

HRESULT DemuxPin::GetCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    *capabilities = Capabilities;
    return S_OK;
}

HRESULT DemuxPin::CheckCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    const DWORD asked = *capabilities;
    *capabilities &= Capabilities;
    return *capabilities == asked ? S_OK : *capabilities ? S_FALSE : E_FAIL;
}

HRESULT DemuxPin::GetDuration(LONGLONG* duration)
{
    if (!duration)
        return E_POINTER;
    *duration = m_Duration;
    return S_OK;
}

HRESULT DemuxPin::GetStopPosition(LONGLONG* stop)
{
    if (!stop)
        return E_POINTER;
    *stop = StopPosition();
    return S_OK;
}

HRESULT DemuxPin::GetCurrentPosition(LONGLONG*) { return E_NOTIMPL; }

HRESULT DemuxPin::GetAvailable(LONGLONG* earliest, LONGLONG* latest)
{
    if (earliest)
        *earliest = 0;
    if (latest)
        *latest = m_Duration;
    return S_OK;
}

HRESULT DemuxPin::SetRate(double rate) { return rate == 1.0 ? S_OK : E_INVALIDARG; }

HRESULT DemuxPin::GetRate(double* rate)
{
    if (!rate)
        return E_POINTER;
    *rate = 1.0;
    return S_OK;
}

HRESULT DemuxPin::GetPreroll(LONGLONG* preroll)
{
    if (!preroll)
        return E_POINTER;
    *preroll = 0;
    return S_OK;
}
