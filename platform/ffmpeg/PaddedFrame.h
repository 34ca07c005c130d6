// Pictures whose rows have room after their end: libswscale's vector code reads and writes up to
// about 60 bytes past a row, which must land in the row's own padding.
#pragma once

#include "AvPointers.h"

// A picture of the format and size whose every plane's rows have at least 64 bytes after the
// picture's width; null when it cannot be allocated.
AvFramePtr NewPaddedFrame(AVPixelFormat format, int width, int height);
