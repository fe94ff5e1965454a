// Stamping, the rules applied stamp by stamp: every outline pixel blends its
// stamp's rows into the planes. A target takes a stamp's value when its
// strength is at most the falloff there, so one row of a stamp is, sixteen
// targets at a time: strength = max(strength, f); mask = (strength was <= f);
// index = mask ? c : index; written = all ones.
//
// A write decides nothing when a later write at the same target carries at
// least its falloff: the final strength is the largest value written and the
// colour that of the last write carrying it, and an unconditional core write
// forgets all before it. So where a later stamp of a neighbouring outline
// pixel is at least as near and at least as strong, a stamp's rows are cut
// short; most outline pixels have such a neighbour. When the ramp has one
// colour, which write of the largest value comes last does not matter, so an
// earlier stamp that is strictly nearer and at least as strong cuts too.
#include "module/filter/kernel/glow_fill.h"
#include "module/filter/simd.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace orvit {

namespace {

// With kIndex false (a ramp of one colour, where no index decides a colour)
// the index plane is left alone and the pattern has no indices.
template <bool kIndex>
void blendScalar(uint8_t* strength, uint8_t* index, uint8_t* written, const uint8_t* falloff,
                 const uint8_t* rampIndex, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (strength[i] <= falloff[i]) {
            strength[i] = falloff[i];
            if (kIndex)
                index[i] = rampIndex[i];
        }
        written[i] = 0xFF;
    }
}

#ifdef ORVIT_HAVE_SSE2
// Loads and stores of kWidth = 16 or 8 bytes (the low half of a register).
template <int kWidth> inline __m128i load(const uint8_t* p) {
    return kWidth == 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))
                        : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
