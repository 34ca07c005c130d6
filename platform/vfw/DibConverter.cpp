#include "DibConverter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace {

// libswscale's SIMD stores reach up to about 60 bytes past the end of a row.
constexpr int RowOverrun = 128;

// Rows packed at a time when they are brought to studio range afterwards: small enough to stay in
// the first-level cache.
constexpr int BandRows = 8;

bool IsPacked422(AVPixelFormat format) { return format == AV_PIX_FMT_UYVY422 || format == AV_PIX_FMT_YUYV422; }

// A converted row: packed 4:2:2 rows end with a whole pixel pair, within the DIB row's padding.
int LineBytes(const DibLayout& layout) { return av_image_get_linesize(layout.format, layout.width, 0); }

// The studio-range format laid out as a full-range (JPEG) one; none for other formats.
AVPixelFormat StudioTwin(AVPixelFormat format)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default: return AV_PIX_FMT_NONE;
    }
}

}  // namespace

DibConverter::DibConverter(const DibLayout& layout)
    : m_Layout(layout), m_StudioRange(layout.format), m_ScratchStride(FFALIGN(LineBytes(layout), 64) + RowOverrun),
      // Left uninitialised: the pages of rows never converted there are never touched.
      m_Scratch(new uint8_t[size_t(m_ScratchStride) * size_t(layout.height) + RowOverrun]),
      m_Source(av_frame_alloc()), m_Target(av_frame_alloc())
{
    if (!m_Source || !m_Target)
        throw std::bad_alloc();
}

int DibConverter::ExtraColumn(const AVFrame& picture, const DibLayout& layout)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(picture.format));
    const bool planarPairs = d && (d->flags & AV_PIX_FMT_FLAG_PLANAR) && !(d->flags & AV_PIX_FMT_FLAG_RGB) &&
                             d->log2_chroma_w == 1 && d->comp[0].step == 1;
    return planarPairs && IsPacked422(layout.format) && picture.width == layout.width && picture.width % 2 == 1 &&
           std::abs(picture.linesize[0]) > picture.width;
}

bool DibConverter::Convert(const AVFrame* picture, uint8_t* bits)
{
    const int extra = ExtraColumn(*picture, m_Layout);
    // Full-range pictures going to packed 4:2:2 are packed as their studio-range twin, which keeps
    // libswscale's fast packers, and their bytes brought to studio range afterwards.
    const AVPixelFormat twin = IsPacked422(m_Layout.format) ? StudioTwin(AVPixelFormat(picture->format)) : AV_PIX_FMT_NONE;
    const bool fullRange = twin != AV_PIX_FMT_NONE;
    const AVPixelFormat format = fullRange ? twin : AVPixelFormat(picture->format);
    m_Context.reset(sws_getCachedContext(m_Context.release(), picture->width + extra, picture->height, format,
                                         m_Layout.width + extra, m_Layout.height, m_Layout.format, Flags, nullptr,
                                         nullptr, nullptr));
    if (!m_Context || av_frame_ref(m_Source.get(), picture) < 0)
        return false;
    m_Source->width += extra;
    m_Source->format = format;

    // Packed YUV is written one row after the other, so a row's overrun lands on the next row,
    // which is written afterwards: those rows go straight into bits. The last rows, whose
    // overrun would pass the end of bits, and every row of a picture that is flipped or written
    // two rows at a time (libswscale's YUV to RGB), go through the scratch buffer.
    int direct = 0, band = 0;
    if (!m_Layout.bottomUp && IsPacked422(m_Layout.format)) {
        // The second part, and each band, must start on a chroma row of the picture.
        const int chromaRows = 1 << av_pix_fmt_desc_get(format)->log2_chroma_h;
        const int align = std::max(int(sws_receive_slice_alignment(m_Context.get())), chromaRows);
        const int tail = (RowOverrun + m_Layout.pitch - 1) / m_Layout.pitch;
        direct = std::max(0, (m_Layout.height - tail) / align * align);
        band = fullRange ? std::max(align, BandRows / align * align) : std::max(direct, 1);
    }
    const size_t lineBytes = LineBytes(m_Layout);
    const auto finish = [&](uint8_t* row) {
        if (fullRange)
            m_StudioRange(row, lineBytes);
    };
    bool converted = true;
    for (int first = 0; converted && first < direct; first += band) {
        const int count = std::min(band, direct - first);
        converted = ConvertRows(bits, m_Layout.pitch, first, count);
        for (int y = first; y < first + count; y++)
            finish(bits + size_t(y) * m_Layout.pitch);
    }
    converted = converted && ConvertRows(m_Scratch.get(), m_ScratchStride, direct, m_Layout.height - direct);
    av_frame_unref(m_Source.get());
    if (!converted)
        return false;

    for (int y = direct; y < m_Layout.height; y++) {
        uint8_t* const row = bits + size_t(m_Layout.bottomUp ? m_Layout.height - 1 - y : y) * m_Layout.pitch;
        memcpy(row, m_Scratch.get() + size_t(y) * m_ScratchStride, lineBytes);
        finish(row);
    }
    return true;
}

void DibConverter::FillBlack(uint8_t* bits) const
{
    uint8_t* planes[4] = {bits};
    const ptrdiff_t strides[4] = {m_Layout.pitch};
    av_image_fill_black(planes, strides, m_Layout.format, AVCOL_RANGE_MPEG, m_Layout.width, m_Layout.height);
}

// Rows [first, first + count) of the picture into the rows of the same numbers below base.
bool DibConverter::ConvertRows(uint8_t* base, int stride, int first, int count)
{
    AVFrame* target = m_Target.get();
    target->buf[0] = av_buffer_create(base, size_t(stride) * m_Layout.height, [](void*, uint8_t*) {}, nullptr, 0);
    if (!target->buf[0])
        return false;
    target->data[0] = base;
    target->linesize[0] = stride;
    target->format = m_Layout.format;
    target->width = m_Layout.width;
    target->height = m_Layout.height;
    SwsContext* context = m_Context.get();
    const bool converted = sws_frame_start(context, target, m_Source.get()) >= 0 &&
                           sws_send_slice(context, 0, m_Source->height) >= 0 &&
                           sws_receive_slice(context, first, count) >= 0;
    sws_frame_end(context);
    av_frame_unref(target);
    return converted;
}
