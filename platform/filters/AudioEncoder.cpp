#include "AudioEncoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/ffmpeg/EncodedPackets.h"
#include "platform/win32/DebugChannel.h"

namespace {

// Codecs of any frame size are sent at most this many sample frames at a time.
constexpr int LargestPiece = 4096;
// MPEG audio's bit rates (kbit/s) for layer 3: MPEG-1 rates, then the half rates and below.
constexpr int Mpeg1Rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int LowRates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int LowestMpeg1Rate = 32000;

struct MpegLayer3Extra {
    WORD wID;
    DWORD fdwFlags;
    WORD nBlockSize;
    WORD nFramesPerBlock;
    WORD nCodecDelay;
} __attribute__((packed));
constexpr WORD MpegLayer3IdMpeg = 1;
constexpr DWORD MpegLayer3PaddingIso = 0;

// The bit rate (bit/s) MPEG audio has nearest to the one asked for, at the sample rate.
int64_t MpegBitRate(int64_t asked, int sampleRate)
{
    const int* rates = sampleRate >= LowestMpeg1Rate ? Mpeg1Rates : LowRates;
    const int* nearest = std::min_element(rates, rates + 14, [&](int a, int b) {
        return std::llabs(a * 1000LL - asked) < std::llabs(b * 1000LL - asked);
    });
    return *nearest * 1000LL;
}

// The bytes of an MPEG audio layer 3 frame without its padding byte.
int MpegFrameBytes(int64_t bitRate, int sampleRate)
{
    return int((sampleRate >= LowestMpeg1Rate ? 144 : 72) * bitRate / sampleRate);
}

// Windows' ADPCM blocks: 256 bytes a channel, doubled for each doubling of the rate over 11025 Hz.
int AdpcmBlockSize(int sampleRate, int channels) { return 256 * channels * std::max(1, sampleRate / 11025); }

template <class T>
void Append(std::vector<BYTE>& bytes, const T& value)
{
    const BYTE* from = reinterpret_cast<const BYTE*>(&value);
    bytes.insert(bytes.end(), from, from + sizeof value);
}

}  // namespace

std::unique_ptr<AudioEncoder> AudioEncoder::Open(const AudioCodec& codec, const std::vector<int>& values,
                                                 const WAVEFORMATEX& pcm)
{
    RouteFFmpegMessages();
    const int bits = pcm.wBitsPerSample;
    if (pcm.wFormatTag != WAVE_FORMAT_PCM || (bits != 8 && bits != 16) || pcm.nChannels == 0 ||
        pcm.nBlockAlign != pcm.nChannels * bits / 8 || pcm.nSamplesPerSec == 0 || pcm.nSamplesPerSec > INT32_MAX)
        return nullptr;
    const AVCodec* found = avcodec_find_encoder_by_name(codec.encoder);
    std::unique_ptr<AudioEncoder> encoder(new AudioEncoder);
    encoder->m_Encoder.reset(found ? avcodec_alloc_context3(found) : nullptr);
    AVCodecContext* context = encoder->m_Encoder.get();
    if (!context)
        return nullptr;
    const int rate = int(pcm.nSamplesPerSec), channels = pcm.nChannels;
    context->sample_rate = rate;
    av_channel_layout_default(&context->ch_layout, channels);
    context->sample_fmt = found->sample_fmts ? found->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    context->time_base = {1, rate};
    AVDictionary* options = nullptr;
    bool opened = av_dict_parse_string(&options, EncoderOptions("", codec.settings, values).c_str(), "=", ":", 0) >= 0;
    if (codec.layout == AudioCodec::Layout::MsAdpcm || codec.layout == AudioCodec::Layout::ImaAdpcm)
        av_dict_set_int(&options, "block_size", AdpcmBlockSize(rate, channels), 0);
    if (codec.layout == AudioCodec::Layout::MpegLayer3) {
        const AVDictionaryEntry* asked = av_dict_get(options, "b", nullptr, 0);
        av_dict_set_int(&options, "b", MpegBitRate(asked ? atoll(asked->value) : 0, rate), 0);
    }
    opened = opened && avcodec_open2(context, found, &options) >= 0 && av_dict_count(options) == 0;
    av_dict_free(&options);
    if (!opened)
        return nullptr;

    const AVSampleFormat input = bits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    SwrContext* converter = nullptr;
    if (swr_alloc_set_opts2(&converter, &context->ch_layout, context->sample_fmt, rate, &context->ch_layout, input,
                            rate, 0, nullptr) < 0)
        return nullptr;
    encoder->m_Converter.reset(converter);
    encoder->m_FrameSamples = context->frame_size > 0 ? context->frame_size : LargestPiece;
    encoder->m_WholeFrames =
        !(found->capabilities & (AV_CODEC_CAP_VARIABLE_FRAME_SIZE | AV_CODEC_CAP_SMALL_LAST_FRAME));
    encoder->m_Waiting.reset(av_audio_fifo_alloc(context->sample_fmt, channels, encoder->m_FrameSamples));
    if (swr_init(converter) < 0 || !encoder->m_Waiting || !encoder->SetFormat(codec) || !encoder->Lead())
        return nullptr;
    return encoder;
}

