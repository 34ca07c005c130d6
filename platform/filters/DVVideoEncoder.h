// The DV Video Encoder: a video compressor whose frames, at any size, are scaled to DV's pictures
// (720x480 4:1:1 for NTSC, 720x576 4:2:0 for PAL) and coded as 'dvsd' frames of DV's fixed size,
// each a key frame. IDVEnc chooses NTSC or PAL (standard definition, full size only); the choice
// takes effect when the input next connects.
#pragma once

#include <atomic>

#include "VideoCompressor.h"

class DVVideoEncoder final : public VideoCompressor, public IDVEnc {
public:
    explicit DVVideoEncoder(const VideoCodec& codec) : VideoCompressor(codec) {}
    // The encoder made by class id (CLSID_DVVideoEnc), as the DV output makes it.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
    // Gives the DVINFO of the standard chosen (see DvInfoFor; audio packs for 48 kHz); one is
    // not taken (E_NOTIMPL).
    HRESULT get_IFormatResolution(int* videoFormat, int* dvFormat, int* resolution, BYTE dvInfoWanted,
                                  DVINFO* dvInfo) override;
    HRESULT put_IFormatResolution(int videoFormat, int dvFormat, int resolution, BYTE dvInfoGiven,
                                  DVINFO* dvInfo) override;

private:
    std::optional<VideoEncoding> EncodingOf(AVPixelFormat input) const override;

    std::atomic<int> m_VideoFormat{DVENCODERVIDEOFORMAT_NTSC};
};
