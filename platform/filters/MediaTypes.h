// The compressed media types that the sources hand out, and the decoders' way back from such a
// type to libavcodec's parameters.
//
// Video: MEDIATYPE_Video, FORMAT_VideoInfo, the subtype of the FOURCC (the stream's own tag where
// FFmpeg's RIFF table knows it, else the table's tag for the codec; DV is always dvsd), with the
// codec's set-up bytes after the BITMAPINFOHEADER. Audio: MEDIATYPE_Audio, FORMAT_WaveFormatEx, the
// subtype of wFormatTag from the RIFF table, the set-up bytes after the WAVEFORMATEX (cbSize).
// A codec that the RIFF tables do not name gets the subtype LibavcodecSubtype(codec id) (FOURCC
// "LAVC" or wFormatTag 0 in the format), so that every decodable stream has a type.
#pragma once

#include <optional>
#include <vector>

#include "platform/dshow/Strmif.h"
#include "platform/ffmpeg/AvPointers.h"

struct StreamFormat {
    GUID majortype;
    GUID subtype;
    GUID formattype;
    std::vector<BYTE> format;  // VIDEOINFOHEADER or WAVEFORMATEX, then the codec's set-up bytes
};

GUID LibavcodecSubtype(AVCodecID codec);

// The type of a video or audio stream; none for other streams.
std::optional<StreamFormat> CompressedFormat(const AVStream& stream);

// The parameters to open a decoder for a type; null when the type names no codec or is malformed.
AvCodecParametersPtr DecoderParameters(const GUID& majortype, const GUID& subtype, const GUID& formattype,
                                       const BYTE* format, size_t size);

// The time a picture lasts: 1 / the stream's average frame rate, else its base frame rate; 0 if
// neither is known.
REFERENCE_TIME FrameDuration(const AVStream& stream);
