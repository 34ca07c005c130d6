#include "PictureEncoder.h"

#include <cstring>

#include "platform/ffmpeg/EncodedPackets.h"
#include "platform/ffmpeg/PaddedFrame.h"
#include "platform/win32/DebugChannel.h"

namespace {

constexpr size_t BlockBytes = 3100;
constexpr size_t PacketSlack = 16384;

}  // namespace

AVPixelFormat PictureEncoder::InputFormat(const DibLayout& layout)
{
    return layout.format == AV_PIX_FMT_BGRA ? AV_PIX_FMT_BGR0 : layout.format;
}

size_t PictureEncoder::PacketBound(int width, int height)
{
    return size_t((width + 15) / 16) * size_t((height + 15) / 16) * BlockBytes + PacketSlack;
}

std::unique_ptr<PictureEncoder> PictureEncoder::Open(const VideoEncoding& encoding, const DibLayout& layout,
                                                     int64_t frameDuration)
{
    RouteFFmpegMessages();
    const int width = encoding.width ? encoding.width : layout.width;
    const int height = encoding.height ? encoding.height : layout.height;
    AvCodecContextPtr context = OpenVideoEncoder(encoding, width, height, frameDuration);
    if (!context)
        return nullptr;
    std::unique_ptr<PictureEncoder> encoder(new PictureEncoder(layout, std::move(context)));
    const AVPixelFormat input = InputFormat(layout);
    const bool packed422 = input == AV_PIX_FMT_UYVY422 || input == AV_PIX_FMT_YUYV422;
    encoder->m_Columns = layout.width + (packed422 ? layout.width % 2 : 0);
    encoder->m_Picture = NewPaddedFrame(encoding.format, width, height);
    if (!encoder->m_Picture)
        return nullptr;
    const bool scaled = width != layout.width || height != layout.height;
    if (input != encoding.format || scaled) {
        // Scaled frames are read at their own width: the extra column would be scaled in.
        const int columns = scaled ? layout.width : encoder->m_Columns;
        encoder->m_Source = NewPaddedFrame(input, encoder->m_Columns, layout.height);
        encoder->m_Scaler.reset(sws_getContext(columns, layout.height, input, scaled ? width : columns, height,
                                               encoding.format, encoding.scaleFlags, nullptr, nullptr, nullptr));
        if (!encoder->m_Source || !encoder->m_Scaler)
            return nullptr;
    }
    return encoder;
}

bool PictureEncoder::Encode(const uint8_t* bits)
{
    // The encoder may still hold the last picture: the next goes into a new one.
    if (!av_frame_is_writable(m_Picture.get()) &&
        !(m_Picture = NewPaddedFrame(m_Encoder->pix_fmt, m_Encoder->width, m_Encoder->height)))
        return false;
    AVFrame& rows = m_Scaler ? *m_Source : *m_Picture;
    for (int y = 0; y < m_Layout.height; y++)
        memcpy(rows.data[0] + size_t(y) * rows.linesize[0],
               bits + size_t(m_Layout.bottomUp ? m_Layout.height - 1 - y : y) * m_Layout.pitch, m_Layout.pitch);
    if (m_Scaler && sws_scale(m_Scaler.get(), m_Source->data, m_Source->linesize, 0, m_Layout.height,
                              m_Picture->data, m_Picture->linesize) != m_Encoder->height)
        return false;
    m_Picture->pts = m_Count++;
    return SendPicture(*m_Encoder, m_Picture.get()) >= 0 && Receive();
}

bool PictureEncoder::Drain()
{
    const int result = SendPicture(*m_Encoder, nullptr);
    return (result >= 0 || result == AVERROR_EOF) && Receive();
}

bool PictureEncoder::Receive()
{
    return TakeEncodedPackets(*m_Encoder, [this](AvPacketPtr packet) { m_Ready.push_back(std::move(packet)); });
}

AvPacketPtr PictureEncoder::Next()
{
    if (m_Ready.empty())
        return nullptr;
    AvPacketPtr packet = std::move(m_Ready.front());
    m_Ready.pop_front();
    return packet;
}
