// Where a decompressor's output picture lies in memory, read from the output BITMAPINFOHEADER.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/win32/Win32Types.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct DibLayout {
    AVPixelFormat format;  // UYVY422, YUYV422, BGR24 or BGRA
    int width;
    int height;            // rows, whichever their order
    int pitch;             // bytes from one row to the next: the row padded to 4 bytes
    bool bottomUp;         // the picture's last row comes first in memory

    size_t Size() const { return size_t(pitch) * size_t(height); }
    bool operator==(const DibLayout&) const = default;

    // UYVY or YUY2 with 16 bits, BI_RGB with 24 or 32; nothing else. RGB rows run bottom-up for a
    // positive biHeight; YUV rows run top-down unless yuvBottomUp is set and biHeight is positive.
    static std::optional<DibLayout> Of(const BITMAPINFOHEADER& header, bool yuvBottomUp);
};
