// What a conversion from a compressed wave format to PCM amounts to: the decoder, how the source
// bytes are cut into packets, and how many PCM frames a number of source bytes can give at most.
#pragma once

#include <cstdint>
#include <vector>

#include "Acm.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

class AcmFormat {
public:
    // ACMERR_NOTPOSSIBLE unless source decodes to the PCM destination (same rate and channels,
    // 8-bit unsigned or 16-bit signed).
    static MMRESULT Describe(const WAVEFORMATEX* source, const WAVEFORMATEX* destination, AcmFormat* format);

    // A decoder context set up from the source format, not yet opened; null when it cannot be made.
    AVCodecContext* NewDecoder() const;

    // Block codecs take whole blocks; frame codecs (MPEG audio, AC-3) go through a parser.
    bool Framed() const { return m_Framed; }
    // PCM-like codecs decode any number of whole blocks in one packet.
    bool PcmLike() const { return m_PcmLike; }
    AVCodecID Codec() const { return m_Codec; }
    int Channels() const { return m_Channels; }
    int Rate() const { return m_Rate; }
    unsigned BlockAlign() const { return m_BlockAlign; }
    AVSampleFormat DestinationFormat() const { return m_DestinationFormat; }
    unsigned DestinationBlockAlign() const { return m_DestinationBlockAlign; }

    // The most PCM frames that `bytes` source bytes give: whole blocks times the frames of a block,
    // or for frame codecs the most frames per byte that a legal frame at this rate carries.
    uint64_t MaxFrames(uint64_t bytes) const;
    // For frame codecs: whether a packet of `bytes` may decode to `frames` (no legal frame gives more).
    bool Plausible(uint64_t frames, uint64_t bytes) const;

private:
    bool DescribeSource(const WAVEFORMATEX* source);
    bool SetFrameRatio();

    AVCodecID m_Codec = AV_CODEC_ID_NONE;
    unsigned m_Tag = 0;
    int m_Channels = 0;
    int m_Rate = 0;
    unsigned m_BlockAlign = 0;
    int m_BitsPerCodedSample = 0;
    int64_t m_BitRate = 0;
    std::vector<uint8_t> m_Extradata;
    bool m_Framed = false;
    bool m_PcmLike = false;
    // Block codecs: frames per block. Frame codecs: at most m_FrameSamples frames per m_FrameBytes bytes.
    uint64_t m_BlockFrames = 0;
    uint64_t m_FrameSamples = 0;
    uint64_t m_FrameBytes = 0;
    AVSampleFormat m_DestinationFormat = AV_SAMPLE_FMT_NONE;
    unsigned m_DestinationBlockAlign = 0;
};
