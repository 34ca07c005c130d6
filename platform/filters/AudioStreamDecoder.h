// Compressed audio packets in, PCM out, each block numbered by its first sample as a decode of
// the stream from its start numbers it.
//
// After a seek the first block starts exactly at sample floor(segment start x rate / 10^7): the
// blocks before it are dropped and the first one kept is cut. A packet's time places its first
// sample; where times are coarser than a sample (ASF and Matroska count milliseconds) the codec's
// frames, all of one size, are snapped to whole frames from the stream's start.
#pragma once

#include <memory>
#include <vector>

#include "platform/acm/PcmConverter.h"
#include "platform/dshow/Strmif.h"
#include "platform/ffmpeg/AvPointers.h"

class AudioStreamDecoder {
public:
    // Null when no decoder opens for the parameters.
    static std::unique_ptr<AudioStreamDecoder> Open(const AVCodecParameters& parameters);

    // The PCM it gives: 8-bit unsigned for 8-bit sources, 16-bit otherwise, the source's channels and rate.
    const WAVEFORMATEX& Output() const { return m_Output; }
    // Decoding starts anew from the next packet; the first sample given is the one at segmentStart.
    void Restart(REFERENCE_TIME segmentStart);
    // One packet and the time of its first sample (NoTime when unknown). An empty packet gives
    // nothing. False when the decoder refuses it.
    bool Send(const uint8_t* data, size_t size, REFERENCE_TIME time);
    // The end of the stream: what the decoder holds back comes out.
    void Drain();
    // The next block of PCM and the number of its first sample; false when none is ready.
    bool Next(std::vector<uint8_t>* pcm, int64_t* first);

    // The time of a sample: the first time whose sample, floor(time x rate / 10^7), it is.
    static REFERENCE_TIME SampleTime(int64_t sample, int rate);

private:
    AudioStreamDecoder(AvCodecContextPtr codec, const WAVEFORMATEX& output, AVSampleFormat format);
    int64_t FirstSample(const AVFrame& frame);

    AvCodecContextPtr m_Codec;
    const WAVEFORMATEX m_Output;
    PcmConverter m_Converter;
    AvPacketPtr m_Packet;
    AvFramePtr m_Frame;
    int64_t m_Start = 0;     // the first sample to give
    int64_t m_Next = -1;     // the number of the next decoded sample; -1 until a frame places it
    int m_FrameSize = 0;     // the largest frame decoded
    bool m_Draining = false;
};
