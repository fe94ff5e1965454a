// The fill of a run with one radius R, from each target's nearest outline
// pixel instead of from every stamp. It rests on these consequences of the
// rules, which hold when falloff is non-increasing over the distances that
// occur, falloff[R] = 0 and falloff[1] < 255 (checked first):
// - A stamp's write is either a core write (255, ramp entry 0) or takes
//   effect only when the target's strength is at most its value, so the
//   final strength is the largest value written, and the colour is that of
//   the last write in scan order of that value.
// - With falloff non-increasing, the largest value at a target comes from
//   its nearest outline pixel: strength = falloff[min(R, isqrt(D2))] with D2
//   the least squared distance, found by an exact Euclidean distance
//   transform (Meijster: column distances, then the lower envelope of
//   parabolas along each row).
// - The distances sharing one falloff value S > 0 form a plateau
//   [lo, hi]; the colour comes from the latest outline pixel (largest row,
//   then column) with D2 <= (hi + 1)^2 - 1, at its own distance. One
//   distance, or one colour over the plateau, needs no search.
// - Where the strength ends at 0, every write there had value 0, so the
//   colour is that of the latest outline pixel whose square of side 2R + 1
//   holds the target, or none.
// - Core pixels end at 255 and ramp entry 0; outline pixels at their own
//   stamp's 255 and entry 0.
#include "module/filter/kernel/glow_fill.h"
#include "module/filter/simd.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace orvit {

namespace {

constexpr int32_t kFar = 1 << 30;

// The outline pixels that stamp, by row (the events' own lists), with their
// bounds.
struct SourceRows {
    const GlowEvents& events;
    int32_t firstRow = 0;
    int32_t lastRow = -1;
    int32_t minColumn = kFar;
    int32_t maxColumn = -1;

    const int32_t* begin(int32_t y) const {
        return events.column.data() + events.stampStart[static_cast<size_t>(y)];
    }
    const int32_t* end(int32_t y) const {
        return events.column.data() + events.stampStart[static_cast<size_t>(y) + 1];
    }
};

// What a distance gives: the falloff, the ramp index, and whether the
// falloff's plateau there needs the search for its colour.
struct ByDistance {
    uint8_t strength;
    uint8_t rampIndex;
    uint8_t search;
    uint8_t unused;
    int32_t plateauEnd;
};

struct Fill {
    const SourceRows& sources;
    const StampProfile& profile;

    // The ramp index of the latest outline pixel with D2 <= (hi + 1)^2 - 1.
    uint8_t latestWithin(int32_t tx, int32_t ty, int32_t hi) const {
        const int64_t limit = (static_cast<int64_t>(hi) + 1) * (hi + 1) - 1;
        const int32_t top = std::max(ty - hi, sources.firstRow);
        for (int32_t sy = std::min(ty + hi, sources.lastRow); sy >= top; --sy) {
            const int64_t dy = sy - ty;
            const int32_t w = integerRoot(limit - dy * dy);
            const int32_t* first = sources.begin(sy);
            const int32_t* last = std::upper_bound(first, sources.end(sy), tx + w);
            if (last != first && last[-1] >= tx - w) {
                const int64_t dx = tx - last[-1];
                return profile.rampIndex[static_cast<size_t>(integerRoot(dx * dx + dy * dy))];
            }
        }
        return profile.rampIndex[static_cast<size_t>(hi)]; // not reached
    }
};

// The events' outline pixels with the rows and columns they span.
SourceRows sourceRows(const GlowEvents& events, int32_t height) {
    SourceRows sources{events};
    for (int32_t y = 0; y < height; ++y)
        if (sources.begin(y) != sources.end(y)) {
            if (sources.lastRow < 0)
                sources.firstRow = y;
            sources.lastRow = y;
            sources.minColumn = std::min(sources.minColumn, *sources.begin(y));
            sources.maxColumn = std::max(sources.maxColumn, sources.end(y)[-1]);
        }
    return sources;
}

} // namespace