template <int kWidth> inline void store(uint8_t* p, __m128i v) {
    if (kWidth == 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

// kWidth targets from `at` whose strength s and index i are already loaded.
// The planes come as bases with an offset: without ramp indices `index` and
// `rampIndex` are null, and no offset may be added to a null pointer.
template <int kWidth, bool kIndex>
inline void blendChunk(__m128i s, __m128i i, int32_t at, uint8_t* strength, uint8_t* index,
                       uint8_t* written, const uint8_t* falloff, const uint8_t* rampIndex) {
    const __m128i f = load<kWidth>(falloff + at);
    const __m128i top = _mm_max_epu8(s, f);
    const __m128i takes = _mm_cmpeq_epi8(top, f); // strength <= f
    // A target that does not take the write holds strength above f >= 0, so it
    // was written before: a chunk of such targets needs no store at all.
    if ((_mm_movemask_epi8(takes) & ((1 << kWidth) - 1)) == 0)
        return;
    store<kWidth>(strength + at, top);
    if (kIndex)
        store<kWidth>(index + at, _mm_or_si128(_mm_and_si128(takes, load<kWidth>(rampIndex + at)),
                                               _mm_andnot_si128(takes, i)));
    store<kWidth>(written + at, _mm_set1_epi8(-1));
}

// A run of kWidth .. 2 kWidth - 1 targets, or longer with kWidth = 16, as
// chunks of kWidth. Blending a target twice with the same values changes
// nothing, so the last chunk may overlap the one before; it is read before
// that is written, as a read of bytes just written by a store that only
// partly covers it waits for the store to finish.
template <int kWidth, bool kIndex>
inline void blendChunks(uint8_t* strength, uint8_t* index, uint8_t* written, const uint8_t* falloff,
                        const uint8_t* rampIndex, int32_t count) {
    const int32_t last = count - kWidth;
    const __m128i none = _mm_setzero_si128();
    const __m128i lastStrength = load<kWidth>(strength + last);
    const __m128i lastIndex = kIndex ? load<kWidth>(index + last) : none;
    for (int32_t i = 0; i < last; i += kWidth)
        blendChunk<kWidth, kIndex>(load<kWidth>(strength + i),
                                   kIndex ? load<kWidth>(index + i) : none, i, strength, index,
                                   written, falloff, rampIndex);
    blendChunk<kWidth, kIndex>(lastStrength, lastIndex, last, strength, index, written, falloff,
                               rampIndex);
}
#endif

// One target run of one stamp row.
template <bool kIndex>
void blendRun(uint8_t* strength, uint8_t* index, uint8_t* written, const uint8_t* falloff,
              const uint8_t* rampIndex, int32_t count) {
#ifdef ORVIT_HAVE_SSE2
    if (count >= 16) {
        blendChunks<16, kIndex>(strength, index, written, falloff, rampIndex, count);
        return;
    }
    if (count >= 8) {
        blendChunks<8, kIndex>(strength, index, written, falloff, rampIndex, count);
        return;
    }
#endif
    blendScalar<kIndex>(strength, index, written, falloff, rampIndex, count);
}

// Neighbouring stamps looked at for cuts: up to kNearRows rows away and
// kNearReach columns aside; outline pixels lie close together, and a nearer
// neighbour cuts more.
constexpr int32_t kNearRows = 3;
constexpr int32_t kNearReach = 3;
// Beyond them, the nearest covering stamp straight to each side: such a cut
// is the same on every row, so it costs one look however far the neighbour
// is.
constexpr int32_t kMaxCovers = (2 * kNearRows + 1) * (2 * kNearReach + 1) + 2;

// Another stamp at offset (a, b) from this one whose falloff is at least this
// stamp's at every distance (see Dominance). A later one takes the targets at
// least as near to it, an earlier one only those strictly nearer, so that of
// two stamps one always keeps a target.
struct CoverStamp {
    int32_t a;
    int32_t b;
    int32_t radius;
    bool earlier;
};

// ceil(n / d) for d > 0.
inline int64_t ceilDiv(int64_t n, int64_t d) {
    return n >= 0 ? (n + d - 1) / d : -((-n) / d);
}

// ceil(n / 2m) for m >= 1.
inline int64_t ceilHalf(int64_t n, int64_t m) {
    return ceilDiv(n, 2 * m);
}

// A neighbour takes the targets its square holds that are as near to it,
// (dx - a)^2 + (dy - b)^2 <= dx^2 + dy^2, that is 2a dx + 2b dy >= k with
// k = a^2 + b^2 (one more for an earlier neighbour). Narrows [lo, hi]
// (offsets from the stamp's column) on stamp row dy to what it leaves; a != 0.
void cutRow(const CoverStamp& other, int64_t dy, int64_t* lo, int64_t* hi) {
    const int64_t a = other.a;
    const int64_t b = other.b;
    const int64_t r = other.radius;
    if (std::llabs(dy - b) > r)
        return;
    const int64_t k = a * a + b * b - 2 * b * dy + (other.earlier ? 1 : 0);
    if (a > 0) {
        const int64_t from = std::max(ceilHalf(k, a), a - r);
        *hi = std::min(*hi, from - 1);
    } else {
        const int64_t to = std::min(-ceilHalf(k, -a), a + r);
        *lo = std::max(*lo, to + 1);
    }
}

// cutRow for a sloped neighbour (|a| <= 3, b != 0) row after row from rowLo:
// the bound ceil((k - 2b dy) / 2|a|) is b less |a| rows on, so each row's
// comes from the one |a| rows before, with no division.
class SlopedCut {
  public:
    SlopedCut() = default;
    SlopedCut(const CoverStamp& other, int64_t rowLo)
        : period_(other.a > 0 ? other.a : -other.a), right_(other.a > 0), step_(other.b),
          limit_(other.a > 0 ? other.a - other.radius : other.a + other.radius),
          first_(other.b - other.radius), last_(other.b + other.radius) {
        const int64_t a = other.a;
        const int64_t b = other.b;
        for (int32_t j = 0; j < period_; ++j) {
            const int64_t k = a * a + b * b - 2 * b * (rowLo + j) + (other.earlier ? 1 : 0);
            ring_[j] = ceilHalf(k, period_);
        }
    }
    // Row dy, the row after the last one cut (the first: rowLo).
    [[gnu::always_inline]] inline void cut(int64_t dy, int64_t* lo, int64_t* hi) {
        const int64_t bound = ring_[slot_];
        ring_[slot_] = bound - step_;
        slot_ = slot_ + 1 == period_ ? 0 : slot_ + 1;
        if (dy < first_ || dy > last_)
            return;
        if (right_)
            *hi = std::min(*hi, std::max(bound, limit_) - 1);
        else
            *lo = std::max(*lo, std::min(-bound, limit_) + 1);
    }

  private:
    int32_t period_ = 1;
    int32_t slot_ = 0;
    bool right_ = false;
    int64_t step_ = 0;
    int64_t limit_ = 0;
    int64_t first_ = 0;
    int64_t last_ = 0;
    int64_t ring_[3] = {};
};
static_assert(kNearReach <= 3, "a sloped cut keeps a bound for each of up to three rows");

template <bool kIndex>
void stampOne(const FillPlanes& planes, const StampPattern& pattern, int32_t x, int32_t y,
              const CoverStamp* covers, int32_t coverCount) {
    const int64_t r = pattern.radius;
    const int32_t width = planes.width;
    const int32_t height = planes.height;
    // Offsets of the stamp's rows and of the columns every row keeps. A
    // neighbour's square holds every row of this one (its radius is no
    // smaller), so one straight above or below takes whole rows and one
    // beside it the same columns of every row.
    int64_t rowLo = (y - r < 0 ? 0 : y - r) - y;
    int64_t rowHi = (y + r > height - 1 ? height - 1 : y + r) - y;
    int64_t keepLo = (x - r < 0 ? 0 : x - r) - x;
    int64_t keepHi = (x + r > width - 1 ? width - 1 : x + r) - x;
    CoverStamp sloped[4]; // one a quadrant
    int32_t slopedCount = 0;
    int32_t quadrant[4] = {-1, -1, -1, -1};
    for (int32_t i = 0; i < coverCount; ++i) {
        const CoverStamp& other = covers[i];
        const int64_t b = other.b;
        const int64_t k = b * b + (other.earlier ? 1 : 0);
        if (other.a == 0 && b > 0)
            rowHi = std::min(rowHi, ceilHalf(k, b) - 1);
        else if (other.a == 0)
            rowLo = std::max(rowLo, 1 - ceilHalf(k, -b));
        else if (b == 0)
            cutRow(other, 0, &keepLo, &keepHi);
        else {
            // One a quadrant: the nearest neighbour there cuts the most.
            const int32_t q = (other.a > 0 ? 1 : 0) + (b > 0 ? 2 : 0);
            const int64_t near = static_cast<int64_t>(other.a) * other.a + b * b;
            if (quadrant[q] < 0) {
                quadrant[q] = slopedCount;
                sloped[slopedCount++] = other;
            } else {
                CoverStamp& kept = sloped[quadrant[q]];
                if (near <
                    static_cast<int64_t>(kept.a) * kept.a + static_cast<int64_t>(kept.b) * kept.b)
                    kept = other;
            }
        }
    }
    SlopedCut cuts[4];
    for (int32_t i = 0; i < slopedCount; ++i)
        cuts[i] = SlopedCut(sloped[i], rowLo);
    const size_t stride = static_cast<size_t>(pattern.stride);
    for (int64_t dy = rowLo; dy <= rowHi; ++dy) {
        int64_t lo = keepLo;
        int64_t hi = keepHi;
        for (int32_t i = 0; i < slopedCount; ++i)
            cuts[i].cut(dy, &lo, &hi);
        if (lo > hi)
            continue;
        const size_t row = static_cast<size_t>(dy < 0 ? -dy : dy);
        const size_t offset = static_cast<size_t>(pattern.half + lo) + row * stride;
        const size_t first =
            static_cast<size_t>(y + dy) * static_cast<size_t>(width) + static_cast<size_t>(x + lo);
        blendRun<kIndex>(planes.strength + first, kIndex ? planes.index + first : nullptr,
                         planes.written + first, pattern.falloff.data() + offset,
                         kIndex ? pattern.rampIndex.data() + offset : nullptr,
                         static_cast<int32_t>(hi - lo + 1));
    }
}

// Whether a stamp of radius Q at least matches one of radius P wherever it is
// at least as near: P <= Q, falloff_P[P] = 0, and on distances below P the
// falloff of Q is non-increasing and at least that of P. Then a target with
// d_Q <= d_P has falloff_Q(d_Q) >= falloff_Q(d_P) >= falloff_P(d_P) when
// d_P < P, and falloff_P = 0 otherwise. Checked on the tables, per pair.
// An earlier stamp also needs falloff_P[1] < 255: then a core write between
// the two leaves nothing for the later one to change away from its pixel.
class Dominance {
  public:
    bool covers(const StampPattern& other, const StampPattern& stamp) {
        const int32_t p = stamp.radius;
        const int32_t q = other.radius;
        if (p > q || q >= kRadii || stamp.half < p)
            return false;
        int8_t& known = known_[static_cast<size_t>(p) * kRadii + static_cast<size_t>(q)];
        if (known == 0)
            known = check(other, stamp) ? 1 : -1;
        return known > 0;
    }

  private:
    static constexpr int32_t kRadii = kMaxDepthRadius + 1;

    static bool check(const StampPattern& other, const StampPattern& stamp) {
        const int32_t p = stamp.radius;
        const uint8_t* fp = stamp.falloffRow(0) + stamp.half;
        const uint8_t* fq = other.falloffRow(0) + other.half;
        if (fp[p] != 0 || (p >= 1 && fp[1] == 255))
            return false;
        for (int32_t d = 0; d < p; ++d)
            if (fq[d] < fp[d] || (d > 0 && fq[d] > fq[d - 1]))
                return false;
        return true;
    }

    int8_t known_[kRadii * kRadii] = {}; // 1 covers, -1 does not, 0 not yet checked
};

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

bool stampFill(const FillPlanes& planes, const GlowEvents& events, StampPatternCache& patterns,
               bool sameColour) {
    Dominance dominance;
    const StampPattern* pattern = nullptr;
    // Each row's stamps, walked alongside for the neighbours: row y + b is
    // [near[b], nearEnd[b]) once its columns left of reach are passed.
    int32_t near[2 * kNearRows + 1];
    int32_t nearEnd[2 * kNearRows + 1];
    for (int32_t y = 0; y < planes.height; ++y) {
        for (int32_t b = -kNearRows; b <= kNearRows; ++b) {
            const bool inside = y + b >= 0 && y + b + 1 <= planes.height;
            const size_t row = static_cast<size_t>(inside ? y + b : 0);
            near[b + kNearRows] = inside ? events.stampStart[row] : 0;
            nearEnd[b + kNearRows] = inside ? events.stampStart[row + 1] : 0;
        }
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
            // The neighbouring stamps that may cut this one: later ones, and
            // earlier ones too when the ramp has one colour.
            CoverStamp covers[kMaxCovers];
            int32_t coverCount = 0;
            for (int32_t b = -kNearRows; b <= kNearRows; ++b) {
                int32_t& j = near[b + kNearRows];
                const int32_t rowEnd = nearEnd[b + kNearRows];
                while (j < rowEnd && events.column[static_cast<size_t>(j)] < x - kNearReach)
                    ++j;
                for (int32_t k = j;
                     k < rowEnd && events.column[static_cast<size_t>(k)] <= x + kNearReach; ++k) {
                    const int32_t r = events.radius[static_cast<size_t>(k)];
                    const bool earlier = k < e;
                    if (k == e || (earlier && !sameColour) || r < radius)
                        continue;
                    const StampPattern* other = patterns.forRadius(r);
                    if (other != nullptr && dominance.covers(*other, *pattern))
                        covers[coverCount++] =
                            CoverStamp{events.column[static_cast<size_t>(k)] - x, b, r, earlier};
                }
            }
            bool straight[2] = {false, false}; // a near cover to the left, to the right
            for (int32_t i = 0; i < coverCount; ++i)
                if (covers[i].b == 0)
                    straight[covers[i].a > 0 ? 1 : 0] = true;
            auto coversThis = [&](int32_t k) {
                const int32_t r = events.radius[static_cast<size_t>(k)];
                if (r < radius || (k < e && !sameColour))
                    return false;
                const StampPattern* other = patterns.forRadius(r);
                return other != nullptr && dominance.covers(*other, *pattern);
            };
            const int32_t rowFirst = events.stampStart[static_cast<size_t>(y)];
            for (int32_t side = 0; side < 2; ++side) {
                const int32_t step = side == 0 ? -1 : 1;
                if (straight[side] || (step < 0 && !sameColour))
                    continue;
                for (int32_t k = e + step; k >= rowFirst && k < end; k += step) {
                    const int32_t a = events.column[static_cast<size_t>(k)] - x;
                    if (a * step > radius)
                        break;
                    if (a * step > kNearReach && coversThis(k)) {
                        covers[coverCount++] =
                            CoverStamp{a, 0, events.radius[static_cast<size_t>(k)], k < e};
                        break;
                    }
                }
            }
            if (sameColour)
                stampOne<false>(planes, *pattern, x, y, covers, coverCount);
            else
                stampOne<true>(planes, *pattern, x, y, covers, coverCount);
        }
    }
    return true;
}

bool oneColour(const ColorRamp& ramp) {
    for (int32_t e = 1; e < ramp.size; ++e)
        if (ramp.red[e] != ramp.red[0] || ramp.green[e] != ramp.green[0] ||
            ramp.blue[e] != ramp.blue[0])
            return false;
    return true;
}

double stampFillCost(const GlowEvents& events, int32_t radius, int32_t width, int32_t height,
                     bool sameColour) {
    const double rows = radius < height ? 2.0 * radius + 1.0 : 2.0 * height;
    const double columns = radius < width ? 2.0 * radius + 1.0 : 2.0 * width;
    const double stamps = static_cast<double>(events.stampCount());
    // Neighbours on both sides leave a stamp about one short run a row; later
    // ones alone about a third of it (measured on outlines of shapes).
    if (sameColour)
        return stamps * rows * 2.0;
    return stamps * rows * (columns / 16.0 + 1.0) * 0.3;
}

void resolveColours(uint8_t* red, uint8_t* green, uint8_t* blue, size_t count,
                    const ColorRamp& ramp, bool sameColour) {
    auto resolve = [&](size_t j) {
        const uint8_t c = red[j];
        const bool written = green[j] != 0;
        red[j] = written ? ramp.red[c] : 0;
        green[j] = written ? ramp.green[c] : 0;
        blue[j] = written ? ramp.blue[c] : 0;
    };
    size_t i = 0;
#ifdef ORVIT_HAVE_SSE2
    // Sixteen at a time; unwritten ones have index, written and blue 0 already.
    const __m128i r = _mm_set1_epi8(static_cast<char>(ramp.red[0]));
    const __m128i g = _mm_set1_epi8(static_cast<char>(ramp.green[0]));
    const __m128i b = _mm_set1_epi8(static_cast<char>(ramp.blue[0]));
    for (; i + 16 <= count; i += 16) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + i));
        if (_mm_movemask_epi8(w) == 0)
            continue;
        if (!sameColour) {
            for (size_t j = i; j < i + 16; ++j)
                resolve(j);
            continue;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(red + i), _mm_and_si128(w, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(green + i), _mm_and_si128(w, g));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(blue + i), _mm_and_si128(w, b));
    }
#endif
    for (; i < count; ++i)
        resolve(i);
    (void)sameColour;
}

} // namespace orvit
