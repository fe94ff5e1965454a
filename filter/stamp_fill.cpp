// Stamping, the rules applied literally: every outline pixel blends its
// stamp's rows into the planes. A target takes a stamp's value when its
// strength is at most the falloff there, so one row of a stamp is, sixteen
// targets at a time: strength = max(strength, f); mask = (strength was <= f);
// index = mask ? c : index; written = all ones.
#include "filter/glow_fill.h"

#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define ORVIT_HAVE_SSE2 1
#endif

namespace orvit {

namespace {

void blendScalar(uint8_t* strength, uint8_t* index, uint8_t* written, const uint8_t* falloff,
                 const uint8_t* rampIndex, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (strength[i] <= falloff[i]) {
            strength[i] = falloff[i];
            index[i] = rampIndex[i];
        }
        written[i] = 0xFF;
    }
}

#ifdef ORVIT_HAVE_SSE2
inline void blend16(uint8_t* strength, uint8_t* index, uint8_t* written, const uint8_t* falloff,
                    const uint8_t* rampIndex) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(strength));
    const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(falloff));
    const __m128i top = _mm_max_epu8(s, f);
    const __m128i takes = _mm_cmpeq_epi8(top, f); // strength <= f
    const __m128i i = _mm_loadu_si128(reinterpret_cast<const __m128i*>(index));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rampIndex));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(strength), top);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index),
                     _mm_or_si128(_mm_and_si128(takes, c), _mm_andnot_si128(takes, i)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(written), _mm_set1_epi8(-1));
}
#endif

// One target run of one stamp row. Blending a target twice with the same
// values changes nothing, so the last sixteen may overlap the previous ones.
void blendRun(uint8_t* strength, uint8_t* index, uint8_t* written, const uint8_t* falloff,
              const uint8_t* rampIndex, int32_t count) {
#ifdef ORVIT_HAVE_SSE2
    if (count >= 16) {
        const int32_t last = count - 16;
        for (int32_t i = 0; i < last; i += 16)
            blend16(strength + i, index + i, written + i, falloff + i, rampIndex + i);
        blend16(strength + last, index + last, written + last, falloff + last, rampIndex + last);
        return;
    }
#endif
    blendScalar(strength, index, written, falloff, rampIndex, count);
}

void stampOne(const FillPlanes& planes, const StampPattern& pattern, int32_t x, int32_t y) {
    const int64_t r = pattern.radius;
    const int32_t width = planes.width;
    const int32_t height = planes.height;
    const int32_t x0 = static_cast<int32_t>(x - r < 0 ? 0 : x - r);
    const int32_t x1 = static_cast<int32_t>(x + r > width - 1 ? width - 1 : x + r);
    const int32_t y0 = static_cast<int32_t>(y - r < 0 ? 0 : y - r);
    const int32_t y1 = static_cast<int32_t>(y + r > height - 1 ? height - 1 : y + r);
    const int32_t count = x1 - x0 + 1;
    const size_t offset = static_cast<size_t>(pattern.half + (x0 - x));
    const size_t stride = static_cast<size_t>(pattern.stride);
    const size_t first =
        static_cast<size_t>(y0) * static_cast<size_t>(width) + static_cast<size_t>(x0);
    uint8_t* strength = planes.strength + first;
    uint8_t* index = planes.index + first;
    uint8_t* written = planes.written + first;
    const uint8_t* falloff = pattern.falloff.data() + offset;
    const uint8_t* rampIndex = pattern.rampIndex.data() + offset;
    for (int32_t ty = y0; ty <= y1; ++ty) {
        const size_t dy = static_cast<size_t>(ty > y ? ty - y : y - ty);
        blendRun(strength, index, written, falloff + dy * stride, rampIndex + dy * stride, count);
        strength += width;
        index += width;
        written += width;
    }
}

void fillCoreRun(const FillPlanes& planes, int32_t y, int32_t from, int32_t to) {
    const size_t p =
        static_cast<size_t>(y) * static_cast<size_t>(planes.width) + static_cast<size_t>(from);
    const size_t count = static_cast<size_t>(to - from + 1);
    std::memset(planes.strength + p, 255, count);
    std::memset(planes.index + p, 0, count);
    std::memset(planes.written + p, 0xFF, count);
}

} // namespace

