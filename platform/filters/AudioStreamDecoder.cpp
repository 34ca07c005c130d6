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
    m_Held.reset();
    m_Ready.clear();
    m_Given = false;
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

// A frame's time places it: PCM's times are exact; other codecs' frames lie on whole frames of
// the codec's frame size from the stream's start.
int64_t AudioStreamDecoder::Placement(const AVFrame& frame)
{
    m_FrameSize = std::max(m_FrameSize, frame.nb_samples);
    if (frame.pts == AV_NOPTS_VALUE)
        return -1;
    const int64_t sample = av_rescale(frame.pts, m_Output.nSamplesPerSec, 10000000);
    const int64_t size = m_Codec->frame_size > 0 ? m_Codec->frame_size : m_FrameSize;
    return IsPcm() ? sample : FloorDiv(sample + size / 2, size) * size;
}

// Sample n is the n-th sample a decode from the start gives, so once blocks are given, each
// follows the one before. Right after a seek a frame's time can belong to another frame (a parser
// that starts inside a frame gives out false frames with the times of real ones), so until the
// first sample to give is reached, a block is placed only where its time and the block before it
// agree; one that disagrees waits for the next. PCM's times are always right.
void AudioStreamDecoder::Take(Block block, bool confirmed)
{
    if (m_Given || (m_Next >= 0 && block.first < 0)) {
        block.first = m_Next;
    } else if (!confirmed && block.first != m_Next) {
        // A block without a time follows the one held.
        if (!m_Held || (block.first >= 0 && m_Held->first + Count(*m_Held) != block.first)) {
            m_Held = std::move(block);
            return;
        }
        block.first = m_Held->first + Count(*m_Held);
        Give(*std::exchange(m_Held, std::nullopt));
    } else if (block.first < 0) {
        block.first = m_Start;
    }
    m_Held.reset();
    Give(std::move(block));
}

void AudioStreamDecoder::Give(Block block)
{
    const int64_t count = Count(block), skip = m_Start - block.first;
    m_Next = block.first + count;
    if (count <= 0 || skip >= count)
        return;
    if (skip > 0) {
        block.pcm.erase(block.pcm.begin(), block.pcm.begin() + skip * m_Output.nBlockAlign);
        block.first = m_Start;
    }
    m_Given = true;
    m_Ready.push_back(std::move(block));
}

bool AudioStreamDecoder::Next(std::vector<uint8_t>* pcm, int64_t* first)
{
    AVFrame* frame = m_Frame.get();
    while (m_Ready.empty() && avcodec_receive_frame(m_Codec.get(), frame) == 0) {
        Block block{Placement(*frame), std::vector<uint8_t>(size_t(frame->nb_samples) * m_Output.nBlockAlign)};
        const int converted = m_Converter.Convert(frame, block.pcm.data());
        const int count = frame->nb_samples;
        av_frame_unref(frame);
        if (converted != count)
            return false;
        Take(std::move(block), IsPcm());
    }
    // At the end of the stream a block still waiting for another stands on its own time.
    if (m_Ready.empty() && m_Draining && m_Held)
        Take(*std::exchange(m_Held, std::nullopt), true);
    if (m_Ready.empty())
        return false;
    *pcm = std::move(m_Ready.front().pcm);
    *first = m_Ready.front().first;
    m_Ready.pop_front();
    return true;
}
