#include "VideoStreamDecoder.h"

#include <cstring>
#include <new>

#include "OpenDecoder.h"
#include "StreamDemuxer.h"

std::unique_ptr<VideoStreamDecoder> VideoStreamDecoder::Open(const AVCodecParameters& parameters,
                                                             REFERENCE_TIME frameDuration, int lowres)
{
    AvCodecContextPtr codec = OpenDecoder(parameters, ReferenceTimeBase, lowres);
    if (!codec || codec->width <= 0 || codec->height <= 0)
        return nullptr;
    std::unique_ptr<VideoStreamDecoder> decoder(new VideoStreamDecoder(std::move(codec), frameDuration));
    if (!decoder->m_Packet || !decoder->m_Picture || !decoder->m_Latest)
        return nullptr;
    return decoder;
}

VideoStreamDecoder::VideoStreamDecoder(AvCodecContextPtr codec, REFERENCE_TIME frameDuration)
    : m_Codec(std::move(codec)), m_FrameDuration(frameDuration), m_Packet(av_packet_alloc()), m_Picture(av_frame_alloc()),
      m_Latest(av_frame_alloc())
{
}

bool VideoStreamDecoder::SetOutput(const BITMAPINFOHEADER& output)
{
    const std::optional<DibLayout> layout = DibLayout::Of(output, false);
    if (!layout || layout->width != Width() || layout->height != Height())
        return false;
    if (layout != m_Layout) {
        try {
            m_Converter = std::make_unique<DibConverter>(*layout);
        } catch (const std::bad_alloc&) {
            return false;
        }
        m_Layout = layout;
    }
    return true;
}

void VideoStreamDecoder::Restart(REFERENCE_TIME segmentStart)
{
    avcodec_flush_buffers(m_Codec.get());
    av_frame_unref(m_Picture.get());
    av_frame_unref(m_Latest.get());
    m_SegmentStart = segmentStart;
    m_NextStart = segmentStart;
    m_bGiven = false;
    m_Draining = false;
}

bool VideoStreamDecoder::Send(const uint8_t* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME decode)
{
    // Size 0 would end the stream for libavcodec.
    if (size == 0)
        return true;
    if (m_Draining)
        Restart(m_SegmentStart);
    AVPacket* packet = m_Packet.get();
    if (av_new_packet(packet, int(size)) < 0)
        return false;
    memcpy(packet->data, data, size);
    packet->pts = start == NoTime ? AV_NOPTS_VALUE : start;
    packet->dts = decode == NoTime ? AV_NOPTS_VALUE : decode;
    // A picture that ends before the segment is dropped anyway: when nothing refers to it either
    // (a B-frame), it need not be decoded at all.
    m_Codec->skip_frame = start != NoTime && start + std::max<REFERENCE_TIME>(m_FrameDuration, 1) <= m_SegmentStart
                              ? AVDISCARD_NONREF
                              : AVDISCARD_DEFAULT;
    const int sent = avcodec_send_packet(m_Codec.get(), packet);
    av_packet_unref(packet);
    // A damaged packet is skipped, as the decoder skips damaged parts of a packet.
    return sent >= 0 || sent == AVERROR_INVALIDDATA;
}

void VideoStreamDecoder::Drain()
{
    if (!m_Draining)
        avcodec_send_packet(m_Codec.get(), nullptr);
    m_Draining = true;
}

bool VideoStreamDecoder::Next(REFERENCE_TIME* start, REFERENCE_TIME* stop)
{
    AVFrame* picture = m_Picture.get();
    av_frame_unref(picture);
    while (avcodec_receive_frame(m_Codec.get(), picture) == 0) {
        const int64_t time = picture->best_effort_timestamp;
        *start = time == AV_NOPTS_VALUE ? m_NextStart : time;
        const REFERENCE_TIME duration = picture->pkt_duration > 0 ? picture->pkt_duration : m_FrameDuration;
        *stop = *start + (duration > 0 ? duration : 1);
        m_NextStart = *stop;
        if (*stop > m_SegmentStart) {
            m_bGiven = true;
            return true;
        }
        av_frame_unref(m_Latest.get());
        av_frame_move_ref(m_Latest.get(), picture);
    }
    // A segment that starts after the last picture ends still shows that picture: it stays on
    // screen while a longer stream plays on.
    if (m_Draining && !m_bGiven && m_Latest->data[0]) {
        av_frame_move_ref(picture, m_Latest.get());
        *start = m_SegmentStart;
        *stop = m_SegmentStart + std::max<REFERENCE_TIME>(m_FrameDuration, 1);
        m_bGiven = true;
        return true;
    }
    return false;
}

bool VideoStreamDecoder::Draw(uint8_t* bits)
{
    return m_Converter && m_Picture->data[0] && m_Converter->Convert(m_Picture.get(), bits);
}
