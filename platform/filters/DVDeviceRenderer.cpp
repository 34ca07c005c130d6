#include "DVDeviceRenderer.h"

namespace {

constexpr long NtscFrameBytes = 120000, PalFrameBytes = 144000;

}  // namespace

DVDeviceRenderer::DVDeviceRenderer(IUnknown* outer, std::unique_ptr<DVFrameTarget> target, HRESULT* result)
    : CBaseRenderer(CLSID_DVDeviceRenderer, "DV Device", outer, result), m_Target(std::move(target))
{
}

HRESULT DVDeviceRenderer::CheckMediaType(const CMediaType* type)
{
    return type->majortype == MEDIATYPE_Interleaved && type->subtype == MEDIASUBTYPE_dvsd ? S_OK
                                                                                         : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT DVDeviceRenderer::DoRenderSample(IMediaSample* sample)
{
    BYTE* frame = nullptr;
    const long size = sample->GetActualDataLength();
    // A device takes whole frames only.
    if (FAILED(sample->GetPointer(&frame)) || (size != NtscFrameBytes && size != PalFrameBytes))
        return E_INVALIDARG;
    return m_Target->Send(frame, size_t(size));
}

HRESULT DVDeviceRenderer::Active() { return m_Target->Start(); }

HRESULT DVDeviceRenderer::Inactive()
{
    const HRESULT hr = CBaseRenderer::Inactive();
    m_Target->Finish();
    return hr;
}
