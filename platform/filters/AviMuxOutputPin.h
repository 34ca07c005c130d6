// The multiplexer's output pin "AVI Out" (MEDIATYPE_Stream, MEDIASUBTYPE_Avi): the file's bytes as
// byte-position samples (ByteRangeSample), delivered to a pin that writes each at its offset. The
// samples are the pin's own, so no allocator is agreed with the peer.
#pragma once

#include "OpenDmlWriter.h"
#include "platform/dshow/BaseOutputPin.h"

class AviMuxOutputPin final : public CBaseOutputPin, public AviByteSink {
public:
    AviMuxOutputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* result);

    // MEDIATYPE_Stream, of subtype MEDIASUBTYPE_Avi or none.
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override { return S_OK; }
    HRESULT Inactive() override { return S_OK; }

    HRESULT WriteBytes(ULONGLONG offset, std::vector<BYTE> bytes) override;
    HRESULT LendBytes(ULONGLONG offset, IMediaSample* owner, BYTE* data, DWORD size) override;

private:
    // Delivers the sample and lets it go; a refusal (S_FALSE) is a failure here.
    HRESULT Send(IMediaSample* sample);
};
