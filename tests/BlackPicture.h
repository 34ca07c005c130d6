// A black picture in a decompressor's output layout; the bytes that pad its rows are padding.
#pragma once

#include <map>

#include "TestSupport.h"
#include "platform/vfw/DibLayout.h"

extern "C" {
#include <libavutil/imgutils.h>
}

inline Bytes blackPicture(const DibLayout& layout, uint8_t padding = 0)
{
    const std::map<AVPixelFormat, Bytes> pixels = {
        {AV_PIX_FMT_UYVY422, {0x80, 0x10}}, {AV_PIX_FMT_YUYV422, {0x10, 0x80}}, {AV_PIX_FMT_BGR24, {0, 0, 0}},
        {AV_PIX_FMT_BGRA, {0, 0, 0, 0xFF}}};
    const Bytes& pixel = pixels.at(layout.format);
    const int lineBytes = av_image_get_linesize(layout.format, layout.width, 0);
    Bytes black(layout.Size(), padding);
    for (int y = 0; y < layout.height; y++)
        for (int x = 0; x < lineBytes; x++)
            black[size_t(y) * layout.pitch + x] = pixel[x % pixel.size()];
    return black;
}
