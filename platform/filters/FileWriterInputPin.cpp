#include "FileWriterInputPin.h"

#include "FileWriter.h"

FileWriterInputPin::FileWriterInputPin(FileWriter* writer, CCritSec* lock, HRESULT* result)
    : CBaseInputPin("FileWriterInputPin", writer, lock, result, L"in"), m_pWriter(writer)
{
}

HRESULT FileWriterInputPin::CheckMediaType(const CMediaType* type)
{
    return type->majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT FileWriterInputPin::CheckStreaming()
{
    if (IsStopped())
        return m_pWriter->IsOpen() ? S_OK : VFW_E_WRONG_STATE;
    return CBaseInputPin::CheckStreaming();
}

HRESULT FileWriterInputPin::Receive(IMediaSample* sample)
{
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    REFERENCE_TIME start, stop;
    if (FAILED(sample->GetTime(&start, &stop)) || start < 0)
        return VFW_E_SAMPLE_TIME_NOT_SET;
    return m_pWriter->Write(sample);
}

HRESULT FileWriterInputPin::EndOfStream()
{
    if (IsStopped() || IsFlushing())
        return VFW_E_WRONG_STATE;
    return m_pWriter->EndOfStream();
}

HRESULT FileWriterInputPin::BreakConnect()
{
    m_pWriter->CloseFile();
    return CBaseInputPin::BreakConnect();
}

HRESULT FileWriterInputPin::Inactive()
{
    m_bRunTimeError = false;
    m_bFlushing = false;
    return m_pAllocator ? m_pAllocator->Decommit() : S_OK;
}
