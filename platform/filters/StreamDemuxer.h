// One stream of a media file, read on its own: each output pin of a source owns one, so that a
// renderer holding a sample of one stream never holds up another.
//
// Times are REFERENCE_TIME counted from the stream's start, which is the time of the first picture
// or sound that a decode from the beginning gives (not the container's start time: ASF audio
// decoders give nothing for the first packets, AVI MPEG-4 with B-frames shows its first picture
// one frame late). So picture n of a decode from the start has the time n frames, and sample n of
// a decode from the start has the time n / rate.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/dshow/Strmif.h"
#include "platform/ffmpeg/AvPointers.h"

inline constexpr REFERENCE_TIME NoTime = INT64_MIN;

class StreamDemuxer {
public:
    // Null when the file cannot be opened or has no such stream.
    static std::unique_ptr<StreamDemuxer> Open(const std::string& path, int index);

    const AVStream& Stream() const { return *m_Context->streams[m_Index]; }
    // The stream's length: its own duration, else the end of its last packet or the file's length,
    // whichever is later; PCM in AVI counts its samples.
    REFERENCE_TIME Duration() const { return m_Duration; }
    // A time of the stream (its time base) from the stream's start; NoTime for no time.
    REFERENCE_TIME Time(int64_t timestamp) const;

    // The next packet of the stream; false at the end of the stream or on a read error.
    bool Read(AVPacket* packet);
    // Makes the next packets start early enough that a decode from them gives the picture covering
    // time, or for audio the sample at time, exactly as a decode from the beginning does: video
    // from the key frame at or before time, audio a few codec frames earlier, so that codecs whose
    // frames overlap give the same samples. False when nothing can be read there.
    bool Seek(REFERENCE_TIME time);

private:
    StreamDemuxer(const std::string& path, int index) : m_Path(path), m_Index(index) {}
    bool Reopen();
    // Reads the end of the file where the stream states no length of its own; leaves the file
    // opened again at its start.
    REFERENCE_TIME MeasureDuration();
    bool ReadFile(AVPacket* packet);
    // Decodes from the current position, keeping the packets read for Read, until the first
    // picture or sound; its time (stream time base), AV_NOPTS_VALUE if none comes.
    int64_t FirstOutput();
    // After a seek, which can land well before the time (where an index is coarse): the packets
    // from the last key frame at or before the time on, read and kept for Read.
    void ReadAhead(REFERENCE_TIME target);
    // The time of the first picture or sound from the kept packets on, decoding only when the
    // stream may show pictures in another order than it decodes them.
    int64_t FirstTime();
    // For PCM timed coarser than its samples (DV counts frames): the repeating sample counts of its
    // packets, read from the start, so that each packet's time is its first sample's exactly.
    void LearnPacketPattern();

    const std::string m_Path;
    const int m_Index;
    AvFormatContextPtr m_Context;
    int64_t m_Origin = 0;  // the stream's start, in its time base
    REFERENCE_TIME m_Duration = 0;
    REFERENCE_TIME m_StartDelay = 0;  // how long before its first output a decode starts
    AvCodecContextPtr m_Probe;  // the decoder FirstOutput looks with
    std::deque<AvPacketPtr> m_Pending;
    std::vector<int64_t> m_Pattern;  // samples before each packet of one period, and the period's total
};
