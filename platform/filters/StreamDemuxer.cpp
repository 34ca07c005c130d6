#include "StreamDemuxer.h"

#include <algorithm>
#include <cstring>

#include "OpenDecoder.h"
#include "StreamEnd.h"
#include "platform/win32/DebugChannel.h"

namespace {

// Packets read at most while looking for the first picture or sound of a decode.
constexpr int MaxProbePackets = 64;
// Packets and bytes read ahead at most after a seek, looking for the last key frame before the time.
constexpr size_t MaxAheadPackets = 4096;
constexpr size_t MaxAheadBytes = 64 << 20;
// Seeks tried at most, each further back, before reading from the beginning.
constexpr int MaxSeeks = 4;
constexpr REFERENCE_TIME FirstStepBack = 10000000;
// Audio decoding starts this many codec frames early: overlapping transforms, filter banks and
// decoders that give nothing for the first packets after a flush are settled by then.
constexpr int AudioPrerollFrames = 6;
constexpr int DefaultAudioFrame = 2048;

bool IsAudio(const AVStream& stream) { return stream.codecpar->codec_type == AVMEDIA_TYPE_AUDIO; }

bool IsPcm(const AVCodecParameters& parameters) { return av_get_bits_per_sample(parameters.codec_id) > 0; }

REFERENCE_TIME AudioPreroll(const AVCodecParameters& parameters)
{
    if (IsPcm(parameters) || parameters.sample_rate <= 0)
        return 0;
    const int frame = parameters.frame_size > 0 ? parameters.frame_size : DefaultAudioFrame;
    return av_rescale(AudioPrerollFrames * frame, ReferenceTimeBase.den, parameters.sample_rate);
}

}  // namespace

std::unique_ptr<StreamDemuxer> StreamDemuxer::Open(const std::string& path, int index)
{
    std::unique_ptr<StreamDemuxer> demuxer(new StreamDemuxer(path, index));
    if (!demuxer->Reopen())
        return nullptr;
    const AVStream& stream = demuxer->Stream();
    const AVMediaType type = stream.codecpar->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
        return nullptr;
    demuxer->m_Duration = demuxer->MeasureDuration();
    if (!demuxer->m_Context)
        return nullptr;
    const int64_t first = demuxer->FirstOutput();
    demuxer->m_Origin = first != AV_NOPTS_VALUE ? first : stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
    // A decoder that gives nothing for its first packets (WMA) starts that much before its output.
    if (!demuxer->m_Pending.empty() && demuxer->m_Pending.front()->pts != AV_NOPTS_VALUE)
        demuxer->m_StartDelay = std::max<REFERENCE_TIME>(0, -demuxer->Time(demuxer->m_Pending.front()->pts));
    demuxer->LearnPacketPattern();
    return demuxer;
}

bool StreamDemuxer::Reopen()
{
    m_Pending.clear();
    m_Context.reset();
    AVFormatContext* context = nullptr;
    RouteFFmpegMessages();
    if (avformat_open_input(&context, m_Path.c_str(), nullptr, nullptr) < 0)
        return false;
    m_Context.reset(context);
    if (avformat_find_stream_info(context, nullptr) < 0 || m_Index < 0 || unsigned(m_Index) >= context->nb_streams) {
        m_Context.reset();
        return false;
    }
    for (unsigned i = 0; i < context->nb_streams; i++)
        if (int(i) != m_Index)
            context->streams[i]->discard = AVDISCARD_ALL;
    return true;
}

REFERENCE_TIME StreamDemuxer::Time(int64_t timestamp) const
{
    if (timestamp == AV_NOPTS_VALUE)
        return NoTime;
    if (m_Pattern.empty())
        return av_rescale_q(timestamp - m_Origin, Stream().time_base, ReferenceTimeBase);
    // Packet n of the stream.
    const int64_t period = int64_t(m_Pattern.size()) - 1, n = timestamp - m_Origin;
    const int64_t cycles = n / period - (n % period < 0), at = n - cycles * period;
    const int64_t sample = cycles * m_Pattern.back() + m_Pattern[at];
    return av_rescale_rnd(sample, ReferenceTimeBase.den, Stream().codecpar->sample_rate,
                          AVRounding(AV_ROUND_UP | AV_ROUND_PASS_MINMAX));
}

void StreamDemuxer::LearnPacketPattern()
{
    const AVStream& stream = Stream();
    const AVCodecParameters& p = *stream.codecpar;
    const int frameBytes = p.ch_layout.nb_channels * av_get_bits_per_sample(p.codec_id) / 8;
    if (!IsAudio(stream) || frameBytes <= 0 || int64_t(stream.time_base.num) * p.sample_rate <= stream.time_base.den)
        return;
    while (m_Pending.size() < MaxProbePackets) {
        AvPacketPtr packet(av_packet_alloc());
        if (!packet || !ReadFile(packet.get()))
            break;
        m_Pending.push_back(std::move(packet));
    }
    // Packets one tick apart from the start, with sizes that repeat with a period.
    std::vector<int64_t> counts;
    for (const AvPacketPtr& packet : m_Pending) {
        if (packet->pts != m_Origin + int64_t(counts.size()) || packet->size % frameBytes)
            return;
        counts.push_back(packet->size / frameBytes);
    }
    for (size_t period = 1; 2 * period <= counts.size(); period++) {
        size_t i = period;
        while (i < counts.size() && counts[i] == counts[i - period])
            i++;
        if (i < counts.size())
            continue;
        m_Pattern = {0};
        for (size_t k = 0; k < period; k++)
            m_Pattern.push_back(m_Pattern.back() + counts[k]);
        return;
    }
}

