#include "AcmFormat.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include "platform/ffmpeg/AvPointers.h"

namespace {

constexpr unsigned WaveFormatIeeeFloat = 3;
constexpr int MaxChannels = 64;

// WAVE_FORMAT_EXTENSIBLE: the sub-format GUID follows the valid bits and the channel mask; its
// first four bytes are a wave format tag, the rest the fixed tail of the KSDATAFORMAT GUIDs.
constexpr size_t ExtensibleSize = 22;
constexpr size_t SubFormatOffset = sizeof(WAVEFORMATEX) + 6;
constexpr uint8_t SubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};

AVCodecID PcmCodec(unsigned tag, unsigned bits)
{
    if (tag == WAVE_FORMAT_PCM) {
        switch (bits) {
        case 8: return AV_CODEC_ID_PCM_U8;
        case 16: return AV_CODEC_ID_PCM_S16LE;
        case 24: return AV_CODEC_ID_PCM_S24LE;
        case 32: return AV_CODEC_ID_PCM_S32LE;
        }
    } else if (tag == WaveFormatIeeeFloat) {
        switch (bits) {
        case 32: return AV_CODEC_ID_PCM_F32LE;
        case 64: return AV_CODEC_ID_PCM_F64LE;
        }
    }
    return AV_CODEC_ID_NONE;
}

// A frame-codec ratio S/B is greater than s/b.
bool Greater(uint64_t S, uint64_t B, uint64_t s, uint64_t b) { return S * b > s * B; }

}  // namespace

MMRESULT AcmFormat::Describe(const WAVEFORMATEX* source, const WAVEFORMATEX* destination, AcmFormat* format)
{
    if (!source || !destination)
        return MMSYSERR_INVALPARAM;
    const unsigned bits = destination->wBitsPerSample;
    if (destination->wFormatTag != WAVE_FORMAT_PCM || (bits != 8 && bits != 16) ||
        destination->nChannels != source->nChannels || destination->nSamplesPerSec != source->nSamplesPerSec ||
        destination->nBlockAlign != destination->nChannels * bits / 8)
        return ACMERR_NOTPOSSIBLE;
    AcmFormat f;
    if (!f.DescribeSource(source))
        return ACMERR_NOTPOSSIBLE;
    f.m_DestinationFormat = bits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    f.m_DestinationBlockAlign = destination->nBlockAlign;
    *format = std::move(f);
    return MMSYSERR_NOERROR;
}

bool AcmFormat::DescribeSource(const WAVEFORMATEX* source)
{
    if (source->nChannels == 0 || source->nChannels > MaxChannels || source->nSamplesPerSec == 0 ||
        source->nSamplesPerSec > INT32_MAX)
        return false;
    m_Tag = source->wFormatTag;
    m_Channels = source->nChannels;
    m_Rate = (int)source->nSamplesPerSec;
    m_BlockAlign = source->nBlockAlign;
    m_BitsPerCodedSample = source->wBitsPerSample;
    m_BitRate = (int64_t)source->nAvgBytesPerSec * 8;
    const uint8_t* extra = (const uint8_t*)source + sizeof(WAVEFORMATEX);
    if (m_Tag == WAVE_FORMAT_EXTENSIBLE) {
        if (source->cbSize < ExtensibleSize || memcmp(extra + 6 + 4, SubFormatTail, sizeof SubFormatTail) != 0)
            return false;
        uint32_t subTag;
        memcpy(&subTag, (const uint8_t*)source + SubFormatOffset, sizeof subTag);
        m_Codec = PcmCodec(subTag, source->wBitsPerSample);
    } else if (m_Tag == WAVE_FORMAT_PCM || m_Tag == WaveFormatIeeeFloat) {
        m_Codec = PcmCodec(m_Tag, source->wBitsPerSample);
    } else {
        const AVCodecTag* tables[] = {avformat_get_riff_audio_tags(), nullptr};
        m_Codec = av_codec_get_id(tables, m_Tag);
        m_Extradata.assign(extra, extra + source->cbSize);
    }
    if (m_Codec == AV_CODEC_ID_NONE || !avcodec_find_decoder(m_Codec))
        return false;

    m_Framed = m_Codec == AV_CODEC_ID_MP1 || m_Codec == AV_CODEC_ID_MP2 || m_Codec == AV_CODEC_ID_MP3 ||
               m_Codec == AV_CODEC_ID_AC3;
    if (m_Framed)
        return SetFrameRatio();
    // PCM codecs come first among the audio codec ids, before the ADPCM ones.
    m_PcmLike = m_Codec >= AV_CODEC_ID_PCM_S16LE && m_Codec < AV_CODEC_ID_ADPCM_IMA_QT;
    if (m_BlockAlign == 0)
        return false;
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    if (!parameters)
        return false;
    parameters->codec_type = AVMEDIA_TYPE_AUDIO;
    parameters->codec_id = m_Codec;
    parameters->codec_tag = m_Tag;
    av_channel_layout_default(&parameters->ch_layout, m_Channels);
    parameters->sample_rate = m_Rate;
    parameters->block_align = (int)m_BlockAlign;
    parameters->bits_per_coded_sample = m_BitsPerCodedSample;
    parameters->bit_rate = m_BitRate;
    const int frames = av_get_audio_frame_duration2(parameters, (int)m_BlockAlign);
    avcodec_parameters_free(&parameters);
    m_BlockFrames = frames > 0 ? (uint64_t)frames : 0;
    return m_BlockFrames != 0;
}

