// Video for Windows decompressors: a decoder opened by FOURCC that turns one compressed
// picture (the chunk of one frame) into one picture of an agreed output format.
#pragma once

#include "platform/win32/Win32Types.h"

typedef struct HIC__* HIC;

#define ICTYPE_VIDEO mmioFOURCC('v', 'i', 'd', 'c')
#define ICMODE_DECOMPRESS 2

#define ICERR_OK 0
#define ICERR_DONTDRAW 1
#define ICERR_UNSUPPORTED -1
#define ICERR_BADFORMAT -2
#define ICERR_MEMORY -3
#define ICERR_INTERNAL -4
#define ICERR_BADFLAGS -5
#define ICERR_BADPARAM -6
#define ICERR_BADSIZE -7
#define ICERR_ERROR -100

#define ICM_USER 0x4000
#define ICM_DECOMPRESS_QUERY (ICM_USER + 11)
#define ICM_DECOMPRESS_BEGIN (ICM_USER + 12)
#define ICM_DECOMPRESS (ICM_USER + 13)
#define ICM_DECOMPRESS_END (ICM_USER + 14)
// The pictures the decoder holds back: a chunk's picture comes out after this many more chunks
// (known once a chunk has been decompressed since ICM_DECOMPRESS_BEGIN). Takes no parameters.
#define ICM_DECOMPRESS_GET_DELAY (ICM_USER + 190)

#define ICDECOMPRESS_HURRYUP 0x80000000
#define ICDECOMPRESS_NOTKEYFRAME 0x08000000

// type "VIDC" (either case), handler the stream's FOURCC; null when no decoder handles it.
HIC ICOpen(DWORD type, DWORD handler, UINT mode);
// ICM_DECOMPRESS_QUERY / BEGIN: param1 the input BITMAPINFOHEADER*, param2 the output one.
// END takes none. ICERR_OK or a negative ICERR code. BEGIN again with the formats in force
// restarts decoding: pictures held back are dropped, and the next chunk must be a key frame.
// GET_DELAY answers the delay (0 or more), or a negative ICERR code.
LRESULT ICSendMessage(HIC decoder, UINT message, DWORD_PTR param1, DWORD_PTR param2);
// Decodes the biSizeImage bytes at data (input->biSizeImage is the chunk's size) into bits,
// laid out as output describes (DIB rows: RGB bottom-up for a positive height, rows padded to
// 4 bytes). Decoder state carries over, so P-frames follow their references. A decoder that holds
// pictures back (MPEG-4 or H.264 with B-frames) yields the picture it hands out after this chunk,
// in display order; an empty chunk (biSizeImage 0) hands out one picture still held at the end of
// the stream, and the chunk after it begins decoding anew. Pictures handed out before the first
// chunk's own picture since decoding began (those shown before a key frame, which lean on
// pictures before it) are not pictures of the stream and count as none. ICERR_DONTDRAW when the
// call hands out none: bits keep the previous picture, or are black when none came since
// ICM_DECOMPRESS_BEGIN.
DWORD ICDecompress(HIC decoder, DWORD flags, BITMAPINFOHEADER* input, void* data, BITMAPINFOHEADER* output,
                   void* bits);
LRESULT ICClose(HIC decoder);
