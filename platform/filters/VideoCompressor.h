// A video compressor over libavcodec for one codec of VideoCodecs(): pushed frames (UYVY, YUY2,
// RGB24, RGB32) in, a packet for each frame out with the frame's times, key frames marked as sync
// points. Its output type: FORMAT_VideoInfo with a BITMAPINFOHEADER (biCompression the codec's
// FOURCC, the pictures' size, biSizeImage the largest packet or every packet's size) followed by
// the encoder's set-up bytes.
#pragma once

#include <deque>
#include <memory>

#include "CompressorFilter.h"
#include "PictureEncoder.h"

class VideoCompressor : public CompressorFilter {
public:
    explicit VideoCompressor(const VideoCodec& codec);

protected:
    // The encoding of frames in that format (as PictureEncoder::InputFormat names it) with the
    // settings now; none for frames the codec refuses.
    virtual std::optional<VideoEncoding> EncodingOf(AVPixelFormat input) const;

    const VideoCodec& m_Codec;

private:
    // Where the input's frames lie and how they are encoded; none for a type the codec refuses.
    struct Input {
        DibLayout layout;
        VideoEncoding encoding;
        REFERENCE_TIME frameDuration;
    };
    std::optional<Input> InputOf(const CMediaType& type) const;

    bool OutputFor(const CMediaType& input, CMediaType* output, LONG* packetBound) const override;
    bool Connect(const CMediaType& input) override;
    void Disconnect() override;
    bool Restart() override;
    bool Encode(IMediaSample* sample) override;
    bool Finish() override;
    bool Next(TimedPacket* packet) override;

    std::optional<Input> m_Input;  // while connected
    std::unique_ptr<PictureEncoder> m_Encoder;
    // The times of the frames whose packets have not come out yet.
    std::deque<std::pair<std::optional<REFERENCE_TIME>, std::optional<REFERENCE_TIME>>> m_Times;
};
