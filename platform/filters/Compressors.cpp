#include "Compressors.h"

#include "AudioCompressor.h"
#include "DVVideoEncoder.h"
#include "VideoCompressor.h"

namespace {

template <class Filter, class Codec>
void Install(std::vector<std::pair<CLSID, DeviceEntry>>& devices, REFCLSID category, const std::vector<Codec>& codecs)
{
    for (const Codec& codec : codecs)
        if (avcodec_find_encoder_by_name(codec.encoder))
            devices.push_back({category, DeviceEntry{codec.name, codec.clsid, [&codec](IUnknown*, HRESULT* result) {
                                                         *result = S_OK;
                                                         return static_cast<CUnknown*>(new Filter(codec));
                                                     }}});
}

}  // namespace

std::vector<std::pair<CLSID, DeviceEntry>> InstalledCompressors()
{
    std::vector<std::pair<CLSID, DeviceEntry>> devices;
    Install<VideoCompressor>(devices, CLSID_VideoCompressorCategory, VideoCodecs());
    Install<DVVideoEncoder>(devices, CLSID_VideoCompressorCategory, DVCodecs());
    Install<AudioCompressor>(devices, CLSID_AudioCompressorCategory, AudioCodecs());
    return devices;
}