void fillCores(const FillPlanes& planes, const GlowEvents& events) {
    for (int32_t y = 0; y < planes.height; ++y)
        for (int32_t r = events.coreStart[static_cast<size_t>(y)];
             r < events.coreStart[static_cast<size_t>(y) + 1]; ++r)
            fillCoreRun(planes, y, events.coreFrom[static_cast<size_t>(r)],
                        events.coreTo[static_cast<size_t>(r)]);
}

bool stampFill(const FillPlanes& planes, const GlowEvents& events, StampPatternCache& patterns) {
    const StampPattern* pattern = nullptr;
    for (int32_t y = 0; y < planes.height; ++y) {
        // Core runs and stamps of the row, merged in column order.
        int32_t core = events.coreStart[static_cast<size_t>(y)];
        const int32_t coreEnd = events.coreStart[static_cast<size_t>(y) + 1];
        const int32_t end = events.stampStart[static_cast<size_t>(y) + 1];
        for (int32_t e = events.stampStart[static_cast<size_t>(y)]; e <= end; ++e) {
            const int32_t x = e < end ? events.column[static_cast<size_t>(e)] : planes.width;
            for (; core < coreEnd && events.coreFrom[static_cast<size_t>(core)] < x; ++core)
                fillCoreRun(planes, y, events.coreFrom[static_cast<size_t>(core)],
                            events.coreTo[static_cast<size_t>(core)]);
            if (e == end)
                break;
            const int32_t radius = events.radius[static_cast<size_t>(e)];
            if (pattern == nullptr || pattern->radius != radius) {
                pattern = patterns.forRadius(radius);
                if (pattern == nullptr)
                    return false;
            }
            stampOne(planes, *pattern, x, y);
        }
    }
    return true;
}

double stampFillCost(const GlowEvents& events, int32_t radius, int32_t width, int32_t height) {
    const double rows = radius < height ? 2.0 * radius + 1.0 : 2.0 * height;
    const double columns = radius < width ? 2.0 * radius + 1.0 : 2.0 * width;
    return static_cast<double>(events.stampCount()) * rows * (columns / 16.0 + 1.0);
}

void resolveColours(uint8_t* red, uint8_t* green, uint8_t* blue, size_t count,
                    const ColorRamp& ramp) {
    bool constant = true;
    for (int32_t e = 1; e < ramp.size; ++e)
        if (ramp.red[e] != ramp.red[0] || ramp.green[e] != ramp.green[0] ||
            ramp.blue[e] != ramp.blue[0])
            constant = false;
    size_t i = 0;
#ifdef ORVIT_HAVE_SSE2
    if (constant) {
        const __m128i r = _mm_set1_epi8(static_cast<char>(ramp.red[0]));
        const __m128i g = _mm_set1_epi8(static_cast<char>(ramp.green[0]));
        const __m128i b = _mm_set1_epi8(static_cast<char>(ramp.blue[0]));
        for (; i + 16 <= count; i += 16) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + i));
            if (_mm_movemask_epi8(w) == 0) {
                // Unwritten: index and written are already 0, blue too.
                continue;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(red + i), _mm_and_si128(w, r));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(green + i), _mm_and_si128(w, g));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(blue + i), _mm_and_si128(w, b));
        }
    } else {
        for (; i + 16 <= count; i += 16) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + i));
            if (_mm_movemask_epi8(w) == 0)
                continue;
            for (size_t j = i; j < i + 16; ++j) {
                const uint8_t c = red[j];
                const bool written = green[j] != 0;
                red[j] = written ? ramp.red[c] : 0;
                green[j] = written ? ramp.green[c] : 0;
                blue[j] = written ? ramp.blue[c] : 0;
            }
        }
    }
#endif
    for (; i < count; ++i) {
        const uint8_t c = red[i];
        const bool written = green[i] != 0;
        red[i] = written ? ramp.red[c] : 0;
        green[i] = written ? ramp.green[c] : 0;
        blue[i] = written ? ramp.blue[c] : 0;
    }
    (void)constant;
}

} // namespace orvit
