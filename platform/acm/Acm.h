// The Audio Compression Manager's stream calls: a stream converts one compressed wave format to
// PCM of the same rate and channels (8-bit unsigned or 16-bit signed), keeping the decoder's
// state from one conversion to the next.
#pragma once

#include "platform/win32/Win32Types.h"

typedef UINT MMRESULT;
typedef void* HACMDRIVER;
typedef void WAVEFILTER;

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NOMEM 7
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define ACMERR_NOTPOSSIBLE 512
#define ACMERR_UNPREPARED 514

#define ACM_STREAMOPENF_QUERY 0x00000001
#define ACM_STREAMSIZEF_SOURCE 0x00000000
#define ACM_STREAMSIZEF_DESTINATION 0x00000001
#define ACM_STREAMCONVERTF_BLOCKALIGN 0x00000004
#define ACM_STREAMCONVERTF_START 0x00000010
#define ACM_STREAMCONVERTF_END 0x00000020
#define ACMSTREAMHEADER_STATUSF_DONE 0x00010000
#define ACMSTREAMHEADER_STATUSF_PREPARED 0x00020000
#define ACMSTREAMHEADER_STATUSF_INQUEUE 0x00100000

// With ACM_STREAMOPENF_QUERY only tells whether the conversion exists (stream may be null).
MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, WAVEFORMATEX* source, WAVEFORMATEX* destination,
                       WAVEFILTER* filter, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
// ACM_STREAMSIZEF_SOURCE: the most destination bytes that input source bytes can give.
MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input, DWORD* output, DWORD flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
// Converts the whole source buffer; cbDstLengthUsed tells the bytes produced. Bytes that end
// inside a codec frame are kept for the next conversion; with ACM_STREAMCONVERTF_END (the end of
// the stream) the frame they begin is decoded too.
MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags);
