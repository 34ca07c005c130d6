#include "StreamEnd.h"

#include <algorithm>

#include "platform/ffmpeg/AvPointers.h"

namespace {

// Packets of the stream read at most past the seek.
constexpr size_t MaxEndPackets = 4096;

}  // namespace

int64_t StreamEnd(AVFormatContext* file, int index)
{
    if (file->duration == AV_NOPTS_VALUE || file->duration <= 0)
        return AV_NOPTS_VALUE;
    const int64_t start = file->start_time != AV_NOPTS_VALUE ? file->start_time : 0;
    if (av_seek_frame(file, -1, start + std::max<int64_t>(0, file->duration - AV_TIME_BASE), AVSEEK_FLAG_BACKWARD) < 0)
        return AV_NOPTS_VALUE;
    int64_t end = AV_NOPTS_VALUE;
    AvPacketPtr packet(av_packet_alloc());
    for (size_t n = 0; packet && n < MaxEndPackets && av_read_frame(file, packet.get()) >= 0;) {
        const bool ours = packet->stream_index == index;
        if (ours && packet->pts != AV_NOPTS_VALUE)
            end = std::max(end, packet->pts + std::max<int64_t>(packet->duration, 0));
        n += ours;
        av_packet_unref(packet.get());
    }
    return end;
}
