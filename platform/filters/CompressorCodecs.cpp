#include "CompressorCodecs.h"

#include <algorithm>
#include <cstring>

namespace {

// "Quality" runs from 1 to 100 (best): the fixed quantiser from 31 down to 1, given to the
// encoder as the lambda of global_quality (a fixed quantiser needs +qscale and qmin 1).
int QualityLambda(int quality) { return (1 + ((100 - quality) * 30 + 49) / 99) * FF_QP2LAMBDA; }
int Same(int value) { return value; }

constexpr int MostFramesBetweenKeys = 600;

}  // namespace

int Kilobits(int value) { return value * 1000; }

const std::vector<VideoCodec>& VideoCodecs()
{
    static const std::vector<VideoCodec> codecs{
        {L"Motion JPEG", MakeGuid("5A5067BC-3B37-4936-BDAE-6B976342BF03"), "mjpeg", FCC("MJPG"), AV_PIX_FMT_YUVJ422P,
         AV_PIX_FMT_YUVJ422P, false, "flags=+qscale:qmin=1:qmax=31",
         {{"Quality", 90, 1, 100, "global_quality", QualityLambda}}},
        // RGB stays RGB, so that it is lossless too; the X byte of RGB32 frames is not kept.
        {L"HuffYUV (lossless)", MakeGuid("D886B970-99BA-4AD5-B924-062729787A18"), "huffyuv", FCC("HFYU"),
         AV_PIX_FMT_YUV422P, AV_PIX_FMT_RGB24, false, "", {}},
        // Version 3 keeps its configuration in the set-up bytes and checks each slice.
        {L"FFV1 (lossless)", MakeGuid("95AA8B6F-D45F-4822-85B5-04C80C48E835"), "ffv1", FCC("FFV1"), AV_PIX_FMT_YUV422P,
         AV_PIX_FMT_BGR0, true, "level=3:slicecrc=1",
         {{"Key-frame interval", 1, 1, MostFramesBetweenKeys, "g", Same}}},
        // No B-frames: one packet out for each picture in, in order.
        {L"MPEG-4 Part 2", MakeGuid("867B4EB3-5720-4403-BC86-EBC58E5D7D77"), "mpeg4", FCC("FMP4"), AV_PIX_FMT_YUV420P,
         AV_PIX_FMT_YUV420P, true, "bf=0:flags=+qscale:qmin=1:qmax=31",
         {{"Quality", 85, 1, 100, "global_quality", QualityLambda},
          {"Key-frame interval", 25, 1, MostFramesBetweenKeys, "g", Same}}},
    };
    return codecs;
}

const std::vector<VideoCodec>& DVCodecs()
{
    static const std::vector<VideoCodec> codecs{
        {L"DV Video Encoder", CLSID_DVVideoEnc, "dvvideo", FCC("dvsd"), AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV411P, false,
         "", {}},
    };
    return codecs;
}

const std::vector<AudioCodec>& AudioCodecs()
{
    using Layout = AudioCodec::Layout;
    static const std::vector<AudioCodec> codecs{
        {L"A-law", MakeGuid("375F5189-E0E4-460A-8D12-9E1ED2D440D3"), "pcm_alaw", 6, Layout::Plain, {}},
        {L"mu-law", MakeGuid("B0EE5B12-8CE9-4DE7-B4A7-63389A67D07A"), "pcm_mulaw", 7, Layout::Plain, {}},
        {L"MS ADPCM", MakeGuid("6993D471-9212-48FB-A10B-116E8746CAD5"), "adpcm_ms", 2, Layout::MsAdpcm, {}},
        {L"IMA ADPCM", MakeGuid("00382713-7AD5-4D0E-8781-DE49A7AE4884"), "adpcm_ima_wav", 0x11, Layout::ImaAdpcm, {}},
        // The bit rate is brought to the nearest that MPEG audio has at the stream's rate.
        {L"MP3", MakeGuid("BB92C928-BB3C-4A8A-A025-D71C5D3A946D"), "libmp3lame", 0x55, Layout::MpegLayer3,
         {{"Bit rate (kbit/s)", 128, 8, 320, "b", Kilobits}}},
    };
    return codecs;
}

std::string EncoderOptions(const char* fixed, const std::vector<CodecSetting>& settings,
                           const std::vector<int>& values)
{
    std::string options = fixed;
    for (size_t i = 0; i < settings.size() && i < values.size(); i++)
        options += (options.empty() ? "" : ":") + std::string(settings[i].option) + "=" +
                   std::to_string(settings[i].value(values[i]));
    return options;
}

std::vector<int> InitialValues(const std::vector<CodecSetting>& settings)
{
    std::vector<int> values;
    for (const CodecSetting& setting : settings)
        values.push_back(setting.initial);
    return values;
}

std::vector<Ombrix_Setting> SettingsAt(const std::vector<CodecSetting>& settings, const std::vector<int>& values)
{
    std::vector<Ombrix_Setting> named;
    for (size_t i = 0; i < settings.size(); i++)
        named.push_back({settings[i].name, values[i], settings[i].minimum, settings[i].maximum});
    return named;
}

HRESULT TakeSettings(const std::vector<CodecSetting>& settings, const std::vector<Ombrix_Setting>& given,
                     std::vector<int>* values)
{
    HRESULT hr = S_OK;
    for (const Ombrix_Setting& setting : given) {
        auto known = std::find_if(settings.begin(), settings.end(), [&](const CodecSetting& s) {
            return setting.name && strcmp(s.name, setting.name) == 0;
        });
        if (known == settings.end())
            hr = E_INVALIDARG;
        else
            (*values)[size_t(known - settings.begin())] = std::clamp(setting.value, known->minimum, known->maximum);
    }
    return hr;
}
