// A DV device as the video input device category lists it: a renderer that takes the interleaved
// DV stream of the DV Mux and hands each frame, as it comes, to where the device sends it (the
// host's callback, or a file of raw DV). It runs without a clock: frames go out at once.
#pragma once

#include <memory>

#include "platform/dshow/BaseRenderer.h"

// Where a device's frames go.
class DVFrameTarget {
public:
    virtual ~DVFrameTarget() = default;
    // As the device leaves Stopped; a failure fails the pause.
    virtual HRESULT Start() { return S_OK; }
    // One whole frame, on the streaming thread.
    virtual HRESULT Send(const BYTE* frame, size_t size) = 0;
    // As the device stops.
    virtual void Finish() {}
};

class DVDeviceRenderer final : public CBaseRenderer {
public:
    DVDeviceRenderer(IUnknown* outer, std::unique_ptr<DVFrameTarget> target, HRESULT* result);

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT DoRenderSample(IMediaSample* sample) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

private:
    const std::unique_ptr<DVFrameTarget> m_Target;
};