double nearestFillCost(const GlowEvents& events, int32_t radius, int32_t width, int32_t height) {
    // The fill visits the outline pixels' bounding box grown by R, at about
    // three sixteen-target blends' worth of work per pixel.
    const SourceRows sources = sourceRows(events, height);
    if (sources.lastRow < 0)
        return 0.0;
    const double reach = radius;
    const double rows =
        std::min<double>(height, sources.lastRow - sources.firstRow + 2.0 * reach + 1.0);
    const double columns =
        std::min<double>(width, sources.maxColumn - sources.minColumn + 2.0 * reach + 1.0);
    return 3.0 * rows * columns;
}

bool nearestFill(const FillPlanes& planes, const GlowEvents& events, const StampProfile& profile,
                 const ColorRamp& ramp) {
    const int32_t width = planes.width;
    const int32_t height = planes.height;
    const int32_t radius = profile.radius;
    const int32_t maxDistance = profile.maxDistance;
    const std::vector<uint8_t>& falloff = profile.falloff;
    const std::vector<uint8_t>& rampIndex = profile.rampIndex;
    // Squared distances stay below 2^31 and exact in doubles.
    if (radius < 1 || width > 30000 || height > 30000)
        return false;
    if (falloff[0] != 255 || profile.falloffAtRadius != 0)
        return false;
    if (maxDistance >= 1 && falloff[1] == 255)
        return false;
    for (int32_t d = 1; d <= maxDistance; ++d)
        if (falloff[static_cast<size_t>(d)] > falloff[static_cast<size_t>(d) - 1])
            return false;

    const SourceRows sources = sourceRows(events, height);
    const Fill fill{sources, profile};
    // Beyond the frame every square holds the whole frame.
    const int32_t reach = std::min(radius, width + height);
    // Least squared distance that gives no glow: R^2, or beyond the frame.
    const int32_t cap = std::min(radius, maxDistance + 1);
    const int64_t noGlow2 = static_cast<int64_t>(cap) * cap;

    try {
        // By distance; entry maxDistance + 1 stands for "no glow".
        std::vector<ByDistance> byDistance(static_cast<size_t>(maxDistance) + 2);
        for (int32_t lo = 0; lo <= maxDistance;) {
            int32_t hi = lo;
            while (hi < maxDistance &&
                   falloff[static_cast<size_t>(hi) + 1] == falloff[static_cast<size_t>(lo)])
                ++hi;
            bool varies = false;
            const uint8_t c0 = rampIndex[static_cast<size_t>(lo)];
            for (int32_t d = lo + 1; d <= hi; ++d) {
                const uint8_t c = rampIndex[static_cast<size_t>(d)];
                if (ramp.red[c] != ramp.red[c0] || ramp.green[c] != ramp.green[c0] ||
                    ramp.blue[c] != ramp.blue[c0])
                    varies = true;
            }
            for (int32_t d = lo; d <= hi; ++d)
                byDistance[static_cast<size_t>(d)] = {falloff[static_cast<size_t>(d)],
                                                      rampIndex[static_cast<size_t>(d)],
                                                      static_cast<uint8_t>(varies ? 1 : 0), 0, hi};
            lo = hi + 1;
        }
        byDistance[static_cast<size_t>(maxDistance) + 1] = {0, 0, 0, 0, 0};

        if (sources.lastRow >= 0) {
            // Column lists: the rows of each column's outline pixels, ascending.
            std::vector<int32_t> columnStart(static_cast<size_t>(width) + 1, 0);
            for (int32_t x : events.column)
                ++columnStart[static_cast<size_t>(x) + 1];
            for (int32_t x = 0; x < width; ++x)
                columnStart[static_cast<size_t>(x) + 1] += columnStart[static_cast<size_t>(x)];
            std::vector<int32_t> columnRows(events.column.size());
            std::vector<int32_t> cursor(columnStart.begin(), columnStart.end() - 1);
            for (int32_t y = sources.firstRow; y <= sources.lastRow; ++y)
                for (const int32_t* s = sources.begin(y); s != sources.end(y); ++s)
                    columnRows[static_cast<size_t>(cursor[static_cast<size_t>(*s)]++)] = y;

            // Per column: the nearest outline rows above and below the current row.
            std::vector<int32_t> above(static_cast<size_t>(width), -kFar);
            std::vector<int32_t> below(static_cast<size_t>(width), kFar);
            std::copy(columnStart.begin(), columnStart.end() - 1, cursor.begin());
            for (int32_t x = 0; x < width; ++x)
                if (cursor[static_cast<size_t>(x)] < columnStart[static_cast<size_t>(x) + 1])
                    below[static_cast<size_t>(x)] =
                        columnRows[static_cast<size_t>(cursor[static_cast<size_t>(x)])];

            // Per column: the latest outline pixel whose square holds the column
            // in the rows added so far (up to row + reach).
            std::vector<int32_t> latestRow(static_cast<size_t>(width), -kFar);
            std::vector<int32_t> latestColumn(static_cast<size_t>(width), 0);
            int32_t added = sources.firstRow;

            // The lower envelope of one row: segment k is site[k] from column from[k].
            std::vector<int32_t> site(static_cast<size_t>(width) + 1);
            std::vector<int64_t> siteHeight2(static_cast<size_t>(width) + 1);
            std::vector<int32_t> from(static_cast<size_t>(width) + 1);

            const int32_t rowLo = std::max(0, sources.firstRow - reach);
            const int32_t rowHi = std::min(height - 1, sources.lastRow + reach);
            const int32_t colLo = std::max(0, sources.minColumn - reach);
            const int32_t colHi = std::min(width - 1, sources.maxColumn + reach);

            for (int32_t ty = rowLo; ty <= rowHi; ++ty) {
                // Column distances move past the outline pixels of row ty - 1.
                if (ty - 1 >= sources.firstRow && ty - 1 <= sources.lastRow)
                    for (const int32_t* s = sources.begin(ty - 1); s != sources.end(ty - 1); ++s) {
                        const size_t x = static_cast<size_t>(*s);
                        above[x] = ty - 1;
                        const int32_t next = ++cursor[x];
                        below[x] = next < columnStart[x + 1] ? columnRows[static_cast<size_t>(next)]
                                                             : kFar;
                    }
                // Squares of the rows that now reach this row.
                const int32_t addUpTo = std::min(ty + reach, sources.lastRow);
                for (; added <= addUpTo; ++added) {
                    const int32_t* first = sources.begin(added);
                    const int32_t* last = sources.end(added);
                    if (first == last)
                        continue;
                    // Pixel x takes the last outline pixel s with s - reach <= x,
                    // as long as x <= s + reach.
                    for (const int32_t* s = first; s != last; ++s) {
                        const int32_t start = std::max(0, *s - reach);
                        const int32_t stop = std::min(
                            {width - 1, *s + reach, s + 1 != last ? s[1] - reach - 1 : width - 1});
                        for (int32_t x = start; x <= stop; ++x) {
                            latestRow[static_cast<size_t>(x)] = added;
                            latestColumn[static_cast<size_t>(x)] = *s;
                        }
                    }
                }

                // Lower envelope of the parabolas (x - i)^2 + g(i)^2 over the
                // columns whose g gives glow.
                int32_t q = -1;
                auto addSite = [&](int32_t u, int64_t g) {
                    const int64_t g2 = g * g;
                    while (q >= 0) {
                        const int64_t t = from[static_cast<size_t>(q)];
                        const int64_t a = t - site[static_cast<size_t>(q)];
                        const int64_t b = t - u;
                        if (a * a + siteHeight2[static_cast<size_t>(q)] > b * b + g2)
                            --q;
                        else
                            break;
                    }
                    if (q < 0) {
                        q = 0;
                        site[0] = u;
                        siteHeight2[0] = g2;
                        from[0] = colLo;
                        return;
                    }
                    const int64_t i = site[static_cast<size_t>(q)];
                    const int64_t numerator = (static_cast<int64_t>(u) * u - i * i) + g2 -
                                              siteHeight2[static_cast<size_t>(q)];
                    const int64_t denominator = 2 * (u - i);
                    // Exact floor: both are integers well below 2^53.
                    const int64_t separation = static_cast<int64_t>(std::floor(
                        static_cast<double>(numerator) / static_cast<double>(denominator)));
                    if (separation + 1 <= colHi) {
                        ++q;
                        site[static_cast<size_t>(q)] = u;
                        siteHeight2[static_cast<size_t>(q)] = g2;
                        from[static_cast<size_t>(q)] = static_cast<int32_t>(separation + 1);
                    }
                };
                int32_t u = sources.minColumn;
#ifdef ORVIT_HAVE_SSE2
                // Four columns at a time: g = min(ty - above, below - ty) < cap.
                const __m128i rowV = _mm_set1_epi32(ty);
                const __m128i capV = _mm_set1_epi32(cap);
                for (; u + 4 <= sources.maxColumn + 1; u += 4) {
                    const __m128i up = _mm_sub_epi32(
                        rowV, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&above[u])));
                    const __m128i down = _mm_sub_epi32(
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(&below[u])), rowV);
                    const __m128i upLess = _mm_cmplt_epi32(up, down);
                    const __m128i g =
                        _mm_or_si128(_mm_and_si128(upLess, up), _mm_andnot_si128(upLess, down));
                    int mask = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(g, capV)));
                    if (mask == 0)
                        continue;
                    alignas(16) int32_t lanes[4];
                    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), g);
                    for (int lane = 0; mask != 0; ++lane, mask >>= 1)
                        if (mask & 1)
                            addSite(u + lane, lanes[lane]);
                }
