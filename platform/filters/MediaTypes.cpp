#include "MediaTypes.h"

#include <algorithm>
#include <cstring>

#include "OpenDecoder.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

constexpr GUID LibavcodecBase = MakeGuid("00000000-6F6D-4272-8000-4C6962617663");
// Set-up bytes beyond this are not codec set-up data; the bound keeps a damaged type's size in check.
constexpr size_t MaxExtraBytes = 1 << 20;

bool SameTail(const GUID& a, const GUID& b)
{
    return a.Data2 == b.Data2 && a.Data3 == b.Data3 && memcmp(a.Data4, b.Data4, 8) == 0;
}

// The codec id a private subtype carries; AV_CODEC_ID_NONE for any other subtype.
AVCodecID PrivateCodec(const GUID& subtype)
{
    return SameTail(subtype, LibavcodecBase) ? AVCodecID(subtype.Data1) : AV_CODEC_ID_NONE;
}

bool IsFourCC(const GUID& subtype) { return SameTail(subtype, FourCCGuid(0)); }

// The RIFF tag for a stream: its own if the table maps it to the codec, else the table's; 0 if none.
unsigned RiffTag(const AVCodecTag* table, const AVCodecParameters& parameters)
{
    const AVCodecTag* const tables[] = {table, nullptr};
    if (parameters.codec_tag && av_codec_get_id(tables, parameters.codec_tag) == parameters.codec_id)
        return parameters.codec_tag;
    return av_codec_get_tag(tables, parameters.codec_id);
}

void Append(std::vector<BYTE>& bytes, const void* data, size_t size)
{
    bytes.insert(bytes.end(), (const BYTE*)data, (const BYTE*)data + size);
}

StreamFormat VideoFormat(const AVStream& stream)
{
    const AVCodecParameters& p = *stream.codecpar;
    unsigned tag = p.codec_id == AV_CODEC_ID_DVVIDEO ? FCC("dvsd") : RiffTag(avformat_get_riff_video_tags(), p);
    const GUID subtype = tag ? FourCCGuid(tag) : LibavcodecSubtype(p.codec_id);
    VIDEOINFOHEADER header = {};
    header.dwBitRate = DWORD(std::clamp<int64_t>(p.bit_rate, 0, UINT32_MAX));
    header.AvgTimePerFrame = FrameDuration(stream);
    BITMAPINFOHEADER& bitmap = header.bmiHeader;
    bitmap.biSize = DWORD(sizeof bitmap + p.extradata_size);
    bitmap.biWidth = p.width;
    bitmap.biHeight = p.height;
    bitmap.biPlanes = 1;
    // Uncompressed pictures keep what names their pixel format: the stream's own tag, else (RGB
    // in RIFF files, tag 0) their bit depth.
    const bool raw = p.codec_id == AV_CODEC_ID_RAWVIDEO;
    const int bits = p.bits_per_coded_sample ? p.bits_per_coded_sample
                     : raw ? av_get_bits_per_pixel(av_pix_fmt_desc_get(AVPixelFormat(p.format)))
                           : 0;
    bitmap.biBitCount = WORD(bits > 0 ? bits : 24);
    bitmap.biCompression = tag ? tag : raw ? p.codec_tag : FCC("LAVC");
    StreamFormat format{MEDIATYPE_Video, subtype, FORMAT_VideoInfo, {}};
    Append(format.format, &header, sizeof header);
    Append(format.format, p.extradata, p.extradata_size);
    return format;
}

StreamFormat AudioFormat(const AVStream& stream)
{
    const AVCodecParameters& p = *stream.codecpar;
    const unsigned tag = RiffTag(avformat_get_riff_audio_tags(), p);
    WAVEFORMATEX wave = {};
    wave.wFormatTag = WORD(tag);
    wave.nChannels = WORD(p.ch_layout.nb_channels);
    wave.nSamplesPerSec = DWORD(p.sample_rate);
    wave.wBitsPerSample = WORD(p.bits_per_coded_sample);
    const int pcmBlock = p.ch_layout.nb_channels * av_get_bits_per_sample(p.codec_id) / 8;
    wave.nBlockAlign = WORD(p.block_align ? p.block_align : pcmBlock ? pcmBlock : 1);
    wave.nAvgBytesPerSec = DWORD(pcmBlock ? int64_t(pcmBlock) * p.sample_rate : std::clamp<int64_t>(p.bit_rate / 8, 0, UINT32_MAX));
    wave.cbSize = WORD(std::min(p.extradata_size, 0xFFFF));
    StreamFormat format{MEDIATYPE_Audio, tag ? FourCCGuid(tag) : LibavcodecSubtype(p.codec_id), FORMAT_WaveFormatEx, {}};
    Append(format.format, &wave, sizeof wave);
    Append(format.format, p.extradata, wave.cbSize);
    return format;
}

bool SetExtradata(AVCodecParameters& p, const BYTE* data, size_t size)
{
    if (!size)
        return true;
    p.extradata = (uint8_t*)av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!p.extradata)
        return false;
    memcpy(p.extradata, data, size);
    p.extradata_size = int(size);
    return true;
}