REFERENCE_TIME StreamDemuxer::MeasureDuration()
{
    const AVStream& stream = Stream();
    const AVCodecParameters& parameters = *stream.codecpar;
    // ASF states one play duration for all its streams, from the file's start rather than the
    // stream's: its streams are measured by their last packets.
    const bool shared = strcmp(m_Context->iformat->name, "asf") == 0;
    if (!shared && stream.duration != AV_NOPTS_VALUE && stream.duration > 0)
        return av_rescale_q(stream.duration, stream.time_base, ReferenceTimeBase);
    if (IsAudio(stream) && IsPcm(parameters) && stream.nb_frames > 0 && parameters.sample_rate > 0)
        return av_rescale(stream.nb_frames, ReferenceTimeBase.den, parameters.sample_rate);
    if (m_Context->duration == AV_NOPTS_VALUE || m_Context->duration <= 0)
        return 0;
    const REFERENCE_TIME file = av_rescale(m_Context->duration, ReferenceTimeBase.den, AV_TIME_BASE);
    // Without a length of its own, the stream may end after the file's stated length.
    const int64_t end = StreamEnd(m_Context.get(), m_Index);
    const int64_t origin = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
    const REFERENCE_TIME last =
        end != AV_NOPTS_VALUE ? av_rescale_q(end - origin, stream.time_base, ReferenceTimeBase) : 0;
    return Reopen() ? (shared && last > 0 ? last : std::max(file, last)) : 0;
}

bool StreamDemuxer::Read(AVPacket* packet)
{
    if (m_Pending.empty())
        return ReadFile(packet);
    av_packet_move_ref(packet, m_Pending.front().get());
    m_Pending.pop_front();
    return true;
}

bool StreamDemuxer::ReadFile(AVPacket* packet)
{
    while (m_Context && av_read_frame(m_Context.get(), packet) >= 0) {
        if (packet->stream_index == m_Index)
            return true;
        av_packet_unref(packet);
    }
    return false;
}

int64_t StreamDemuxer::FirstOutput()
{
    // One decoder serves every look, flushed in between: opening one for each seek cost a tenth
    // of a random request.
    const AVStream& stream = Stream();
    if (m_Probe)
        avcodec_flush_buffers(m_Probe.get());
    else
        m_Probe = OpenDecoder(*stream.codecpar, stream.time_base);
    AVCodecContext* decoder = m_Probe.get();
    AvFramePtr frame(av_frame_alloc());
    if (!decoder || !frame)
        return AV_NOPTS_VALUE;
    // The packets already read ahead first, then more from the file, all kept for Read.
    for (size_t n = 0; n < m_Pending.size() + MaxProbePackets; n++) {
        bool read = n < m_Pending.size();
        if (!read) {
            AvPacketPtr packet(av_packet_alloc());
            if (!packet)
                return AV_NOPTS_VALUE;
            if ((read = ReadFile(packet.get())))
                m_Pending.push_back(std::move(packet));
        }
        avcodec_send_packet(decoder, read ? m_Pending[n].get() : nullptr);
        if (avcodec_receive_frame(decoder, frame.get()) == 0)
            return frame->best_effort_timestamp;
        if (!read)
            break;
    }
    return AV_NOPTS_VALUE;
}

void StreamDemuxer::ReadAhead(REFERENCE_TIME target)
{
    size_t bytes = 0, keep = 0;
    while (m_Pending.size() < MaxAheadPackets && bytes < MaxAheadBytes) {
        AvPacketPtr packet(av_packet_alloc());
        if (!packet || !ReadFile(packet.get()))
            break;
        const REFERENCE_TIME shown = Time(packet->pts), decoded = Time(packet->dts);
        // Decoding order only grows: a packet decoded after the time, and all after it, show after it.
        if ((decoded != NoTime ? decoded : shown) > target) {
            m_Pending.push_back(std::move(packet));
            break;
        }
        if ((packet->flags & AV_PKT_FLAG_KEY) && shown != NoTime && shown <= target)
            keep = m_Pending.size();
        bytes += size_t(packet->size);
        m_Pending.push_back(std::move(packet));
    }
    m_Pending.erase(m_Pending.begin(), m_Pending.begin() + std::ptrdiff_t(keep));
}

int64_t StreamDemuxer::FirstTime()
{
    // A stream that shows packets in the order it decodes them starts with its key packet's picture.
    const AVStream& stream = Stream();
    if (!m_Pending.empty() && !IsAudio(stream) && stream.codecpar->video_delay == 0 &&
        (m_Pending.front()->flags & AV_PKT_FLAG_KEY) && m_Pending.front()->pts != AV_NOPTS_VALUE)
        return m_Pending.front()->pts;
    return FirstOutput();
}

bool StreamDemuxer::Seek(REFERENCE_TIME time)
{
    const AVStream& stream = Stream();
    const REFERENCE_TIME target = time - (IsAudio(stream) ? AudioPreroll(*stream.codecpar) : 0);
    REFERENCE_TIME back = 0;
    for (int tries = 0; tries < MaxSeeks && target - back > 0; tries++) {
        const int64_t at = av_rescale_q(target - back, ReferenceTimeBase, stream.time_base) + m_Origin;
        if (av_seek_frame(m_Context.get(), m_Index, at, AVSEEK_FLAG_BACKWARD) < 0)
            break;
        m_Pending.clear();
        ReadAhead(target - back - m_StartDelay);
        const int64_t first = FirstTime();
        // Too late: the demuxer found a later key frame, or the key frame of an open GOP, whose
        // B-frames shown before it follow it, or a place near the end from which nothing decodes;
        // or for audio, a place that leaves too few frames before the time to settle the decoder
        // and the parser (which starts inside a frame after a jump).
        if (first != AV_NOPTS_VALUE && Time(first) <= target)
            return true;
        back = back ? 2 * back : FirstStepBack;
    }
    return Reopen();
}
