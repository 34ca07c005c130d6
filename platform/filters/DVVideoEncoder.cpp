#include "DVVideoEncoder.h"

#include "DvInfo.h"

namespace {

constexpr int Width = 720;
// A DV frame is 10 (NTSC) or 12 (PAL) DIF sequences of 150 blocks of 80 bytes.
constexpr size_t SequenceBytes = 150 * 80;

}  // namespace

CUnknown* DVVideoEncoder::CreateInstance(IUnknown*, HRESULT* result)
{
    *result = S_OK;
    return new DVVideoEncoder(DVCodecs().front());
}

HRESULT DVVideoEncoder::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IDVEnc)
        return GetInterface(static_cast<IDVEnc*>(this), object);
    return VideoCompressor::NonDelegatingQueryInterface(iid, object);
}

HRESULT DVVideoEncoder::get_IFormatResolution(int* videoFormat, int* dvFormat, int* resolution, BYTE dvInfoWanted,
                                              DVINFO* dvInfo)
{
    if (!videoFormat || !dvFormat || !resolution || (dvInfoWanted && !dvInfo))
        return E_POINTER;
    const int standard = m_VideoFormat;
    // The frames carry no sound: the audio packs are those the DV Mux writes until told a rate.
    if (dvInfoWanted)
        *dvInfo = DvInfoFor(standard == DVENCODERVIDEOFORMAT_PAL, 48000);
    *videoFormat = standard;
    *dvFormat = DVENCODERFORMAT_DVSD;
    *resolution = DVENCODERRESOLUTION_720x480;
    return S_OK;
}

HRESULT DVVideoEncoder::put_IFormatResolution(int videoFormat, int dvFormat, int resolution, BYTE dvInfoGiven,
                                              DVINFO*)
{
    if (dvInfoGiven)
        return E_NOTIMPL;
    if ((videoFormat != DVENCODERVIDEOFORMAT_NTSC && videoFormat != DVENCODERVIDEOFORMAT_PAL) ||
        dvFormat != DVENCODERFORMAT_DVSD || resolution != DVENCODERRESOLUTION_720x480)
        return E_FAIL;
    m_VideoFormat = videoFormat;
    return S_OK;
}

std::optional<VideoEncoding> DVVideoEncoder::EncodingOf(AVPixelFormat input) const
{
    std::optional<VideoEncoding> encoding = VideoCompressor::EncodingOf(input);
    if (!encoding)
        return encoding;
    const bool pal = m_VideoFormat == DVENCODERVIDEOFORMAT_PAL;
    if (pal)
        encoding->format = AV_PIX_FMT_YUV420P;
    encoding->width = Width;
    encoding->height = pal ? 576 : 480;
    encoding->packetBytes = (pal ? 12 : 10) * SequenceBytes;
    return encoding;
}