#endif
                for (; u <= sources.maxColumn; ++u) {
                    const int64_t g = std::min(ty - above[static_cast<size_t>(u)],
                                               below[static_cast<size_t>(u)] - ty);
                    if (g < cap)
                        addSite(u, g);
                }
                const int32_t segments = q + 1;
                from[static_cast<size_t>(segments)] = colHi + 1;

                const size_t row = static_cast<size_t>(ty) * static_cast<size_t>(width);
                uint8_t* strength = planes.strength + row;
                uint8_t* index = planes.index + row;
                uint8_t* written = planes.written + row;
                // A pixel without glow: the latest square holding it, if any.
                auto noGlow = [&](int32_t x) {
                    const int32_t sy = latestRow[static_cast<size_t>(x)];
                    if (sy < ty - reach)
                        return;
                    const int64_t dx = x - latestColumn[static_cast<size_t>(x)];
                    const int64_t dy = ty - sy;
                    int32_t d = integerRoot(dx * dx + dy * dy);
                    if (d > radius)
                        d = radius;
                    index[x] = rampIndex[static_cast<size_t>(d)];
                    written[x] = 0xFF;
                };
                int32_t x = colLo;
                for (int32_t k = 0; k < segments; ++k) {
                    const int32_t s = site[static_cast<size_t>(k)];
                    const int64_t g2 = siteHeight2[static_cast<size_t>(k)];
                    const int32_t end = from[static_cast<size_t>(k) + 1] - 1;
                    // Glow only where (x - s)^2 + g2 < noGlow2.
                    const int32_t spread = integerRoot(noGlow2 - g2 - 1);
                    const int32_t glowFrom = std::min(std::max(x, s - spread), end + 1);
                    const int32_t glowTo = std::min(end, s + spread);
                    for (; x < glowFrom; ++x)
                        noGlow(x);
                    auto glow = [&](int32_t at, int32_t d) {
                        const ByDistance& e = byDistance[static_cast<size_t>(d)];
                        if (e.strength == 0) {
                            noGlow(at);
                            return;
                        }
                        strength[at] = e.strength;
                        index[at] =
                            e.search == 0 ? e.rampIndex : fill.latestWithin(at, ty, e.plateauEnd);
                        written[at] = 0xFF;
                    };
                    for (; x <= glowTo; ++x) {
                        const int64_t dx = x - s;
                        glow(x, integerRoot(dx * dx + g2));
                    }
                    for (; x <= end; ++x)
                        noGlow(x);
                }
                for (; x <= colHi; ++x)
                    noGlow(x);
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }

    fillCores(planes, events);
    return true;
}

} // namespace orvit
