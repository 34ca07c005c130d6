// The video decoder ("Video Decoder"): any video type that names a codec libavcodec decodes, to
// UYVY, YUY2, RGB24 or RGB32 (offered in that order; RGB bottom-up), pictures in display order
// timed relative to the segment. Pictures that end before the segment's start are not delivered.
#pragma once

#include <atomic>
#include <memory>

#include "DecoderFilter.h"
#include "VideoStreamDecoder.h"

class VideoDecoder : public DecoderFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    HRESULT CheckInputType(const CMediaType* input) override;
    // One of the four types at the pictures' size.
    HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    // Buffers for the largest picture the input gives at any display size.
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type) override;
    HRESULT BreakConnect(PIN_DIRECTION direction) override;

protected:
    VideoDecoder(const char* name, IUnknown* outer, REFCLSID clsid) : DecoderFilter(name, outer, clsid) {}

    // The display size asked for, as lowres (0 full, 1 half, 2 quarter, 3 one eighth). It is taken
    // at connection; asked for while connected, it is taken when streaming next starts if the
    // downstream pin accepts pictures of the new size (the first picture then carries the new
    // type), else at the next connection.
    std::atomic<int> m_RequestedLowres{0};

private:
    void Restart(REFERENCE_TIME segmentStart) override;
    bool Send(const BYTE* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME decode) override;
    void Drain() override;
    HRESULT DeliverReady() override;

    std::unique_ptr<VideoStreamDecoder> Open(const CMediaType& input, int lowres) const;
    // The output type at `position` for pictures of the decoder's size; false past the last.
    bool OutputType(const VideoStreamDecoder& decoder, int position, CMediaType* type) const;
    void ChangeDisplaySize();

    std::unique_ptr<VideoStreamDecoder> m_Decoder;  // while the input is connected
    REFERENCE_TIME m_AvgTimePerFrame = 0;
    int m_Lowres = 0;
    LONG m_BufferSize = 0;
    LONG m_ImageSize = 0;     // the bytes of one output picture
    CMediaType m_ChangedType;  // goes with the next picture when set
};
