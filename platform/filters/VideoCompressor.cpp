#include "VideoCompressor.h"

#include "PushedFormats.h"

namespace {

constexpr LONG Buffers = 3;

}  // namespace

VideoCompressor::VideoCompressor(const VideoCodec& codec)
    : CompressorFilter("Video Compressor", codec.clsid, codec.settings, Buffers), m_Codec(codec)
{
}

std::optional<VideoEncoding> VideoCompressor::EncodingOf(AVPixelFormat input) const
{
    return VideoEncodingOf(m_Codec, Values(), input);
}

std::optional<VideoCompressor::Input> VideoCompressor::InputOf(const CMediaType& type) const
{
    const std::optional<PushedVideo> pushed = PushedVideoOf(type);
    if (!pushed)
        return std::nullopt;
    std::optional<VideoEncoding> encoding = EncodingOf(PictureEncoder::InputFormat(pushed->layout));
    if (!encoding)
        return std::nullopt;
    return Input{pushed->layout, std::move(*encoding), pushed->frameDuration};
}

bool VideoCompressor::OutputFor(const CMediaType& input, CMediaType* output, LONG* packetBound) const
{
    const std::optional<Input> taken = InputOf(input);
    const std::unique_ptr<PictureEncoder> encoder =
        taken ? PictureEncoder::Open(taken->encoding, taken->layout, taken->frameDuration) : nullptr;
    if (!encoder)
        return false;
    const AVCodecContext& context = encoder->Encoder();
    const size_t bound = taken->encoding.packetBytes ? taken->encoding.packetBytes
                                                     : PictureEncoder::PacketBound(context.width, context.height);
    if (bound > size_t(INT32_MAX))
        return false;
    VIDEOINFOHEADER info = {};
    info.AvgTimePerFrame = taken->frameDuration;
    BITMAPINFOHEADER& bitmap = info.bmiHeader;
    bitmap.biSize = DWORD(sizeof bitmap + size_t(context.extradata_size));
    bitmap.biWidth = context.width;
    bitmap.biHeight = context.height;
    bitmap.biPlanes = 1;
    // The encoder's own depth where the decoder reads it (HuffYUV), else FFmpeg's usual 24.
    bitmap.biBitCount = WORD(context.bits_per_coded_sample ? context.bits_per_coded_sample : 24);
    bitmap.biCompression = m_Codec.fourcc;
    bitmap.biSizeImage = DWORD(bound);
    std::vector<BYTE> format(reinterpret_cast<const BYTE*>(&info), reinterpret_cast<const BYTE*>(&info + 1));
    format.insert(format.end(), context.extradata, context.extradata + context.extradata_size);
    *output = CMediaType(&MEDIATYPE_Video);
    const GUID subtype = FourCCGuid(m_Codec.fourcc);
    output->SetSubtype(&subtype);
    output->SetFormatType(&FORMAT_VideoInfo);
    output->SetTemporalCompression(m_Codec.interFrames);
    if (taken->encoding.packetBytes)
        output->SetSampleSize(ULONG(bound));
    else
        output->SetVariableSize();
    *packetBound = LONG(bound);
    return output->SetFormat(format.data(), ULONG(format.size()));
}

bool VideoCompressor::Connect(const CMediaType& input)
{
    m_Input = InputOf(input);
    return m_Input.has_value();
}

void VideoCompressor::Disconnect()
{
    m_Input.reset();
    m_Encoder.reset();
}

bool VideoCompressor::Restart()
{
    m_Times.clear();
    m_Encoder = m_Input ? PictureEncoder::Open(m_Input->encoding, m_Input->layout, m_Input->frameDuration) : nullptr;
    return m_Encoder != nullptr;
}

bool VideoCompressor::Encode(IMediaSample* sample)
{
    BYTE* bits = nullptr;
    if (!m_Encoder || FAILED(sample->GetPointer(&bits)) ||
        size_t(sample->GetActualDataLength()) < m_Input->layout.Size())
        return false;
    REFERENCE_TIME start, stop;
    if (sample->GetTime(&start, &stop) == S_OK)
        m_Times.emplace_back(start, stop);
    else
        m_Times.emplace_back();
    return m_Encoder->Encode(bits);
}

bool VideoCompressor::Finish() { return m_Encoder && m_Encoder->Drain(); }

bool VideoCompressor::Next(TimedPacket* timed)
{
    if (!m_Encoder || !(timed->packet = m_Encoder->Next()))
        return false;
    // Packets come in the order of their frames, one for each.
    if (!m_Times.empty()) {
        std::tie(timed->start, timed->stop) = m_Times.front();
        m_Times.pop_front();
    } else {
        timed->start = timed->stop = std::nullopt;
    }
    return true;
}