// The smallest legal frame at the stream's rate against the PCM frames it carries. MPEG audio:
// layer 1 frames hold 384 frames in 4-byte slots, layer 2 1152, layer 3 1152 (576 below 32 kHz),
// lowest bit rates 32 kbit/s (8 for layers 2 and 3 below 32 kHz). AC-3: 1536 frames, 32 kbit/s at
// least; the reduced rates (half, quarter) keep the full rate's frame sizes.
bool AcmFormat::SetFrameRatio()
{
    const uint64_t rate = (uint64_t)m_Rate;
    if (m_Codec == AV_CODEC_ID_AC3) {
        static const struct {
            uint64_t rate, bytes;
        } full[] = {{48000, 128}, {44100, 138}, {32000, 192}};
        for (const auto& f : full)
            for (uint64_t shift = 0; shift < 3; shift++)
                if ((rate << shift) == f.rate) {
                    m_FrameSamples = 1536;
                    m_FrameBytes = f.bytes;
                    return true;
                }
        return false;
    }
    static const uint64_t mpeg1[] = {44100, 48000, 32000};
    static const uint64_t lowRates[] = {22050, 24000, 16000, 11025, 12000, 8000};
    bool lsf = false, legal = false;
    for (uint64_t r : mpeg1)
        legal |= r == rate;
    for (uint64_t r : lowRates)
        if (r == rate)
            legal = lsf = true;
    if (!legal)
        return false;
    const uint64_t layers[3][2] = {
        {384, 32 * 12000 / rate * 4},
        {1152, (lsf ? 8 : 32) * 144000 / rate},
        {lsf ? 576u : 1152u, (lsf ? 8 : 32) * 144000 / (rate << (lsf ? 1 : 0))},
    };
    m_FrameSamples = 0;
    m_FrameBytes = 1;
    for (const auto& layer : layers)
        if (Greater(layer[0], layer[1], m_FrameSamples, m_FrameBytes)) {
            m_FrameSamples = layer[0];
            m_FrameBytes = layer[1];
        }
    return true;
}

AVCodecContext* AcmFormat::NewDecoder() const
{
    AvCodecContextPtr context(avcodec_alloc_context3(avcodec_find_decoder(m_Codec)));
    if (!context)
        return nullptr;
    context->codec_tag = m_Tag;
    av_channel_layout_default(&context->ch_layout, m_Channels);
    context->sample_rate = m_Rate;
    context->block_align = (int)m_BlockAlign;
    context->bits_per_coded_sample = m_BitsPerCodedSample;
    context->bit_rate = m_BitRate;
    context->thread_count = 1;
    // AC-3 fills quiet bands with noise; seeded from each frame, it does not depend on where decoding began.
    if (m_Codec == AV_CODEC_ID_AC3 && av_opt_set_int(context->priv_data, "cons_noisegen", 1, 0) < 0)
        return nullptr;
    if (!m_Extradata.empty()) {
        context->extradata = (uint8_t*)av_mallocz(m_Extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE);
        if (!context->extradata)
            return nullptr;
        memcpy(context->extradata, m_Extradata.data(), m_Extradata.size());
        context->extradata_size = (int)m_Extradata.size();
    }
    return context.release();
}

uint64_t AcmFormat::MaxFrames(uint64_t bytes) const
{
    return m_Framed ? bytes * m_FrameSamples / m_FrameBytes : bytes / m_BlockAlign * m_BlockFrames;
}

bool AcmFormat::Plausible(uint64_t frames, uint64_t bytes) const
{
    return frames * m_FrameBytes <= bytes * m_FrameSamples;
}
