#include "DVMuxOutputPin.h"

#include "DVMux.h"

DVMuxOutputPin::DVMuxOutputPin(DVMux* mux, CCritSec* lock, HRESULT* result)
    : CBaseOutputPin("DVMuxOutputPin", mux, lock, result, L"DV Out"), m_pMux(mux)
{
}

HRESULT DVMuxOutputPin::CheckMediaType(const CMediaType* type)
{
    CMediaType offered;
    return m_pMux->OutputType(&offered) && type->majortype == offered.majortype && type->subtype == offered.subtype &&
                   type->formattype == offered.formattype && type->FormatLength() >= sizeof(DVINFO)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT DVMuxOutputPin::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    return position == 0 && m_pMux->OutputType(type) ? S_OK : VFW_S_NO_MORE_ITEMS;
}

HRESULT DVMuxOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    request->cBuffers = std::max(request->cBuffers, LONG(4));
    request->cbBuffer = std::max(request->cbBuffer, LONG(m_pMux->FrameSize()));
    request->cbAlign = std::max(request->cbAlign, LONG(1));
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    return FAILED(hr) ? hr : actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}
