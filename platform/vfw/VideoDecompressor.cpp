#include "VideoDecompressor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// The codec's set-up bytes after the header are small; this bounds what a damaged biSize reads.
constexpr DWORD MaxExtraBytes = 1024;

// MPEG-1, -2 and -4 part 2 decoders hold one reference picture back and hand a B-frame out as
// soon as it is decoded.
bool ShowsBFramesAtOnce(AVCodecID codec)
{
    return codec == AV_CODEC_ID_MPEG4 || codec == AV_CODEC_ID_MPEG1VIDEO || codec == AV_CODEC_ID_MPEG2VIDEO;
}

AVCodecID CodecOf(FOURCC fcc)
{
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_id(tables, fcc);
}

}  // namespace

const AVCodec* VideoDecompressor::FindDecoder(FOURCC handler)
{
    const AVCodecID id = CodecOf(handler);
    return id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
}

VideoDecompressor::VideoDecompressor(const AVCodec* decoder, FOURCC handler) : m_Decoder(decoder), m_Handler(handler)
{
}

// The reader reports YUV from "cvid" as bottom-up, so it is delivered so.
std::optional<DibLayout> VideoDecompressor::OutputLayout(const BITMAPINFOHEADER& output) const
{
    return DibLayout::Of(output, m_Handler == FCC("cvid"));
}

LRESULT VideoDecompressor::Query(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) const
{
    if (!input || !output)
        return ICERR_BADPARAM;
    if (CodecOf(input->biCompression) != m_Decoder->id)
        return ICERR_BADFORMAT;
    const std::optional<DibLayout> layout = OutputLayout(*output);
    if (!layout || output->biWidth != input->biWidth || std::llabs(output->biHeight) != std::llabs(input->biHeight))
        return ICERR_BADFORMAT;
    return output->biSizeImage < layout->Size() ? ICERR_BADSIZE : ICERR_OK;
}

std::vector<uint8_t> VideoDecompressor::HeaderBytes(const BITMAPINFOHEADER& input)
{
    const DWORD size = sizeof input + (input.biSize > sizeof input ? std::min<DWORD>(input.biSize - sizeof input, MaxExtraBytes) : 0);
    return std::vector<uint8_t>((const uint8_t*)&input, (const uint8_t*)&input + size);
}

LRESULT VideoDecompressor::Begin(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output)
{
    if (m_Codec && input && output && OutputLayout(*output) == m_Layout && HeaderBytes(*input) == m_Input) {
        Restart();
        m_Shown = false;
        return ICERR_OK;
    }
    End();
    if (const LRESULT answer = Query(input, output); answer != ICERR_OK)
        return answer;

    AvCodecContextPtr codec(avcodec_alloc_context3(m_Decoder));
    AvPacketPtr packet(av_packet_alloc());
    AvFramePtr received(av_frame_alloc()), undrawn(av_frame_alloc());
    if (!codec || !packet || !received || !undrawn)
        return ICERR_MEMORY;
    codec->codec_tag = input->biCompression;
    codec->width = input->biWidth;
    codec->height = std::abs(input->biHeight);
    codec->bits_per_coded_sample = input->biBitCount;
    // One packet in, one picture out: slice threads only, since frame threads delay pictures.
    codec->thread_type = FF_THREAD_SLICE;
    codec->thread_count = 0;
    std::vector<uint8_t> header = HeaderBytes(*input);
    if (const size_t extraBytes = header.size() - sizeof *input) {
        codec->extradata = (uint8_t*)av_mallocz(extraBytes + AV_INPUT_BUFFER_PADDING_SIZE);
        if (!codec->extradata)
            return ICERR_MEMORY;
        memcpy(codec->extradata, input + 1, extraBytes);
        codec->extradata_size = int(extraBytes);
    }
    if (avcodec_open2(codec.get(), m_Decoder, nullptr) < 0)
        return ICERR_BADFORMAT;

    const DibLayout layout = *OutputLayout(*output);
    try {
        m_Converter = std::make_unique<DibConverter>(layout);
    } catch (const std::bad_alloc&) {
        return ICERR_MEMORY;
    }
    m_Layout = layout;
    m_Codec = std::move(codec);
    m_Packet = std::move(packet);
    m_Received = std::move(received);
    m_Undrawn = std::move(undrawn);
    m_Input = std::move(header);
    m_Shown = false;
    m_Packets = 0;
    m_FirstOut = m_Draining = false;
    return ICERR_OK;
}

