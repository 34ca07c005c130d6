#include "AudioDecoder.h"

#include <algorithm>
#include <cstring>

#include "MediaTypes.h"
#include "PacketAllocator.h"

namespace {

constexpr LONG BufferCount = 3;
// A quarter of a second a buffer.
constexpr int BuffersPerSecond = 4;

std::unique_ptr<AudioStreamDecoder> Open(const CMediaType& input)
{
    if (input.majortype != MEDIATYPE_Audio)
        return nullptr;
    const AvCodecParametersPtr parameters =
        DecoderParameters(input.majortype, input.subtype, input.formattype, input.pbFormat, input.cbFormat);
    return parameters ? AudioStreamDecoder::Open(*parameters) : nullptr;
}

}  // namespace

CUnknown* AudioDecoder::CreateInstance(IUnknown* outer, HRESULT* result)
{
    *result = S_OK;
    return new AudioDecoder(outer);
}

HRESULT AudioDecoder::CheckInputType(const CMediaType* input) { return Open(*input) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }

HRESULT AudioDecoder::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (!m_Decoder || position > 0)
        return VFW_S_NO_MORE_ITEMS;
    const WAVEFORMATEX& wave = m_Decoder->Output();
    *type = CMediaType(&MEDIATYPE_Audio);
    type->SetSubtype(&MEDIASUBTYPE_PCM);
    type->SetFormatType(&FORMAT_WaveFormatEx);
    type->SetSampleSize(wave.nBlockAlign);
    return type->SetFormat(reinterpret_cast<const BYTE*>(&wave), sizeof wave) ? S_OK : E_OUTOFMEMORY;
}

HRESULT AudioDecoder::CheckTransform(const CMediaType*, const CMediaType* output)
{
    CMediaType own;
    return GetMediaType(0, &own) == S_OK && own == *output ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AudioDecoder::SetMediaType(PIN_DIRECTION direction, const CMediaType* type)
{
    if (direction != PINDIR_INPUT)
        return S_OK;
    m_Decoder = Open(*type);
    return m_Decoder ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AudioDecoder::BreakConnect(PIN_DIRECTION direction)
{
    if (direction == PINDIR_INPUT)
        m_Decoder.reset();
    return S_OK;
}

HRESULT AudioDecoder::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    if (!m_Decoder)
        return E_UNEXPECTED;
    const WAVEFORMATEX& wave = m_Decoder->Output();
    const LONG frames = std::max<LONG>(LONG(wave.nSamplesPerSec) / BuffersPerSecond, 1);
    return RequestBuffers(allocator, *request, BufferCount, frames * wave.nBlockAlign);
}

void AudioDecoder::Restart(REFERENCE_TIME segmentStart) { m_Decoder->Restart(segmentStart); }

bool AudioDecoder::Send(const BYTE* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME)
{
    return m_Decoder->Send(data, size, start);
}

void AudioDecoder::Drain() { m_Decoder->Drain(); }

HRESULT AudioDecoder::DeliverReady()
{
    const WAVEFORMATEX& wave = m_Decoder->Output();
    const size_t frameBytes = wave.nBlockAlign;
    int64_t first;
    while (m_Decoder->Next(&m_Block, &first)) {
        const size_t frames = m_Block.size() / frameBytes;
        for (size_t done = 0; done < frames;) {
            IMediaSample* sample = nullptr;
            HRESULT hr = GetBuffer(&sample);
            if (FAILED(hr))
                return hr;
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            const size_t count = std::min(frames - done, size_t(sample->GetSize()) / frameBytes);
            if (count == 0) {
                sample->Release();
                return E_FAIL;
            }
            memcpy(data, m_Block.data() + done * frameBytes, count * frameBytes);
            sample->SetActualDataLength(LONG(count * frameBytes));
            const int64_t at = first + int64_t(done);
            done += count;
            hr = DeliverBuffer(sample, AudioStreamDecoder::SampleTime(at, int(wave.nSamplesPerSec)),
                               AudioStreamDecoder::SampleTime(first + int64_t(done), int(wave.nSamplesPerSec)));
            if (hr != S_OK)
                return hr;
        }
    }
    return S_OK;
}
