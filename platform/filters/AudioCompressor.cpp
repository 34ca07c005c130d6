#include "AudioCompressor.h"

#include "PushedFormats.h"

namespace {

constexpr LONG Buffers = 16;

}  // namespace

AudioCompressor::AudioCompressor(const AudioCodec& codec)
    : CompressorFilter("Audio Compressor", codec.clsid, codec.settings, Buffers), m_Codec(codec)
{
}

bool AudioCompressor::OutputFor(const CMediaType& input, CMediaType* output, LONG* packetBound) const
{
    const std::optional<WAVEFORMATEX> pcm = PcmOf(input);
    const std::unique_ptr<AudioEncoder> encoder = pcm ? AudioEncoder::Open(m_Codec, Values(), *pcm) : nullptr;
    if (!encoder)
        return false;
    const std::vector<BYTE>& format = encoder->Format();
    *output = CMediaType(&MEDIATYPE_Audio);
    const GUID subtype = FourCCGuid(m_Codec.tag);
    output->SetSubtype(&subtype);
    output->SetFormatType(&FORMAT_WaveFormatEx);
    output->SetSampleSize(reinterpret_cast<const WAVEFORMATEX*>(format.data())->nBlockAlign);
    *packetBound = LONG(encoder->PacketBound());
    return output->SetFormat(format.data(), ULONG(format.size()));
}

bool AudioCompressor::Connect(const CMediaType& input)
{
    m_Pcm = PcmOf(input);
    m_Values = Values();
    return m_Pcm.has_value();
}

void AudioCompressor::Disconnect()
{
    m_Pcm.reset();
    m_Encoder.reset();
}

bool AudioCompressor::Restart()
{
    m_Origin.reset();
    m_Encoder = m_Pcm ? AudioEncoder::Open(m_Codec, m_Values, *m_Pcm) : nullptr;
    return m_Encoder != nullptr;
}

bool AudioCompressor::Encode(IMediaSample* sample)
{
    BYTE* data = nullptr;
    if (!m_Encoder || FAILED(sample->GetPointer(&data)))
        return false;
    REFERENCE_TIME start, stop;
    if (!m_Origin)
        m_Origin = SUCCEEDED(sample->GetTime(&start, &stop)) ? start : 0;
    return m_Encoder->Push(data, sample->GetActualDataLength() / m_Pcm->nBlockAlign);
}

bool AudioCompressor::Finish() { return m_Encoder && m_Encoder->Finish(); }

bool AudioCompressor::Next(TimedPacket* timed)
{
    AudioEncoder::Packet packet;
    if (!m_Encoder || !m_Encoder->Next(&packet))
        return false;
    const auto time = [&](int64_t frame) {
        return *m_Origin + REFERENCE_TIME(av_rescale(frame, UNITS, m_Pcm->nSamplesPerSec));
    };
    timed->start = time(packet.first);
    timed->stop = time(packet.first + packet.count);
    timed->packet = std::move(packet.packet);
    return true;
}
