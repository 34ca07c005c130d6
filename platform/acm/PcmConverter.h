// Decoded audio frames to packed PCM of the destination's sample format through libswresample,
// set up again whenever the frames' format or channel layout changes.
#pragma once

#include <cstdint>

#include "platform/ffmpeg/AvPointers.h"

class PcmConverter {
public:
    PcmConverter(AVSampleFormat format, int channels);
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    // Writes the frame's samples to destination, which has room for all of them; returns the
    // sample frames written, 0 when the frame cannot be converted.
    int Convert(const AVFrame* frame, uint8_t* destination);

private:
    bool Configure(const AVFrame* frame);

    AVSampleFormat m_Format;
    int m_Channels;
    SwrContextPtr m_Swr;
    AVSampleFormat m_InputFormat = AV_SAMPLE_FMT_NONE;
    AVChannelLayout m_InputLayout = {};
    int m_Rate = 0;
};
