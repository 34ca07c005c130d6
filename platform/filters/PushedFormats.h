// The uncompressed types that the writer's push sources offer, read back from a media type: the
// frames of FORMAT_VideoInfo video and the PCM of FORMAT_WaveFormatEx audio.
#pragma once

#include <optional>

#include "platform/dshow/MediaType.h"
#include "platform/vfw/DibLayout.h"

struct PushedVideo {
    DibLayout layout;
    REFERENCE_TIME frameDuration;  // AvgTimePerFrame
};

// UYVY, YUY2, RGB24 or RGB32 frames whose subtype matches their BITMAPINFOHEADER; none otherwise.
std::optional<PushedVideo> PushedVideoOf(const CMediaType& type);
// The PCM format of a type: a WAVEFORMATEX whose cbSize may be left out.
std::optional<WAVEFORMATEX> PcmOf(const CMediaType& type);
