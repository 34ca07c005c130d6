// The compressors the platform installs in the device registry's compressor categories: one for
// each codec of VideoCodecs(), DVCodecs() and AudioCodecs() whose encoder this libavcodec has.
#pragma once

#include <utility>
#include <vector>

#include "platform/devices/DeviceRegistry.h"

// (category, device) pairs, video compressors first, each in its table's order.
std::vector<std::pair<CLSID, DeviceEntry>> InstalledCompressors();
