// The DV multiplexer's output "DV Out": MEDIATYPE_Interleaved / dvsd / DvInfo, one DV frame with
// its sound per sample. Offered once the video input is connected.
#pragma once

#include "platform/dshow/BaseOutputPin.h"

class DVMux;

class DVMuxOutputPin final : public CBaseOutputPin {
public:
    DVMuxOutputPin(DVMux* mux, CCritSec* lock, HRESULT* result);

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

private:
    DVMux* const m_pMux;
};
