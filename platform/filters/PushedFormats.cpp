#include "PushedFormats.h"

#include <algorithm>
#include <cstring>

namespace {

// The subtype that names a frame format.
GUID SubtypeOf(AVPixelFormat format)
{
    switch (format) {
    case AV_PIX_FMT_UYVY422: return MEDIASUBTYPE_UYVY;
    case AV_PIX_FMT_YUYV422: return MEDIASUBTYPE_YUY2;
    case AV_PIX_FMT_BGR24: return MEDIASUBTYPE_RGB24;
    default: return MEDIASUBTYPE_RGB32;
    }
}

}  // namespace

std::optional<PushedVideo> PushedVideoOf(const CMediaType& type)
{
    if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo || !type.pbFormat ||
        type.cbFormat < sizeof(VIDEOINFOHEADER))
        return std::nullopt;
    const VIDEOINFOHEADER& info = *reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    const std::optional<DibLayout> layout = DibLayout::Of(info.bmiHeader, false);
    if (!layout || type.subtype != SubtypeOf(layout->format))
        return std::nullopt;
    return PushedVideo{*layout, info.AvgTimePerFrame};
}

std::optional<WAVEFORMATEX> PcmOf(const CMediaType& type)
{
    constexpr ULONG WithoutExtraSize = sizeof(WAVEFORMATEX) - sizeof(WORD);
    if (type.majortype != MEDIATYPE_Audio || type.subtype != MEDIASUBTYPE_PCM ||
        type.formattype != FORMAT_WaveFormatEx || !type.pbFormat || type.cbFormat < WithoutExtraSize)
        return std::nullopt;
    WAVEFORMATEX pcm = {};
    memcpy(&pcm, type.pbFormat, std::min<size_t>(type.cbFormat, sizeof pcm));
    return pcm;
}
