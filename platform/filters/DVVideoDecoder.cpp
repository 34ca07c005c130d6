#include "DVVideoDecoder.h"

CUnknown* DVVideoDecoder::CreateInstance(IUnknown* outer, HRESULT* result)
{
    *result = S_OK;
    return new DVVideoDecoder(outer);
}

HRESULT DVVideoDecoder::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IIPDVDec)
        return GetInterface(static_cast<IIPDVDec*>(this), object);
    return VideoDecoder::NonDelegatingQueryInterface(iid, object);
}

HRESULT DVVideoDecoder::CheckInputType(const CMediaType* input)
{
    return input->subtype == MEDIASUBTYPE_dvsd ? VideoDecoder::CheckInputType(input) : VFW_E_TYPE_NOT_ACCEPTED;
}

// Each step down halves the picture: libavcodec's lowres.
HRESULT DVVideoDecoder::put_IPDisplay(int displayPix)
{
    if (displayPix < DVRESOLUTION_FULL || displayPix > DVRESOLUTION_DC)
        return E_INVALIDARG;
    m_RequestedLowres = displayPix - DVRESOLUTION_FULL;
    return S_OK;
}

HRESULT DVVideoDecoder::get_IPDisplay(int* displayPix)
{
    if (!displayPix)
        return E_POINTER;
    *displayPix = DVRESOLUTION_FULL + m_RequestedLowres;
    return S_OK;
}
