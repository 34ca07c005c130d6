#include "PaddedFrame.h"

namespace {

// Pixels of room: chroma planes at half width keep 64 bytes.
constexpr int Slack = 128;

}  // namespace

AvFramePtr NewPaddedFrame(AVPixelFormat format, int width, int height)
{
    AvFramePtr frame(av_frame_alloc());
    if (!frame)
        return nullptr;
    frame->format = format;
    frame->width = width + Slack;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 64) < 0)
        return nullptr;
    frame->width = width;
    return frame;
}
