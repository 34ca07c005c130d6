// The compressors the platform installs: one video and one audio compressor filter, each made for
// one of the codecs described here, under the codec's friendly name.
#pragma once

#include <string>
#include <vector>

#include "ombrix/platform.h"
#include "platform/dshow/Strmif.h"
#include "platform/ffmpeg/AvPointers.h"

// A setting of a compressor, as its settings frame shows it, and the encoder option it sets.
struct CodecSetting {
    const char* name;
    int initial, minimum, maximum;
    const char* option;
    int (*value)(int setting);  // the option's value for the setting's value
};

struct VideoCodec {
    const wchar_t* name;
    CLSID clsid;
    const char* encoder;  // libavcodec's name for it
    DWORD fourcc;
    // The pictures the encoder takes from packed 4:2:2 frames and from RGB frames.
    AVPixelFormat fromYuv, fromRgb;
    bool interFrames;      // pictures may lean on earlier ones
    const char* options;   // fixed options, "name=value" separated by ':'
    std::vector<CodecSetting> settings;
};

struct AudioCodec {
    // What follows the WAVEFORMATEX: nothing, MS ADPCM's coefficients (the encoder's set-up
    // bytes), IMA ADPCM's samples per block, or MPEGLAYER3WAVEFORMAT's fields.
    enum class Layout { Plain, MsAdpcm, ImaAdpcm, MpegLayer3 };
    const wchar_t* name;
    CLSID clsid;
    const char* encoder;
    WORD tag;
    Layout layout;
    std::vector<CodecSetting> settings;
};

// A bit rate setting's value (kbit/s) as the encoder's option (bit/s).
int Kilobits(int value);

// Every codec described, whether or not this libavcodec has its encoder.
const std::vector<VideoCodec>& VideoCodecs();
// DV, whose compressor is the DV Video Encoder: NTSC's pictures here, PAL's chosen through IDVEnc.
const std::vector<VideoCodec>& DVCodecs();
const std::vector<AudioCodec>& AudioCodecs();

// The options: the fixed ones, then each setting's option at its value.
std::string EncoderOptions(const char* fixed, const std::vector<CodecSetting>& settings,
                           const std::vector<int>& values);
// The settings' initial values.
std::vector<int> InitialValues(const std::vector<CodecSetting>& settings);
// The settings with their values, as a settings frame shows them.
std::vector<Ombrix_Setting> SettingsAt(const std::vector<CodecSetting>& settings, const std::vector<int>& values);
// Takes the values given by name, each brought within its range; E_INVALIDARG when a name is not
// one of the settings (the others are still taken).
HRESULT TakeSettings(const std::vector<CodecSetting>& settings, const std::vector<Ombrix_Setting>& given,
                     std::vector<int>* values);
