#include "VideoDecoder.h"

#include <algorithm>
#include <cstdlib>

#include "MediaTypes.h"
#include "PacketAllocator.h"

namespace {

struct OutputFormat {
    const GUID* subtype;
    DWORD compression;
    WORD bits;
};
constexpr OutputFormat Outputs[] = {
    {&MEDIASUBTYPE_UYVY, FCC("UYVY"), 16},
    {&MEDIASUBTYPE_YUY2, FCC("YUY2"), 16},
    {&MEDIASUBTYPE_RGB24, BI_RGB, 24},
    {&MEDIASUBTYPE_RGB32, BI_RGB, 32},
};
constexpr int OutputCount = int(sizeof Outputs / sizeof Outputs[0]);
// The downstream renderer may hold one picture while the next is made.
constexpr LONG BufferCount = 3;

LONG DibSize(LONG width, LONG height, WORD bits) { return (width * bits + 31) / 32 * 4 * height; }

// The VIDEOINFOHEADER of a type, when it has one.
const VIDEOINFOHEADER* VideoInfo(const CMediaType& type)
{
    if (type.formattype != FORMAT_VideoInfo || type.cbFormat < sizeof(VIDEOINFOHEADER) || !type.pbFormat)
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
}

}  // namespace

CUnknown* VideoDecoder::CreateInstance(IUnknown* outer, HRESULT* result)
{
    *result = S_OK;
    return new VideoDecoder("Video Decoder", outer, CLSID_VideoDecoder);
}

std::unique_ptr<VideoStreamDecoder> VideoDecoder::Open(const CMediaType& input, int lowres) const
{
    const VIDEOINFOHEADER* info = VideoInfo(input);
    if (input.majortype != MEDIATYPE_Video || !info)
        return nullptr;
    const AvCodecParametersPtr parameters =
        DecoderParameters(input.majortype, input.subtype, input.formattype, input.pbFormat, input.cbFormat);
    return parameters ? VideoStreamDecoder::Open(*parameters, info->AvgTimePerFrame, lowres) : nullptr;
}

HRESULT VideoDecoder::CheckInputType(const CMediaType* input)
{
    return Open(*input, 0) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

bool VideoDecoder::OutputType(const VideoStreamDecoder& decoder, int position, CMediaType* type) const
{
    if (position < 0 || position >= OutputCount)
        return false;
    const OutputFormat& output = Outputs[position];
    VIDEOINFOHEADER info = {};
    info.AvgTimePerFrame = m_AvgTimePerFrame;
    BITMAPINFOHEADER& bitmap = info.bmiHeader;
    bitmap.biSize = sizeof bitmap;
    bitmap.biWidth = decoder.Width();
    bitmap.biHeight = decoder.Height();
    bitmap.biPlanes = 1;
    bitmap.biBitCount = output.bits;
    bitmap.biCompression = output.compression;
    bitmap.biSizeImage = DWORD(DibSize(bitmap.biWidth, bitmap.biHeight, output.bits));
    *type = CMediaType(&MEDIATYPE_Video);
    type->SetSubtype(output.subtype);
    type->SetFormatType(&FORMAT_VideoInfo);
    type->SetSampleSize(bitmap.biSizeImage);
    return type->SetFormat(reinterpret_cast<const BYTE*>(&info), sizeof info);
}

HRESULT VideoDecoder::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (!m_Decoder || position >= OutputCount)
        return VFW_S_NO_MORE_ITEMS;
    return OutputType(*m_Decoder, position, type) ? S_OK : E_OUTOFMEMORY;
}

