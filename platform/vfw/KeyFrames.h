// Which chunks of a video stream are key frames, told from the codec's own data: pictures that
// decoding can start from and still give every picture after them exactly.
#pragma once

#include <vector>

#include "platform/ffmpeg/AvPointers.h"
#include "platform/win32/Win32Types.h"

class KeyFrames {
public:
    // format: the stream's BITMAPINFOHEADER and the codec's set-up bytes after it, size bytes in all.
    KeyFrames(const BITMAPINFOHEADER* format, DWORD size);

    // How many leading bytes of a chunk IsKey looks at; 0 when it looks at none.
    DWORD HeadBytes() const { return m_Rule == Rule::Parser ? HeadLimit : 0; }
    // Whether the stream's next chunk, of size bytes whose first min(size, HeadBytes()) are head,
    // is a key frame. Chunks come in stream order, each once; an empty chunk never is one.
    bool IsKey(const unsigned char* head, DWORD size);

private:
    // Pictures with their set-up headers begin well inside this.
    static constexpr DWORD HeadLimit = 64 * 1024;

    // Every picture stands alone; the parser tells; or only the first picture is known to.
    enum class Rule { Every, Parser, FirstOnly };

    Rule m_Rule = Rule::FirstOnly;
    bool m_PictureSeen = false;
    AvCodecContextPtr m_Codec;
    AvParserPtr m_Parser;
    std::vector<unsigned char> m_Padded;  // a chunk's head with the zeroed padding parsers read past
};
