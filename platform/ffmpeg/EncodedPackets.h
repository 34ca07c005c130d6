// Takes what an encoder has ready.
#pragma once

#include <functional>

#include "AvPointers.h"

// Hands each packet the encoder has ready to `take`, until it wants more input or has ended;
// false on an encoder error or when a packet cannot be allocated.
bool TakeEncodedPackets(AVCodecContext& encoder, const std::function<void(AvPacketPtr)>& take);
