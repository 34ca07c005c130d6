// DV frames with stereo 16-bit PCM put into them by libavformat's dv muxer, one whole frame out
// per frame in. The muxer loses a frame that comes before the audio that ends it, so a frame is
// handed over only once the muxer has finished the one before; audio waits here until a frame
// needs it, so however far it leads, the muxer's own queue never overflows.
#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "platform/dshow/Streams.h"
#include "platform/ffmpeg/AvPointers.h"

class DvFrameMuxer {
public:
    // Each finished frame goes to `deliver`; a failure it returns ends the muxing.
    using Deliver = std::function<HRESULT(const BYTE* frame, size_t size)>;

    // PAL: 144,000-byte frames at 25 per second, audio at 48000, 44100 or 32000; NTSC: 120,000
    // at 30000/1001, audio at 48000 only (libavformat 59 has no NTSC pattern of the others).
    // Valid is false when the muxer refuses them.
    DvFrameMuxer(bool pal, int rate, Deliver deliver);
    bool Valid() const { return m_Context != nullptr; }

    HRESULT Video(const BYTE* frame, size_t size);
    HRESULT Audio(const BYTE* pcm, size_t size);
    // The frames still held, their missing audio made up of silence.
    HRESULT Finish();

private:
    static int Write(void* opaque, uint8_t* bytes, int size);
    HRESULT Pump();
    HRESULT WritePacket(int stream, const BYTE* data, size_t size, int64_t pts);

    const size_t m_FrameSize;
    const Deliver m_Deliver;
    AvIoContextPtr m_Io;
    AvOutputContextPtr m_Context;
    std::deque<std::vector<BYTE>> m_Frames;  // not yet handed to the muxer
    std::deque<BYTE> m_Pcm;                  // nor this audio
    std::vector<BYTE> m_Out;                 // the frame the muxer is writing
    bool m_bHolding = false;                 // the muxer holds a frame short of audio
    HRESULT m_hrDelivered = S_OK;
    int64_t m_VideoPts = 0, m_AudioPts = 0;
};
