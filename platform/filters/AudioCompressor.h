// An audio compressor over libavcodec for one codec of AudioCodecs(): PCM (8- or 16-bit, in
// samples of any size) in, the codec's packets out, one to a sample, timed from the first input
// sample's start by the sample frames the stream decodes to before each. Its output type:
// FORMAT_WaveFormatEx with the codec's tag, block alignment, byte rate and extra bytes.
#pragma once

#include <memory>

#include "AudioEncoder.h"
#include "CompressorFilter.h"

class AudioCompressor final : public CompressorFilter {
public:
    explicit AudioCompressor(const AudioCodec& codec);

private:
    bool OutputFor(const CMediaType& input, CMediaType* output, LONG* packetBound) const override;
    bool Connect(const CMediaType& input) override;
    void Disconnect() override;
    bool Restart() override;
    bool Encode(IMediaSample* sample) override;
    bool Finish() override;
    bool Next(TimedPacket* packet) override;

    const AudioCodec& m_Codec;
    std::optional<WAVEFORMATEX> m_Pcm;  // while connected
    std::vector<int> m_Values;          // the settings the connection took
    std::unique_ptr<AudioEncoder> m_Encoder;
    std::optional<REFERENCE_TIME> m_Origin;  // the first input sample's start
};