HRESULT VideoDecoder::CheckTransform(const CMediaType*, const CMediaType* output)
{
    const VIDEOINFOHEADER* info = VideoInfo(*output);
    if (!m_Decoder || output->majortype != MEDIATYPE_Video || !info)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER& bitmap = info->bmiHeader;
    for (const OutputFormat& format : Outputs)
        if (output->subtype == *format.subtype && bitmap.biCompression == format.compression &&
            bitmap.biBitCount == format.bits) {
            const std::optional<DibLayout> layout = DibLayout::Of(bitmap, false);
            return layout && layout->width == m_Decoder->Width() && layout->height == m_Decoder->Height()
                       ? S_OK
                       : VFW_E_TYPE_NOT_ACCEPTED;
        }
    return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT VideoDecoder::SetMediaType(PIN_DIRECTION direction, const CMediaType* type)
{
    if (direction == PINDIR_INPUT) {
        const int lowres = m_RequestedLowres;
        m_AvgTimePerFrame = VideoInfo(*type) ? VideoInfo(*type)->AvgTimePerFrame : 0;
        m_Decoder = Open(*type, lowres);
        if (!m_Decoder)
            return VFW_E_TYPE_NOT_ACCEPTED;
        m_Lowres = lowres;
        // Every display size fits buffers for the full-size picture at 32 bits.
        const BITMAPINFOHEADER& coded = VideoInfo(*type)->bmiHeader;
        m_BufferSize = DibSize(std::max<LONG>(coded.biWidth, m_Decoder->Width()),
                               std::max<LONG>(std::abs(coded.biHeight), m_Decoder->Height()), 32);
        return S_OK;
    }
    const VIDEOINFOHEADER* info = VideoInfo(*type);
    const std::optional<DibLayout> layout = info ? DibLayout::Of(info->bmiHeader, false) : std::nullopt;
    if (!m_Decoder || !layout || !m_Decoder->SetOutput(info->bmiHeader))
        return VFW_E_TYPE_NOT_ACCEPTED;
    m_ImageSize = LONG(layout->Size());
    return S_OK;
}

HRESULT VideoDecoder::BreakConnect(PIN_DIRECTION direction)
{
    if (direction == PINDIR_INPUT)
        m_Decoder.reset();
    return S_OK;
}

HRESULT VideoDecoder::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    return RequestBuffers(allocator, *request, BufferCount, std::max(m_BufferSize, m_ImageSize));
}

void VideoDecoder::ChangeDisplaySize()
{
    const int lowres = m_RequestedLowres;
    IPin* peer = OutputPin()->GetConnected();
    int position = 0;
    while (position < OutputCount && *Outputs[position].subtype != OutputPin()->CurrentMediaType().subtype)
        position++;
    std::unique_ptr<VideoStreamDecoder> decoder = Open(InputPin()->CurrentMediaType(), lowres);
    CMediaType type;
    if (!peer || !decoder || !OutputType(*decoder, position, &type) || peer->QueryAccept(&type) != S_OK)
        return;
    std::swap(m_Decoder, decoder);
    if (FAILED(OutputPin()->SetMediaType(&type))) {
        std::swap(m_Decoder, decoder);
        return;
    }
    m_Lowres = lowres;
    m_ChangedType = type;
}

void VideoDecoder::Restart(REFERENCE_TIME segmentStart)
{
    if (m_RequestedLowres != m_Lowres)
        ChangeDisplaySize();
    m_Decoder->Restart(segmentStart);
}

bool VideoDecoder::Send(const BYTE* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME decode)
{
    return m_Decoder->Send(data, size, start, decode);
}

void VideoDecoder::Drain() { m_Decoder->Drain(); }

HRESULT VideoDecoder::DeliverReady()
{
    REFERENCE_TIME start, stop;
    while (m_Decoder->Next(&start, &stop)) {
        IMediaSample* sample = nullptr;
        HRESULT hr = GetBuffer(&sample);
        if (FAILED(hr))
            return hr;
        BYTE* bits = nullptr;
        sample->GetPointer(&bits);
        if (sample->GetSize() < m_ImageSize || !m_Decoder->Draw(bits)) {
            sample->Release();
            return E_FAIL;
        }
        sample->SetActualDataLength(m_ImageSize);
        if (m_ChangedType.IsValid()) {
            sample->SetMediaType(&m_ChangedType);
            m_ChangedType = CMediaType();
        }
        hr = DeliverBuffer(sample, start, stop);
        if (hr != S_OK)
            return hr;
    }
    return S_OK;
}
