// Decoded pictures into the rows of an agreed DIB, through libswscale.
//
// Conversion: SWS_FAST_BILINEAR without SWS_ACCURATE_RND, so that libswscale's unscaled fast
// paths serve the common cases (about 20x faster than its exact paths). Planar 4:2:2 goes to
// UYVY/YUY2 by repacking alone; planar 4:2:0 likewise, each chroma row serving both luma rows it
// covers (no vertical interpolation); DV's 4:1:1 chroma is widened by the fast bilinear filter;
// full-range (JPEG) pictures are brought to studio range (to packed 4:2:2 by packing them as
// studio range, then scaling the bytes of each band of rows while it is in cache: libswscale's
// own range conversion leaves the fast paths); YUV <-> RGB uses BT.601 studio range.
// RGB pictures' chroma is taken from every pixel (SWS_FULL_CHR_H_INP): averaging pixel pairs
// first would mix the pixel past an odd-width row into its last pair.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/ffmpeg/AvPointers.h"
#include "DibLayout.h"
#include "StudioRange.h"

class DibConverter {
public:
    static constexpr int Flags = SWS_FAST_BILINEAR | SWS_FULL_CHR_H_INP;

    explicit DibConverter(const DibLayout& layout);  // throws std::bad_alloc

    // Writes the picture, scaled to the layout's size if it differs, into bits (layout.Size()
    // bytes, never more). False when libswscale cannot convert it.
    bool Convert(const AVFrame* picture, uint8_t* bits);
    // A black picture into bits.
    void FillBlack(uint8_t* bits) const;

    // The libswscale packers from planar 4:2:x to UYVY/YUY2 leave the last pixel of an odd-width
    // row unwritten; converting one more column, taken from the decoder's row padding, completes
    // the pixel pair (the extra luma lands in the DIB row's own padding). 0 or 1.
    static int ExtraColumn(const AVFrame& picture, const DibLayout& layout);

private:
    bool ConvertRows(uint8_t* base, int stride, int first, int count);

    const DibLayout m_Layout;
    const StudioRange m_StudioRange;
    // Rows that cannot take libswscale's writes past their end are converted here first.
    const int m_ScratchStride;
    const std::unique_ptr<uint8_t[]> m_Scratch;
    SwsContextPtr m_Context;
    AvFramePtr m_Source;  // the picture, as wide as the conversion reads
    AvFramePtr m_Target;
};
