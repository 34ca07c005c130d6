// Where a stream really ends, for streams that state no length of their own: some containers (NUT)
// end the file's stated length at its last packet's start, so the last packets are read.
#pragma once

#include <cstdint>

struct AVFormatContext;

// The end of the stream's last packet (its time base), read from about the file's last second on;
// AV_NOPTS_VALUE when the file cannot be read there. Leaves the file at some position near its end.
int64_t StreamEnd(AVFormatContext* file, int index);
