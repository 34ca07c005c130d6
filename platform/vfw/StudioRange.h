// Full-range (JPEG) bytes of packed 4:2:2 rows brought to studio range in place: luma
// Y' = 16 + Y * 219 / 255, chroma C' = 128 + (C - 128) * 224 / 255, both rounded to nearest.
// libswscale converts the range only on its slow paths; packing the picture as studio range and
// fixing the bytes afterwards, while they are in cache, keeps its fast packers.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

class StudioRange {
public:
    // format: AV_PIX_FMT_UYVY422 (chroma first) or AV_PIX_FMT_YUYV422.
    explicit StudioRange(AVPixelFormat format);

    void operator()(uint8_t* bytes, size_t count) const;

private:
    const bool m_ChromaFirst;
};
