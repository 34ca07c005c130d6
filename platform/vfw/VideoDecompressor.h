// The decoder behind an HIC: the libavcodec decoder for a FOURCC, opened from the stream's
// BITMAPINFOHEADER, that turns each compressed picture into one picture of the agreed DIB format.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/ffmpeg/AvPointers.h"
#include "DibConverter.h"
#include "DibLayout.h"
#include "Vfw.h"

class VideoDecompressor {
public:
    // Null when libavcodec has no decoder for the FOURCC (either case).
    static const AVCodec* FindDecoder(FOURCC handler);

    VideoDecompressor(const AVCodec* decoder, FOURCC handler);

    // ICERR_OK when this decoder reads the input and writes the output.
    LRESULT Query(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) const;
    // Opens the decoder and the conversion for the pair; the input's extra bytes after the first
    // 40 (up to biSize) are the codec's set-up data. The pair already begun only restarts decoding.
    LRESULT Begin(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
    void End();
    // The pictures the decoder holds back, as far as the chunks decoded so far tell.
    LRESULT Delay() const;
    // One packet of input->biSizeImage bytes in; the picture that the decoder hands out after it
    // into bits. An empty packet hands out one picture held back at the end of the stream; the
    // packet after it starts decoding anew. ICERR_DONTDRAW when it hands out none: bits get the
    // previous picture, or turn black when the decoder has handed out none since Begin. With
    // ICDECOMPRESS_HURRYUP the picture is decoded but not drawn (decoding up to a wanted picture);
    // bits are left alone and it is drawn later if no newer picture comes. A B-frame in a hurry
    // may not be decoded at all where that changes no picture handed out after the chunks to come.
    LRESULT Decompress(DWORD flags, const BITMAPINFOHEADER* input, const void* data, const BITMAPINFOHEADER* output,
                       void* bits);

private:
    std::optional<DibLayout> OutputLayout(const BITMAPINFOHEADER& output) const;
    void Restart();
    LRESULT Receive(DWORD flags, bool one, void* bits);
    LRESULT Draw(void* bits);
    static std::vector<uint8_t> HeaderBytes(const BITMAPINFOHEADER& input);

    const AVCodec* const m_Decoder;
    const FOURCC m_Handler;
    // Between Begin and End:
    AvCodecContextPtr m_Codec;
    std::optional<DibLayout> m_Layout;
    std::unique_ptr<DibConverter> m_Converter;
    AvPacketPtr m_Packet;
    AvFramePtr m_Received;         // the decoder's latest picture
    AvFramePtr m_Undrawn;          // a picture decoded in a hurry and not drawn yet
    std::vector<uint8_t> m_Input;  // the input header begun with, set-up bytes included
    bool m_Shown = false;          // a picture was handed out since Begin
    // Packets are numbered from 0 since decoding began; the pictures handed out before packet 0's
    // own come from packets shown before it, whose references it does not have.
    int64_t m_Packets = 0;
    bool m_FirstOut = false;  // packet 0's picture came out
    bool m_Draining = false;  // the end of the stream was sent
};
