#include "Vfw.h"

#include <new>

#include "VideoDecompressor.h"
#include "platform/win32/DebugChannel.h"

struct HIC__ : VideoDecompressor {
    using VideoDecompressor::VideoDecompressor;
};

HIC ICOpen(DWORD type, DWORD handler, UINT mode)
{
    RouteFFmpegMessages();
    if ((type != ICTYPE_VIDEO && type != FCC("VIDC")) || mode != ICMODE_DECOMPRESS)
        return nullptr;
    const AVCodec* decoder = VideoDecompressor::FindDecoder(handler);
    return decoder ? new (std::nothrow) HIC__(decoder, handler) : nullptr;
}

LRESULT ICSendMessage(HIC decoder, UINT message, DWORD_PTR param1, DWORD_PTR param2)
{
    if (!decoder)
        return ICERR_BADPARAM;
    const auto* input = (const BITMAPINFOHEADER*)param1;
    const auto* output = (const BITMAPINFOHEADER*)param2;
    switch (message) {
    case ICM_DECOMPRESS_QUERY:
        return decoder->Query(input, output);
    case ICM_DECOMPRESS_BEGIN:
        return decoder->Begin(input, output);
    case ICM_DECOMPRESS_END:
        decoder->End();
        return ICERR_OK;
    case ICM_DECOMPRESS_GET_DELAY:
        return decoder->Delay();
    }
    return ICERR_UNSUPPORTED;
}

// The flags tell the decoder nothing it needs: the reader passes 0 for a frame that follows the
// last one decoded as well as for a key frame.
DWORD ICDecompress(HIC decoder, DWORD flags, BITMAPINFOHEADER* input, void* data, BITMAPINFOHEADER* output,
                   void* bits)
{
    return DWORD(decoder ? decoder->Decompress(flags, input, data, output, bits) : ICERR_BADPARAM);
}

LRESULT ICClose(HIC decoder)
{
    delete decoder;
    return ICERR_OK;
}
