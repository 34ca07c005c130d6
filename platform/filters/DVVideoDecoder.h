// The "DV Video Decoder" (CLSID_DVVideoCodec): the video decoder for dvsd, with its display size
// (IIPDVDec) chosen among full, half, quarter and one eighth (DC only).
#pragma once

#include "VideoDecoder.h"

class DVVideoDecoder final : public VideoDecoder, public IIPDVDec {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT CheckInputType(const CMediaType* input) override;

    // DVRESOLUTION_FULL, _HALF, _QUARTER or _DC; E_INVALIDARG for anything else. When the new size
    // is taken: see m_RequestedLowres.
    HRESULT put_IPDisplay(int displayPix) override;
    HRESULT get_IPDisplay(int* displayPix) override;

private:
    explicit DVVideoDecoder(IUnknown* outer) : VideoDecoder("DV Video Decoder", outer, CLSID_DVVideoCodec) {}
};
