// FFmpeg's own studio-range packing of a full-range (JPEG) picture into UYVY or YUY2 rows, made
// apart from the library's: libswscale's exact path (accurate rounding, bit-exact) with its range
// conversion; the chroma rows of a 4:2:0 picture are repeated first, as the library packs them.
// libswscale's fixed-point chroma factor rounds a few values (those within 0.02 of a half) the
// other way: chroma bytes may differ by 1 from the rounded ones, luma bytes may not.
#pragma once

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/ffmpeg/AvPointers.h"

namespace studio {

inline bool isFullRange(const AVFrame& picture)
{
    return picture.format == AV_PIX_FMT_YUVJ420P || picture.format == AV_PIX_FMT_YUVJ422P;
}

// The largest difference allowed between the library's byte and the reference's at a byte of a
// packed row.
inline int tolerance(AVPixelFormat packed, size_t byte)
{
    return (byte % 2 == 0) == (packed == AV_PIX_FMT_UYVY422) ? 1 : 0;
}

// The picture's first `columns` columns (past its width: the decoder's row padding) as rows of
// `stride` bytes, with room after the last row for libswscale's stores.
inline std::vector<uint8_t> pack(const AVFrame& picture, AVPixelFormat packed, int columns, int stride)
{
    if (!isFullRange(picture))
        throw std::invalid_argument("not a full-range 4:2:x picture");
    const int chromaColumns = (columns + 1) / 2, halved = picture.format == AV_PIX_FMT_YUVJ420P;
    AvFramePtr wide(av_frame_alloc());
    wide->format = AV_PIX_FMT_YUVJ422P;
    wide->width = columns + columns % 2;
    wide->height = picture.height;
    if (av_frame_get_buffer(wide.get(), 0) < 0)
        throw std::bad_alloc();
    for (int y = 0; y < picture.height; y++) {
        std::memcpy(wide->data[0] + y * wide->linesize[0], picture.data[0] + y * picture.linesize[0], columns);
        for (int plane = 1; plane < 3; plane++)
            std::memcpy(wide->data[plane] + y * wide->linesize[plane],
                        picture.data[plane] + (y >> halved) * picture.linesize[plane], chromaColumns);
    }
    const SwsContextPtr scaler(sws_getContext(columns, picture.height, AV_PIX_FMT_YUVJ422P, columns, picture.height,
                                              packed, SWS_BILINEAR | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr,
                                              nullptr, nullptr));
    if (!scaler)
        throw std::runtime_error("libswscale has no such conversion");
    std::vector<uint8_t> rows(size_t(stride) * picture.height + 256);
    uint8_t* const planes[4] = {rows.data()};
    sws_scale(scaler.get(), wide->data, wide->linesize, 0, picture.height, planes, &stride);
    return rows;
}

}  // namespace studio