// Decoding anew from the next packet, which must be a key frame; the picture drawn last stays.
void VideoDecompressor::Restart()
{
    avcodec_flush_buffers(m_Codec.get());
    av_frame_unref(m_Undrawn.get());
    m_Packets = 0;
    m_FirstOut = m_Draining = false;
}

LRESULT VideoDecompressor::Delay() const { return m_Codec ? std::max(0, m_Codec->has_b_frames) : ICERR_ERROR; }

void VideoDecompressor::End()
{
    m_Codec.reset();
    m_Layout.reset();
    m_Converter.reset();
    m_Packet.reset();
    m_Received.reset();
    m_Undrawn.reset();
    m_Input.clear();
}

LRESULT VideoDecompressor::Decompress(DWORD flags, const BITMAPINFOHEADER* input, const void* data,
                                      const BITMAPINFOHEADER* output, void* bits)
{
    if (!m_Codec)
        return ICERR_ERROR;
    if (!input || !output || !bits || (!data && input->biSizeImage))
        return ICERR_BADPARAM;
    // The picture goes only where Begin agreed to put it.
    if (OutputLayout(*output) != m_Layout)
        return ICERR_BADFORMAT;
    if (output->biSizeImage < m_Layout->Size())
        return ICERR_BADSIZE;
    if (input->biSizeImage == 0) {
        if (!m_Draining && avcodec_send_packet(m_Codec.get(), nullptr) < 0)
            return ICERR_ERROR;
        m_Draining = true;
        return Receive(flags, true, bits);
    }
    if (m_Draining)
        Restart();

    AVPacket* packet = m_Packet.get();
    if (av_new_packet(packet, int(input->biSizeImage)) < 0)  // zeroes the padding decoders read
        return ICERR_MEMORY;
    memcpy(packet->data, data, input->biSizeImage);
    packet->pts = m_Packets++;
    // In a hurry, B-frames of codecs that show them as they come are skipped: nothing refers to
    // them, and the pictures handed out after the next chunk are the same.
    m_Codec->skip_frame = (flags & ICDECOMPRESS_HURRYUP) && ShowsBFramesAtOnce(m_Decoder->id) ? AVDISCARD_NONREF
                                                                                             : AVDISCARD_DEFAULT;
    const int sent = avcodec_send_packet(m_Codec.get(), packet);
    av_packet_unref(packet);
    if (sent < 0)
        return ICERR_ERROR;
    return Receive(flags, false, bits);
}

// Takes the pictures the decoder hands out now (one at most at the end of the stream); only the
// last is drawn, and it replaces any undrawn one.
LRESULT VideoDecompressor::Receive(DWORD flags, bool one, void* bits)
{
    int received;
    bool decoded = false;
    while ((received = avcodec_receive_frame(m_Codec.get(), m_Received.get())) == 0) {
        const int64_t packet = m_Received->pts;
        if (!m_FirstOut && packet != 0 && packet != AV_NOPTS_VALUE) {
            av_frame_unref(m_Received.get());
            continue;
        }
        m_FirstOut = true;
        av_frame_unref(m_Undrawn.get());
        av_frame_move_ref(m_Undrawn.get(), m_Received.get());
        decoded = m_Shown = true;
        if (one)
            break;
    }
    if (received != 0 && received != AVERROR(EAGAIN) && received != AVERROR_EOF)
        return ICERR_ERROR;
    if (flags & ICDECOMPRESS_HURRYUP)
        return decoded ? ICERR_OK : ICERR_DONTDRAW;
    if (const LRESULT drawn = Draw(bits); drawn != ICERR_OK)
        return drawn;
    return decoded ? ICERR_OK : ICERR_DONTDRAW;
}

// Bits get the picture not drawn yet, if any; black when none was handed out since Begin; else
// they keep the picture drawn last.
LRESULT VideoDecompressor::Draw(void* bits)
{
    if (m_Undrawn->data[0]) {
        const bool converted = m_Converter->Convert(m_Undrawn.get(), (uint8_t*)bits);
        av_frame_unref(m_Undrawn.get());
        return converted ? ICERR_OK : ICERR_INTERNAL;
    }
    if (!m_Shown)
        m_Converter->FillBlack((uint8_t*)bits);
    return ICERR_OK;
}
