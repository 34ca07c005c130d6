// Owning pointers to the FFmpeg objects the platform keeps.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

struct AvFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(SwsContext* context) const { sws_freeContext(context); }
    void operator()(SwrContext* context) const { swr_free(&context); }
    void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
    void operator()(AVCodecParameters* parameters) const { avcodec_parameters_free(&parameters); }
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvFree>;
using AvFormatContextPtr = std::unique_ptr<AVFormatContext, AvFree>;  // an opened input
using AvPacketPtr = std::unique_ptr<AVPacket, AvFree>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFree>;
using SwsContextPtr = std::unique_ptr<SwsContext, AvFree>;
using SwrContextPtr = std::unique_ptr<SwrContext, AvFree>;
using AvParserPtr = std::unique_ptr<AVCodecParserContext, AvFree>;
using AvCodecParametersPtr = std::unique_ptr<AVCodecParameters, AvFree>;
using AvAudioFifoPtr = std::unique_ptr<AVAudioFifo, AvFree>;

// What is made for writing: a format context freed (not closed as an input), and a custom I/O
// context with its buffer.
struct AvFreeOutput {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
    void operator()(AVIOContext* io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

using AvOutputContextPtr = std::unique_ptr<AVFormatContext, AvFreeOutput>;
using AvIoContextPtr = std::unique_ptr<AVIOContext, AvFreeOutput>;
