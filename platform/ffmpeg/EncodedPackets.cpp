#include "EncodedPackets.h"

bool TakeEncodedPackets(AVCodecContext& encoder, const std::function<void(AvPacketPtr)>& take)
{
    for (;;) {
        AvPacketPtr packet(av_packet_alloc());
        if (!packet)
            return false;
        const int result = avcodec_receive_packet(&encoder, packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0)
            return false;
        take(std::move(packet));
    }
}
