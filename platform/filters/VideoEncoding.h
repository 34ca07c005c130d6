// How a video compressor drives its libavcodec encoder, so that a benchmark can drive the same
// encoder with the very same set-up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ffmpeg/AvPointers.h"

struct VideoEncoding {
    std::string encoder;   // libavcodec's name
    AVPixelFormat format;  // the pictures it is given
    std::string options;   // for av_dict_parse_string(..., "=", ":", 0)
    int scaleFlags;        // libswscale's, from the pushed frames to `format`
    int width = 0, height = 0;  // the pictures' size, when the frames are scaled to one
    size_t packetBytes = 0;     // every packet's size, for a codec whose packets have one
};

struct VideoCodec;

// The encoding of a codec at its settings' values for frames of `input` (UYVY422, YUYV422, BGR24
// or BGR0); none when the codec takes no such frames.
std::optional<VideoEncoding> VideoEncodingOf(const VideoCodec& codec, const std::vector<int>& values,
                                             AVPixelFormat input);
// The same for the compressor of that friendly name at its initial settings.
std::optional<VideoEncoding> DefaultVideoEncoding(const std::wstring& name, AVPixelFormat input);

// The encoder opened for pictures of the size, each lasting frameDuration (100 ns units; 0 when
// unknown); null when it does not open, an option included.
AvCodecContextPtr OpenVideoEncoder(const VideoEncoding& encoding, int width, int height, int64_t frameDuration);
// Sends a picture (null: the end). The fixed quantiser is taken from each picture, not from the
// encoder's options, so the picture gets the encoder's global quality.
int SendPicture(AVCodecContext& encoder, AVFrame* picture);
