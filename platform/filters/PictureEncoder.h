// A video encoder fed with pushed frames: DIB rows (UYVY, YUY2, RGB24 or RGB32, either row
// order) converted to the encoder's pictures (scaled to the encoding's size when it has one), and
// the packets it gives, one for each picture.
#pragma once

#include <deque>
#include <memory>

#include "VideoEncoding.h"
#include "platform/vfw/DibLayout.h"

class PictureEncoder {
public:
    // Null when the encoder does not open for frames of this layout.
    static std::unique_ptr<PictureEncoder> Open(const VideoEncoding& encoding, const DibLayout& layout,
                                                int64_t frameDuration);
    // The frames' format as the encodings name it (RGB32's fourth byte is not a colour).
    static AVPixelFormat InputFormat(const DibLayout& layout);
    // The most bytes a packet of a picture of that size takes: libavcodec's own limits for these
    // encoders (mpegvideo reserves 3100 bytes a 16x16 block, HuffYUV and FFV1 12 a pixel) and
    // the slack it adds.
    static size_t PacketBound(int width, int height);

    const AVCodecContext& Encoder() const { return *m_Encoder; }
    // Converts one frame of the layout and encodes it; false when the encoder fails.
    bool Encode(const uint8_t* bits);
    // Ends the stream: the encoder gives what it still holds and takes nothing more.
    bool Drain();
    // The next packet, in order; null when none is ready.
    AvPacketPtr Next();

private:
    PictureEncoder(const DibLayout& layout, AvCodecContextPtr encoder)
        : m_Layout(layout), m_Encoder(std::move(encoder))
    {
    }
    bool Receive();

    const DibLayout m_Layout;
    // Packed 4:2:2 rows of odd width are converted one column wider, so that the last pixel's
    // chroma pair is read whole; the extra column lands in the picture's slack.
    int m_Columns = 0;
    AvCodecContextPtr m_Encoder;
    SwsContextPtr m_Scaler;  // none when the frames are in the encoder's format
    AvFramePtr m_Source;     // the frame's rows, top first, with slack
    AvFramePtr m_Picture;
    int64_t m_Count = 0;
    std::deque<AvPacketPtr> m_Ready;
};
