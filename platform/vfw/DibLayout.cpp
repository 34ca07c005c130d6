#include "DibLayout.h"

#include <cstdlib>

namespace {

// Larger pictures are not video; the bound keeps every size computation inside an int.
constexpr int MaxSide = 1 << 15;

}  // namespace

std::optional<DibLayout> DibLayout::Of(const BITMAPINFOHEADER& header, bool yuvBottomUp)
{
    AVPixelFormat format;
    const bool yuv = header.biCompression != BI_RGB;
    if (header.biCompression == FCC("UYVY") && header.biBitCount == 16)
        format = AV_PIX_FMT_UYVY422;
    else if (header.biCompression == FCC("YUY2") && header.biBitCount == 16)
        format = AV_PIX_FMT_YUYV422;
    else if (!yuv && header.biBitCount == 24)
        format = AV_PIX_FMT_BGR24;
    else if (!yuv && header.biBitCount == 32)
        format = AV_PIX_FMT_BGRA;
    else
        return std::nullopt;
    const int width = header.biWidth;
    const long long height = std::llabs(header.biHeight);
    if (width <= 0 || width > MaxSide || height == 0 || height > MaxSide)
        return std::nullopt;
    const int pitch = (width * header.biBitCount + 31) / 32 * 4;
    return DibLayout{format, width, int(height), pitch, header.biHeight > 0 && (!yuv || yuvBottomUp)};
}
