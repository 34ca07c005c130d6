#include "AudioStreamDecoder.h"

#include <algorithm>
#include <cstring>

#include "OpenDecoder.h"
#include "StreamDemuxer.h"

namespace {

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

}  // namespace

std::unique_ptr<AudioStreamDecoder> AudioStreamDecoder::Open(const AVCodecParameters& parameters)
{
    AvCodecContextPtr codec = OpenDecoder(parameters, ReferenceTimeBase);
    if (!codec || codec->sample_rate <= 0 || codec->ch_layout.nb_channels <= 0)
        return nullptr;
    const AVSampleFormat source = av_get_packed_sample_fmt(codec->sample_fmt);
    const AVSampleFormat format = source == AV_SAMPLE_FMT_U8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    WAVEFORMATEX output = {};
    output.wFormatTag = WAVE_FORMAT_PCM;
    output.nChannels = WORD(codec->ch_layout.nb_channels);
    output.nSamplesPerSec = DWORD(codec->sample_rate);
    output.wBitsPerSample = WORD(8 * av_get_bytes_per_sample(format));
    output.nBlockAlign = WORD(output.nChannels * output.wBitsPerSample / 8);
    output.nAvgBytesPerSec = output.nSamplesPerSec * output.nBlockAlign;
    std::unique_ptr<AudioStreamDecoder> decoder(new AudioStreamDecoder(std::move(codec), output, format));
    if (!decoder->m_Packet || !decoder->m_Frame)
        return nullptr;
    return decoder;
}

AudioStreamDecoder::AudioStreamDecoder(AvCodecContextPtr codec, const WAVEFORMATEX& output, AVSampleFormat format)
    : m_Codec(std::move(codec)), m_Output(output), m_Converter(format, output.nChannels), m_Packet(av_packet_alloc()),
      m_Frame(av_frame_alloc())
{
}

REFERENCE_TIME AudioStreamDecoder::SampleTime(int64_t sample, int rate)
{
    return av_rescale_rnd(sample, 10000000, rate, AVRounding(AV_ROUND_UP | AV_ROUND_PASS_MINMAX));
}

void AudioStreamDecoder::Restart(REFERENCE_TIME segmentStart)
{
    avcodec_flush_buffers(m_Codec.get());
    m_Start = FloorDiv(segmentStart * m_Output.nSamplesPerSec, 10000000);
    m_Next = -1;
    m_Draining = false;
}

bool AudioStreamDecoder::Send(const uint8_t* data, size_t size, REFERENCE_TIME time)
{
    if (size == 0)
        return true;
    if (m_Draining) {
        avcodec_flush_buffers(m_Codec.get());
        m_Draining = false;
    }
    AVPacket* packet = m_Packet.get();
    if (av_new_packet(packet, int(size)) < 0)
        return false;
    memcpy(packet->data, data, size);
    packet->pts = time == NoTime ? AV_NOPTS_VALUE : time;
    const int sent = avcodec_send_packet(m_Codec.get(), packet);
    av_packet_unref(packet);
    // A damaged packet is skipped, as the decoder skips damaged frames.
    return sent >= 0 || sent == AVERROR_INVALIDDATA;
}

void AudioStreamDecoder::Drain()
{
    if (!m_Draining)
        avcodec_send_packet(m_Codec.get(), nullptr);
    m_Draining = true;
}

// A frame is placed by its time: PCM's times are exact; other codecs' frames lie on whole frames
// of the codec's frame size from the stream's start. A frame without a time follows the one before.
// (After a seek the first frame's time can be another frame's, as when a parser starts inside a
// frame; the frames after it, which are placed by their own times, are right again.)
int64_t AudioStreamDecoder::FirstSample(const AVFrame& frame)
{
    m_FrameSize = std::max(m_FrameSize, frame.nb_samples);
    if (frame.pts == AV_NOPTS_VALUE)
        return m_Next >= 0 ? m_Next : m_Start;
    const int64_t sample = av_rescale(frame.pts, m_Output.nSamplesPerSec, 10000000);
    const bool pcm = av_get_bits_per_sample(m_Codec->codec_id) > 0;
    const int64_t size = m_Codec->frame_size > 0 ? m_Codec->frame_size : m_FrameSize;
    return pcm ? sample : FloorDiv(sample + size / 2, size) * size;
}

bool AudioStreamDecoder::Next(std::vector<uint8_t>* pcm, int64_t* first)
{
    AVFrame* frame = m_Frame.get();
    while (avcodec_receive_frame(m_Codec.get(), frame) == 0) {
        const int64_t at = FirstSample(*frame);
        const int count = frame->nb_samples;
        m_Next = at + count;
        const int64_t skip = m_Start - at;
        if (count <= 0 || skip >= count) {
            av_frame_unref(frame);
            continue;
        }
        const size_t bytes = m_Output.nBlockAlign;
        pcm->resize(size_t(count) * bytes);
        const int converted = m_Converter.Convert(frame, pcm->data());
        av_frame_unref(frame);
        if (converted != count)
            return false;
        if (skip > 0)
            pcm->erase(pcm->begin(), pcm->begin() + skip * bytes);
        *first = std::max(at, m_Start);
        return true;
    }
    return false;
}
