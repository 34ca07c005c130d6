#include "AviMuxOutputPin.h"

#include "ByteRangeSample.h"

AviMuxOutputPin::AviMuxOutputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* result)
    : CBaseOutputPin("AviMuxOutputPin", filter, lock, result, L"AVI Out")
{
}

HRESULT AviMuxOutputPin::CheckMediaType(const CMediaType* type)
{
    return type->majortype == MEDIATYPE_Stream && (type->subtype == MEDIASUBTYPE_Avi || type->subtype == GUID_NULL)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AviMuxOutputPin::GetMediaType(int position, CMediaType* type)
{
    if (position != 0)
        return VFW_S_NO_MORE_ITEMS;
    type->InitMediaType();
    type->SetType(&MEDIATYPE_Stream);
    type->SetSubtype(&MEDIASUBTYPE_Avi);
    type->SetFormatType(&FORMAT_None);
    type->SetVariableSize();
    return S_OK;
}

HRESULT AviMuxOutputPin::DecideAllocator(IMemInputPin*, IMemAllocator** allocator)
{
    *allocator = nullptr;
    return S_OK;
}

// Without an allocator no buffer size is ever decided.
HRESULT AviMuxOutputPin::DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) { return E_UNEXPECTED; }

HRESULT AviMuxOutputPin::WriteBytes(ULONGLONG offset, std::vector<BYTE> bytes)
{
    return Send(ByteRangeSample::Own(offset, std::move(bytes)));
}

HRESULT AviMuxOutputPin::LendBytes(ULONGLONG offset, IMediaSample* owner, BYTE* data, DWORD size)
{
    return Send(ByteRangeSample::Lend(offset, owner, data, LONG(size)));
}

HRESULT AviMuxOutputPin::Send(IMediaSample* sample)
{
    const HRESULT hr = Deliver(sample);
    sample->Release();
    return hr == S_OK ? S_OK : FAILED(hr) ? hr : E_FAIL;
}