// PCM is one tag for every sample size.
AVCodecID PcmCodec(WORD tag, WORD bits)
{
    if (tag == WAVE_FORMAT_PCM)
        switch (bits) {
        case 8: return AV_CODEC_ID_PCM_U8;
        case 16: return AV_CODEC_ID_PCM_S16LE;
        case 24: return AV_CODEC_ID_PCM_S24LE;
        case 32: return AV_CODEC_ID_PCM_S32LE;
        }
    if (tag == 3 && bits == 32)
        return AV_CODEC_ID_PCM_F32LE;
    if (tag == 3 && bits == 64)
        return AV_CODEC_ID_PCM_F64LE;
    return AV_CODEC_ID_NONE;
}

AvCodecParametersPtr VideoParameters(const GUID& subtype, const BYTE* format, size_t size)
{
    if (size < sizeof(VIDEOINFOHEADER))
        return nullptr;
    BITMAPINFOHEADER bitmap;
    memcpy(&bitmap, format + offsetof(VIDEOINFOHEADER, bmiHeader), sizeof bitmap);
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    const AVCodecID codec = IsFourCC(subtype) ? av_codec_get_id(tables, subtype.Data1) : PrivateCodec(subtype);
    if (codec == AV_CODEC_ID_NONE || bitmap.biWidth <= 0 || bitmap.biHeight == 0)
        return nullptr;
    AvCodecParametersPtr p(avcodec_parameters_alloc());
    const size_t extra = std::min({size_t(bitmap.biSize > sizeof bitmap ? bitmap.biSize - sizeof bitmap : 0),
                                   size - sizeof(VIDEOINFOHEADER), MaxExtraBytes});
    if (!p || !SetExtradata(*p, format + sizeof(VIDEOINFOHEADER), extra))
        return nullptr;
    p->codec_type = AVMEDIA_TYPE_VIDEO;
    p->codec_id = codec;
    p->codec_tag = bitmap.biCompression;
    p->width = bitmap.biWidth;
    p->height = bitmap.biHeight < 0 ? -int64_t(bitmap.biHeight) : bitmap.biHeight;
    p->bits_per_coded_sample = bitmap.biBitCount;
    return p;
}

AvCodecParametersPtr AudioParameters(const GUID& subtype, const BYTE* format, size_t size)
{
    if (size < sizeof(WAVEFORMATEX))
        return nullptr;
    WAVEFORMATEX wave;
    memcpy(&wave, format, sizeof wave);
    AVCodecID codec = PrivateCodec(subtype);
    if (codec == AV_CODEC_ID_NONE && IsFourCC(subtype) && subtype.Data1 == wave.wFormatTag) {
        const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
        codec = PcmCodec(wave.wFormatTag, wave.wBitsPerSample);
        if (codec == AV_CODEC_ID_NONE)
            codec = av_codec_get_id(tables, wave.wFormatTag);
    }
    if (codec == AV_CODEC_ID_NONE || wave.nChannels == 0 || wave.nSamplesPerSec == 0)
        return nullptr;
    AvCodecParametersPtr p(avcodec_parameters_alloc());
    const size_t extra = std::min({size_t(wave.cbSize), size - sizeof wave, MaxExtraBytes});
    if (!p || !SetExtradata(*p, format + sizeof wave, extra))
        return nullptr;
    p->codec_type = AVMEDIA_TYPE_AUDIO;
    p->codec_id = codec;
    p->codec_tag = wave.wFormatTag;
    av_channel_layout_default(&p->ch_layout, wave.nChannels);
    p->sample_rate = int(wave.nSamplesPerSec);
    p->bit_rate = int64_t(wave.nAvgBytesPerSec) * 8;
    p->block_align = wave.nBlockAlign;
    p->bits_per_coded_sample = wave.wBitsPerSample;
    return p;
}

}  // namespace

GUID LibavcodecSubtype(AVCodecID codec)
{
    GUID subtype = LibavcodecBase;
    subtype.Data1 = uint32_t(codec);
    return subtype;
}

REFERENCE_TIME FrameDuration(const AVStream& stream)
{
    for (AVRational rate : {stream.avg_frame_rate, stream.r_frame_rate})
        if (rate.num > 0 && rate.den > 0)
            return av_rescale(ReferenceTimeBase.den, rate.den, rate.num);
    return 0;
}

std::optional<StreamFormat> CompressedFormat(const AVStream& stream)
{
    switch (stream.codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO: return VideoFormat(stream);
    case AVMEDIA_TYPE_AUDIO: return AudioFormat(stream);
    default: return std::nullopt;
    }
}

AvCodecParametersPtr DecoderParameters(const GUID& majortype, const GUID& subtype, const GUID& formattype,
                                       const BYTE* format, size_t size)
{
    if (!format)
        return nullptr;
    if (majortype == MEDIATYPE_Video && formattype == FORMAT_VideoInfo)
        return VideoParameters(subtype, format, size);
    if (majortype == MEDIATYPE_Audio && formattype == FORMAT_WaveFormatEx)
        return AudioParameters(subtype, format, size);
    return nullptr;
}