bool AudioEncoder::Lead()
{
    // WMA's decoders give nothing for a stream's first packet: an encoder that states such a delay
    // and has none to drain starts with that much silence, which decodes to nothing, before the
    // stream's start.
    m_Lead = m_Encoder->codec->capabilities & AV_CODEC_CAP_DELAY ? 0 : m_Encoder->initial_padding;
    if (m_Lead <= 0)
        return true;
    AvFramePtr silence = NewFrame(m_Lead);
    if (!silence || av_samples_set_silence(silence->extended_data, 0, m_Lead, silence->ch_layout.nb_channels,
                                           m_Encoder->sample_fmt) < 0 ||
        av_audio_fifo_write(m_Waiting.get(), reinterpret_cast<void**>(silence->extended_data), m_Lead) != m_Lead)
        return false;
    m_Decoded = -m_Lead;
    return true;
}

AvFramePtr AudioEncoder::NewFrame(int frames) const
{
    AvFramePtr frame(av_frame_alloc());
    if (!frame)
        return nullptr;
    frame->format = m_Encoder->sample_fmt;
    frame->nb_samples = frames;
    frame->sample_rate = m_Encoder->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &m_Encoder->ch_layout) < 0 || av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    return frame;
}

bool AudioEncoder::SetFormat(const AudioCodec& codec)
{
    const AVCodecContext& context = *m_Encoder;
    const int rate = context.sample_rate, channels = context.ch_layout.nb_channels;
    WAVEFORMATEX wave = {};
    wave.wFormatTag = codec.tag;
    wave.nChannels = WORD(channels);
    wave.nSamplesPerSec = DWORD(rate);
    std::vector<BYTE> extra;
    if (codec.layout == AudioCodec::Layout::MpegLayer3) {
        const int frameBytes = MpegFrameBytes(context.bit_rate, rate);
        wave.nAvgBytesPerSec = DWORD(context.bit_rate / 8);
        wave.nBlockAlign = 1;
        Append(extra, MpegLayer3Extra{MpegLayer3IdMpeg, MpegLayer3PaddingIso, WORD(frameBytes), 1,
                                      WORD(context.initial_padding)});
        m_PacketBound = size_t(frameBytes) + 1;
    } else {
        // Blocks of samplesPerBlock sample frames (1 for G.711), block_align bytes each.
        const int samplesPerBlock = context.frame_size > 0 ? context.frame_size : 1;
        if (context.block_align <= 0)
            return false;
        wave.nBlockAlign = WORD(context.block_align);
        wave.wBitsPerSample = WORD(context.bits_per_coded_sample);
        wave.nAvgBytesPerSec = DWORD(int64_t(rate) * context.block_align / samplesPerBlock);
        if (codec.layout == AudioCodec::Layout::MsAdpcm)
            extra.assign(context.extradata, context.extradata + context.extradata_size);
        if (codec.layout == AudioCodec::Layout::ImaAdpcm)
            Append(extra, WORD(samplesPerBlock));
        m_PacketBound = size_t(context.block_align) * size_t(m_FrameSamples / samplesPerBlock);
    }
    wave.cbSize = WORD(extra.size());
    m_Format.clear();
    Append(m_Format, wave);
    m_Format.insert(m_Format.end(), extra.begin(), extra.end());
    return true;
}

bool AudioEncoder::Push(const uint8_t* pcm, int frames)
{
    if (frames <= 0)
        return true;
    AvFramePtr converted = NewFrame(frames);
    if (!converted || swr_convert(m_Converter.get(), converted->extended_data, frames, &pcm, frames) != frames ||
        av_audio_fifo_write(m_Waiting.get(), reinterpret_cast<void**>(converted->extended_data), frames) != frames)
        return false;
    while (av_audio_fifo_size(m_Waiting.get()) >= m_FrameSamples)
        if (!Send(m_FrameSamples, m_FrameSamples))
            return false;
    return true;
}

bool AudioEncoder::Finish()
{
    // After the last samples, the lead's length of silence: their frame decodes whole only with
    // the next one overlapping it.
    for (int rest = av_audio_fifo_size(m_Waiting.get()) + m_Lead; rest > 0;) {
        const int piece = std::min(rest, m_FrameSamples);
        if (!Send(std::min(piece, av_audio_fifo_size(m_Waiting.get())), m_WholeFrames ? m_FrameSamples : piece))
            return false;
        rest -= piece;
    }
    const int result = avcodec_send_frame(m_Encoder.get(), nullptr);
    return (result >= 0 || result == AVERROR_EOF) && Receive();
}

bool AudioEncoder::Send(int frames, int padded)
{
    AvFramePtr frame = NewFrame(padded);
    const int channels = m_Encoder->ch_layout.nb_channels;
    if (!frame || av_audio_fifo_read(m_Waiting.get(), reinterpret_cast<void**>(frame->extended_data), frames) != frames)
        return false;
    av_samples_set_silence(frame->extended_data, frames, padded - frames, channels, m_Encoder->sample_fmt);
    return avcodec_send_frame(m_Encoder.get(), frame.get()) >= 0 && Receive();
}

bool AudioEncoder::Receive()
{
    return TakeEncodedPackets(*m_Encoder, [this](AvPacketPtr packet) {
        // A frame codec's packet decodes to a whole frame, whatever the encoder says of the last.
        const int64_t count = m_Encoder->frame_size > 0 ? m_Encoder->frame_size : packet->duration;
        packet->flags |= AV_PKT_FLAG_KEY;
        m_Ready.push_back({std::move(packet), m_Decoded, count});
        m_Decoded += count;
    });
}

bool AudioEncoder::Next(Packet* packet)
{
    if (m_Ready.empty())
        return false;
    *packet = std::move(m_Ready.front());
    m_Ready.pop_front();
    return true;
}
