#include "StudioRange.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// ((((v << 8) * factor) >> 16) + offset) >> 8 fits 16-bit lanes; these factors and offsets round
// every one of the 256 values to nearest.
struct Scale {
    uint16_t factor, offset;
};
constexpr Scale Luma = {56281, 4225}, Chroma = {57569, 4112};

uint8_t Apply(uint8_t value, Scale scale)
{
    return uint8_t((((unsigned(value) << 8) * scale.factor >> 16) + scale.offset) >> 8);
}

}  // namespace

StudioRange::StudioRange(AVPixelFormat format) : m_ChromaFirst(format == AV_PIX_FMT_UYVY422) {}

void StudioRange::operator()(uint8_t* bytes, size_t count) const
{
    const Scale even = m_ChromaFirst ? Chroma : Luma, odd = m_ChromaFirst ? Luma : Chroma;
    size_t at = 0;
#if defined(__SSE2__)
    const __m128i factors = _mm_set_epi16(short(odd.factor), short(even.factor), short(odd.factor), short(even.factor),
                                          short(odd.factor), short(even.factor), short(odd.factor), short(even.factor));
    const __m128i offsets = _mm_set_epi16(short(odd.offset), short(even.offset), short(odd.offset), short(even.offset),
                                          short(odd.offset), short(even.offset), short(odd.offset), short(even.offset));
    const __m128i zero = _mm_setzero_si128();
    const auto scale = [&](__m128i shifted) {
        return _mm_srli_epi16(_mm_add_epi16(_mm_mulhi_epu16(shifted, factors), offsets), 8);
    };
    for (; at + 16 <= count; at += 16) {
        const __m128i in = _mm_loadu_si128((const __m128i*)(bytes + at));
        const __m128i low = scale(_mm_unpacklo_epi8(zero, in)), high = scale(_mm_unpackhi_epi8(zero, in));
        _mm_storeu_si128((__m128i*)(bytes + at), _mm_packus_epi16(low, high));
    }
#endif
    for (; at < count; at++)
        bytes[at] = Apply(bytes[at], at % 2 ? odd : even);
}
