// The audio decoder ("Audio Decoder"): any audio type that names a codec libavcodec decodes, to
// PCM (8-bit for 8-bit sources, 16-bit otherwise), in blocks timed relative to the segment from
// their first sample; after a seek the first block starts at exactly the segment's sample. A
// decoded block larger than a buffer goes out in several.
#pragma once

#include <memory>
#include <vector>

#include "AudioStreamDecoder.h"
#include "DecoderFilter.h"

class AudioDecoder final : public DecoderFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    HRESULT CheckInputType(const CMediaType* input) override;
    // The one PCM type, exactly.
    HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type) override;
    HRESULT BreakConnect(PIN_DIRECTION direction) override;

private:
    explicit AudioDecoder(IUnknown* outer) : DecoderFilter("Audio Decoder", outer, CLSID_AudioDecoder) {}

    void Restart(REFERENCE_TIME segmentStart) override;
    bool Send(const BYTE* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME decode) override;
    void Drain() override;
    HRESULT DeliverReady() override;

    std::unique_ptr<AudioStreamDecoder> m_Decoder;  // while the input is connected
    std::vector<uint8_t> m_Block;
};
