#include "Acm.h"

#include <new>

#include "AcmStream.h"
#include "platform/win32/DebugChannel.h"

namespace {

// The header's size on Windows, which callers state in cbStruct.
constexpr uint32_t HeaderSize = 84;
// The driver's part of a prepared header: the buffer lengths it was prepared with.
constexpr int PreparedSource = 0;
constexpr int PreparedDestination = 1;

AcmStream* StreamOf(HACMSTREAM stream) { return reinterpret_cast<AcmStream*>(stream); }

bool Prepared(const ACMSTREAMHEADER* header) { return header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED; }

}  // namespace

MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, WAVEFORMATEX* source, WAVEFORMATEX* destination,
                       WAVEFILTER* filter, DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    RouteFFmpegMessages();
    if (flags & ~ACM_STREAMOPENF_QUERY)
        return MMSYSERR_INVALFLAG;
    const bool query = flags & ACM_STREAMOPENF_QUERY;
    if (!query && !stream)
        return MMSYSERR_INVALPARAM;
    if (stream)
        *stream = nullptr;
    if (filter)
        return ACMERR_NOTPOSSIBLE;
    try {
        std::unique_ptr<AcmStream> opened;
        if (MMRESULT result = AcmStream::Open(source, destination, &opened))
            return result;
        if (!query)
            *stream = reinterpret_cast<HACMSTREAM>(opened.release());
        return MMSYSERR_NOERROR;
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
}

MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input, DWORD* output, DWORD flags)
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (flags != ACM_STREAMSIZEF_SOURCE)
        return MMSYSERR_INVALFLAG;
    if (!output)
        return MMSYSERR_INVALPARAM;
    return StreamOf(stream)->Size(input, output);
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags)
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (flags)
        return MMSYSERR_INVALFLAG;
    if (!header || header->cbStruct < HeaderSize || !header->pbSrc || !header->pbDst)
        return MMSYSERR_INVALPARAM;
    header->dwReservedDriver[PreparedSource] = header->cbSrcLength;
    header->dwReservedDriver[PreparedDestination] = header->cbDstLength;
    header->fdwStatus = (header->fdwStatus & ~ACMSTREAMHEADER_STATUSF_DONE) | ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags)
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (flags & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
        return MMSYSERR_INVALFLAG;
    if (!header || header->cbStruct < HeaderSize)
        return MMSYSERR_INVALPARAM;
    if (!Prepared(header))
        return ACMERR_UNPREPARED;
    if (header->cbSrcLength > header->dwReservedDriver[PreparedSource] ||
        header->cbDstLength > header->dwReservedDriver[PreparedDestination])
        return MMSYSERR_INVALPARAM;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    header->cbSrcLengthUsed = 0;
    header->cbDstLengthUsed = 0;
    try {
        MMRESULT result = StreamOf(stream)->Convert(header, flags);
        header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
        return result;
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags)
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (flags)
        return MMSYSERR_INVALFLAG;
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (!Prepared(header))
        return ACMERR_UNPREPARED;
    header->fdwStatus &= ~(ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags)
{
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (flags)
        return MMSYSERR_INVALFLAG;
    delete StreamOf(stream);
    return MMSYSERR_NOERROR;
}
