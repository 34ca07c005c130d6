#include "CompressorFilter.h"

#include <cstring>

#include "PacketAllocator.h"

CompressorFilter::CompressorFilter(const char* name, REFCLSID clsid, const std::vector<CodecSetting>& settings,
                                   LONG buffers)
    : CTransformFilter(name, nullptr, clsid), m_Settings(settings), m_Values(InitialValues(settings)),
      m_Buffers(buffers)
{
}

HRESULT CompressorFilter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (!m_Settings.empty() && iid == IID_IFilterSettings)
        return GetInterface(static_cast<IFilterSettings*>(this), object);
    if (!m_Settings.empty() && iid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), object);
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
}

std::vector<int> CompressorFilter::Values() const
{
    std::lock_guard<std::mutex> lock(m_SettingsLock);
    return m_Values;
}

std::vector<Ombrix_Setting> CompressorFilter::GetSettings() { return SettingsAt(m_Settings, Values()); }

HRESULT CompressorFilter::PutSettings(const std::vector<Ombrix_Setting>& settings)
{
    std::lock_guard<std::mutex> lock(m_SettingsLock);
    return TakeSettings(m_Settings, settings, &m_Values);
}

HRESULT CompressorFilter::GetPages(CAUUID* pages) { return GetSettingsPages(pages); }

HRESULT CompressorFilter::CheckInputType(const CMediaType* input)
{
    CMediaType output;
    LONG bound = 0;
    return OutputFor(*input, &output, &bound) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CompressorFilter::CheckTransform(const CMediaType* input, const CMediaType* output)
{
    CMediaType ours = m_OutputType;
    LONG bound = 0;
    if (!ours.IsValid() && !OutputFor(*input, &ours, &bound))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return *output == ours ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CompressorFilter::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0 || !m_OutputType.IsValid())
        return VFW_S_NO_MORE_ITEMS;
    return type->Set(m_OutputType);
}

HRESULT CompressorFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    return RequestBuffers(allocator, *request, m_Buffers, m_BufferSize);
}

HRESULT CompressorFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* type)
{
    if (direction == PINDIR_OUTPUT)
        return S_OK;
    CMediaType output;
    LONG bound = 0;
    if (!OutputFor(*type, &output, &bound) || !Connect(*type))
        return VFW_E_TYPE_NOT_ACCEPTED;
    m_OutputType = output;
    m_BufferSize = bound;
    return S_OK;
}

HRESULT CompressorFilter::BreakConnect(PIN_DIRECTION direction)
{
    if (direction == PINDIR_INPUT) {
        Disconnect();
        m_OutputType = CMediaType();
    }
    return S_OK;
}

HRESULT CompressorFilter::StartStreaming()
{
    m_bDiscontinuity = true;
    return Restart() ? S_OK : E_FAIL;
}

HRESULT CompressorFilter::Receive(IMediaSample* sample)
{
    return Encode(sample) ? DeliverReady() : E_FAIL;
}

HRESULT CompressorFilter::EndOfStream()
{
    const HRESULT hr = Finish() ? DeliverReady() : E_FAIL;
    const HRESULT passed = CTransformFilter::EndOfStream();
    return FAILED(hr) ? hr : passed;
}

HRESULT CompressorFilter::EndFlush()
{
    {
        CAutoLock lock(&m_csReceive);
        m_bDiscontinuity = true;
        Restart();
    }
    return CTransformFilter::EndFlush();
}

HRESULT CompressorFilter::DeliverReady()
{
    TimedPacket timed;
    while (Next(&timed)) {
        IMediaSample* sample = nullptr;
        HRESULT hr = OutputPin()->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        BYTE* data = nullptr;
        const AVPacket& packet = *timed.packet;
        if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < packet.size) {
            sample->Release();
            return E_FAIL;
        }
        memcpy(data, packet.data, size_t(packet.size));
        sample->SetActualDataLength(packet.size);
        if (timed.start && timed.stop)
            sample->SetTime(&*timed.start, &*timed.stop);
        sample->SetSyncPoint((packet.flags & AV_PKT_FLAG_KEY) != 0);
        sample->SetDiscontinuity(m_bDiscontinuity);
        m_bDiscontinuity = false;
        hr = OutputPin()->Deliver(sample);
        sample->Release();
        if (hr != S_OK)
            return hr;
    }
    return S_OK;
}
