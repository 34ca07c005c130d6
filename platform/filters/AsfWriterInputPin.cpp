#include "AsfWriterInputPin.h"

#include "AsfWriter.h"

AsfWriterInputPin::AsfWriterInputPin(AsfWriter* writer, CCritSec* lock, bool video)
    : CBaseInputPin("AsfWriterInputPin", writer, lock, nullptr, video ? L"Video Input 01" : L"Audio Input 01"),
      m_pWriter(writer), m_bVideo(video)
{
}

HRESULT AsfWriterInputPin::CheckMediaType(const CMediaType* type)
{
    return m_pWriter->Accepts(m_bVideo, *type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AsfWriterInputPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = CBaseInputPin::Receive(sample);
    return hr == S_OK ? m_pWriter->Receive(m_bVideo, sample) : hr;
}

HRESULT AsfWriterInputPin::EndOfStream()
{
    if (IsStopped() || IsFlushing())
        return VFW_E_WRONG_STATE;
    return m_pWriter->EndOfStream(m_bVideo);
}
