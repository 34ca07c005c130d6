#include "OpenDecoder.h"

AvCodecContextPtr OpenDecoder(const AVCodecParameters& parameters, AVRational packetTimeBase, int lowres)
{
    const AVCodec* decoder = avcodec_find_decoder(parameters.codec_id);
    if (!decoder)
        return nullptr;
    AvCodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context || avcodec_parameters_to_context(context.get(), &parameters) < 0)
        return nullptr;
    context->pkt_timebase = packetTimeBase;
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = 0;
    context->lowres = lowres;
    if (avcodec_open2(context.get(), decoder, nullptr) < 0)
        return nullptr;
    return context;
}
