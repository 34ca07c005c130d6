// A libavcodec decoder for a stream, set up as every decoder of the platform's filters is.
#pragma once

#include "platform/ffmpeg/AvPointers.h"

// Times of packets sent to the decoders: 100 ns units.
inline constexpr AVRational ReferenceTimeBase = {1, 10000000};

// A decoder opened from the parameters, taking packets timed in packetTimeBase, with lowres (0 to
// 3: pictures 1, 1/2, 1/4 or 1/8 wide). Frame threading is off: a frame thread holds pictures back,
// so one packet in would no longer give at most one picture out. Null when it cannot be opened.
AvCodecContextPtr OpenDecoder(const AVCodecParameters& parameters, AVRational packetTimeBase, int lowres = 0);
