#include "DvFrameMuxer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t AudioChunk = 1024;  // bytes the muxer is given at a time: 256 sample frames

}  // namespace

DvFrameMuxer::DvFrameMuxer(bool pal, int rate, Deliver deliver)
    : m_FrameSize(pal ? 144000 : 120000), m_Deliver(std::move(deliver))
{
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, "dv", nullptr) < 0)
        return;
    AvOutputContextPtr owned(context);
    auto* buffer = static_cast<unsigned char*>(av_malloc(m_FrameSize));
    m_Io.reset(buffer ? avio_alloc_context(buffer, int(m_FrameSize), 1, this, nullptr, Write, nullptr) : nullptr);
    if (!m_Io) {
        av_free(buffer);
        return;
    }
    context->pb = m_Io.get();
    context->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_FLUSH_PACKETS;
    AVStream* video = avformat_new_stream(context, nullptr);
    AVStream* audio = avformat_new_stream(context, nullptr);
    if (!video || !audio)
        return;
    video->time_base = pal ? AVRational{1, 25} : AVRational{1001, 30000};
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codecpar->codec_id = AV_CODEC_ID_DVVIDEO;
    video->codecpar->width = 720;
    video->codecpar->height = pal ? 576 : 480;
    video->codecpar->format = pal ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
    audio->time_base = {1, rate};
    audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    audio->codecpar->sample_rate = rate;
    av_channel_layout_default(&audio->codecpar->ch_layout, 2);
    if (avformat_write_header(context, nullptr) < 0)
        return;
    m_Context = std::move(owned);
}

int DvFrameMuxer::Write(void* opaque, uint8_t* bytes, int size)
{
    auto* self = static_cast<DvFrameMuxer*>(opaque);
    self->m_Out.insert(self->m_Out.end(), bytes, bytes + size);
    while (self->m_Out.size() >= self->m_FrameSize) {
        if (SUCCEEDED(self->m_hrDelivered))
            self->m_hrDelivered = self->m_Deliver(self->m_Out.data(), self->m_FrameSize);
        self->m_Out.erase(self->m_Out.begin(), self->m_Out.begin() + std::ptrdiff_t(self->m_FrameSize));
        self->m_bHolding = false;
    }
    return size;
}

HRESULT DvFrameMuxer::Video(const BYTE* frame, size_t size)
{
    if (size != m_FrameSize)
        return E_INVALIDARG;
    m_Frames.emplace_back(frame, frame + size);
    return Pump();
}

HRESULT DvFrameMuxer::Audio(const BYTE* pcm, size_t size)
{
    const size_t first = m_Pcm.size();
    m_Pcm.insert(m_Pcm.end(), pcm, pcm + size);
    // 0x8000 marks a sample in error in DV: the loudest negative value goes in one step quieter.
    for (size_t at = first & ~size_t(1); at + 1 < m_Pcm.size(); at += 2)
        if (m_Pcm[at] == 0x00 && m_Pcm[at + 1] == 0x80)
            m_Pcm[at] = 0x01;
    return Pump();
}

HRESULT DvFrameMuxer::Finish()
{
    while (SUCCEEDED(m_hrDelivered) && (m_bHolding || !m_Frames.empty())) {
        if (m_Pcm.empty())
            m_Pcm.resize(AudioChunk);
        if (const HRESULT hr = Pump(); FAILED(hr))
            return hr;
    }
    av_write_trailer(m_Context.get());
    return m_hrDelivered;
}

HRESULT DvFrameMuxer::Pump()
{
    while (SUCCEEDED(m_hrDelivered)) {
        HRESULT hr;
        if (m_bHolding) {
            // Whole sample frames only: a partial one waits for the rest.
            const size_t size = std::min(AudioChunk, m_Pcm.size() & ~size_t(3));
            if (size == 0)
                break;
            const std::vector<BYTE> chunk(m_Pcm.begin(), m_Pcm.begin() + std::ptrdiff_t(size));
            m_Pcm.erase(m_Pcm.begin(), m_Pcm.begin() + std::ptrdiff_t(size));
            hr = WritePacket(1, chunk.data(), size, m_AudioPts);
            m_AudioPts += int64_t(size / 4);
        } else {
            if (m_Frames.empty())
                break;
            const std::vector<BYTE> frame = std::move(m_Frames.front());
            m_Frames.pop_front();
            m_bHolding = true;
            hr = WritePacket(0, frame.data(), frame.size(), m_VideoPts++);
        }
        if (FAILED(hr))
            return hr;
    }
    return m_hrDelivered;
}

HRESULT DvFrameMuxer::WritePacket(int stream, const BYTE* data, size_t size, int64_t pts)
{
    AvPacketPtr packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), int(size)) < 0)
        return E_OUTOFMEMORY;
    memcpy(packet->data, data, size);
    packet->stream_index = stream;
    packet->pts = packet->dts = pts;
    packet->duration = stream == 0 ? 1 : int64_t(size / 4);
    return av_write_frame(m_Context.get(), packet.get()) < 0 ? E_FAIL : S_OK;
}
