// Cuts the byte stream of a frame codec (MPEG audio, AC-3) into whole frames, however the bytes
// were cut into samples: AVI readers take such a stream one frame a chunk.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/ffmpeg/AvPointers.h"
#include "platform/win32/Win32Types.h"

class AudioFrameSplitter {
public:
    // Null when the wave format tag is not a frame codec's.
    static std::unique_ptr<AudioFrameSplitter> ForFormatTag(WORD formatTag);

    using FrameSink = std::function<HRESULT(const BYTE* frame, DWORD size)>;
    // Hands each frame completed by these bytes to sink; stops at the sink's first failure. A
    // frame cut short at the end of the stream never comes out: no decoder would take it.
    HRESULT Feed(const BYTE* data, size_t size, const FrameSink& sink);
    // Sample frames per codec frame, as the frames seen so far say (MPEG-1 layer 3's until then).
    DWORD FrameSamples() const { return m_FrameSamples; }

private:
    AudioFrameSplitter(AvParserPtr parser, AvCodecContextPtr context);

    AvParserPtr m_Parser;
    AvCodecContextPtr m_Context;  // the parser reads and sets stream parameters here
    std::vector<BYTE> m_Padded;   // the input with the padding the parser may read into
    DWORD m_FrameSamples = 1152;
};
