// Compressed audio packets in, PCM out, each block numbered by its first sample as a decode of
// the stream from its start numbers it.
//
// After a seek the first block starts exactly at sample floor(segment start x rate / 10^7): the
// blocks before it are dropped and the first one kept is cut. A packet's time places its first
// sample; where times are coarser than a sample (ASF and Matroska count milliseconds) the codec's
// frames, all of one size, are snapped to whole frames from the stream's start.
#pragma once

#include <deque>
#include <optional>

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
    struct Block {
        int64_t first;  // the number of its first sample
        std::vector<uint8_t> pcm;
    };

    AudioStreamDecoder(AvCodecContextPtr codec, const WAVEFORMATEX& output, AVSampleFormat format);
    bool IsPcm() const { return av_get_bits_per_sample(m_Codec->codec_id) > 0; }
    // Where the frame's time places it; -1 for a frame without a time.
    int64_t Placement(const AVFrame& frame);
    // Takes a decoded block, placed by its time (or confirmed: always right), and gives it.
    void Take(Block block, bool confirmed);
    int64_t Count(const Block& block) const { return int64_t(block.pcm.size() / m_Output.nBlockAlign); }
    // Queues what of the block lies at or after the first sample to give.
    void Give(Block block);

    AvCodecContextPtr m_Codec;
    const WAVEFORMATEX m_Output;
    PcmConverter m_Converter;
    AvPacketPtr m_Packet;
    AvFramePtr m_Frame;
    int64_t m_Start = 0;          // the first sample to give
    int64_t m_Next = -1;          // the number of the next decoded sample; -1 until the place is known
    std::optional<Block> m_Held;  // a block placed by its time alone, waiting for the next to agree
    std::deque<Block> m_Ready;
    bool m_Given = false;  // a block has been given since the restart
    int m_FrameSize = 0;  // the largest frame decoded
    bool m_Draining = false;
};
