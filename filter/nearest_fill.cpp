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
#include "filter/glow_fill.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace orvit {

namespace {

constexpr int32_t kFar = 1 << 30;

struct SourceRows {
    std::vector<int32_t> start; // height + 1
    std::vector<int32_t> column;
    int32_t firstRow = 0;
    int32_t lastRow = -1;
    int32_t minColumn = 0;
    int32_t maxColumn = -1;

    const int32_t* begin(int32_t y) const { return column.data() + start[static_cast<size_t>(y)]; }
    const int32_t* end(int32_t y) const {
        return column.data() + start[static_cast<size_t>(y) + 1];
    }
};

void collectSources(const GlowEvents& events, int32_t height, SourceRows* sources) {
    sources->start.assign(static_cast<size_t>(height) + 1, 0);
    sources->column.reserve(static_cast<size_t>(events.stampCount));
    sources->firstRow = height;
    sources->minColumn = kFar;
    for (int32_t y = 0; y < height; ++y) {
        sources->start[static_cast<size_t>(y)] = static_cast<int32_t>(sources->column.size());
        const int32_t end = events.rowStart[static_cast<size_t>(y) + 1];
        for (int32_t e = events.rowStart[static_cast<size_t>(y)]; e < end; ++e) {
            if (events.radius[static_cast<size_t>(e)] == kCoreEvent)
                continue;
            const int32_t x = events.column[static_cast<size_t>(e)];
            sources->column.push_back(x);
            sources->firstRow = std::min(sources->firstRow, y);
            sources->lastRow = y;
            sources->minColumn = std::min(sources->minColumn, x);
            sources->maxColumn = std::max(sources->maxColumn, x);
        }
    }
    sources->start[static_cast<size_t>(height)] = static_cast<int32_t>(sources->column.size());
}

struct Fill {
    const FillPlanes& planes;
    const SourceRows& sources;
    const StampProfile& profile;
    int32_t reach; // R for the geometry of the squares, capped at width + height
    int64_t radius2;
    std::vector<int32_t> plateauEnd; // by distance: last distance of its plateau
    std::vector<uint8_t> search;     // by distance: the plateau needs the search

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

} // namespace

double nearestFillCost(const GlowEvents& events, int32_t radius, int32_t width, int32_t height) {
    (void)events;
    (void)radius;
    return 2.0 * static_cast<double>(width) * static_cast<double>(height);
}

bool nearestFill(const FillPlanes& planes, const GlowEvents& events, const StampProfile& profile,
                 const ColorRamp& ramp) {
    const int32_t width = planes.width;
    const int32_t height = planes.height;
    const int32_t radius = profile.radius;
    const int32_t maxDistance = profile.maxDistance;
    const std::vector<uint8_t>& falloff = profile.falloff;
    const std::vector<uint8_t>& rampIndex = profile.rampIndex;
    if (radius < 1 || width > (1 << 28) || height > (1 << 28))
        return false;
    if (falloff[0] != 255 || profile.falloffAtRadius != 0)
        return false;
    if (maxDistance >= 1 && falloff[1] == 255)
        return false;
    for (int32_t d = 1; d <= maxDistance; ++d)
        if (falloff[static_cast<size_t>(d)] > falloff[static_cast<size_t>(d) - 1])
            return false;

    try {
        SourceRows sources;
        collectSources(events, height, &sources);

        Fill fill{planes,
                  sources,
                  profile,
                  std::min(radius, width + height),
                  static_cast<int64_t>(radius) * radius,
                  {},
                  {}};
        const int32_t reach = fill.reach;

        // Plateaus of the falloff, and whether their colour varies.
        fill.plateauEnd.resize(static_cast<size_t>(maxDistance) + 1);
        fill.search.assign(static_cast<size_t>(maxDistance) + 1, 0);
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
            for (int32_t d = lo; d <= hi; ++d) {
                fill.plateauEnd[static_cast<size_t>(d)] = hi;
                fill.search[static_cast<size_t>(d)] = varies ? 1 : 0;
            }
            lo = hi + 1;
        }

        if (sources.lastRow >= 0) {
            // Column lists: the rows of each column's outline pixels, ascending.
            std::vector<int32_t> columnStart(static_cast<size_t>(width) + 1, 0);
            for (int32_t x : sources.column)
                ++columnStart[static_cast<size_t>(x) + 1];
            for (int32_t x = 0; x < width; ++x)
                columnStart[static_cast<size_t>(x) + 1] += columnStart[static_cast<size_t>(x)];
            std::vector<int32_t> columnRows(sources.column.size());
            std::vector<int32_t> columnNext(columnStart.begin(), columnStart.end() - 1);
            for (int32_t y = sources.firstRow; y <= sources.lastRow; ++y)
                for (const int32_t* s = sources.begin(y); s != sources.end(y); ++s)
                    columnRows[static_cast<size_t>(columnNext[static_cast<size_t>(*s)]++)] = y;

            // Per column: the nearest outline rows above and below the current row.
            std::vector<int32_t> above(static_cast<size_t>(width), -kFar);
            std::vector<int32_t> below(static_cast<size_t>(width), kFar);
            std::vector<int32_t> cursor(columnStart.begin(), columnStart.end() - 1);
            for (int32_t x = 0; x < width; ++x)
                if (cursor[static_cast<size_t>(x)] < columnStart[static_cast<size_t>(x) + 1])
                    below[static_cast<size_t>(x)] =
                        columnRows[static_cast<size_t>(cursor[static_cast<size_t>(x)])];

            // Per column: the latest outline pixel whose square holds the column
            // in the rows added so far (up to row + reach).
            std::vector<int32_t> latestRow(static_cast<size_t>(width), -kFar);
            std::vector<int32_t> latestColumn(static_cast<size_t>(width), 0);
            int32_t added = sources.firstRow;

            // The lower envelope of one row.
            std::vector<int32_t> site(static_cast<size_t>(width));
            std::vector<int64_t> siteHeight2(static_cast<size_t>(width));
            std::vector<int32_t> siteFrom(static_cast<size_t>(width));

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
                    const int32_t from = std::max(0, *first - reach);
                    const int32_t to = std::min(width - 1, last[-1] + reach);
                    const int32_t* s = first - 1;
                    for (int32_t x = from; x <= to; ++x) {
                        while (s + 1 != last && s[1] <= x + reach)
                            ++s;
                        if (s >= first && *s >= x - reach) {
                            latestRow[static_cast<size_t>(x)] = added;
                            latestColumn[static_cast<size_t>(x)] = *s;
                        }
                    }
                }

                // Lower envelope of the parabolas (x - i)^2 + g(i)^2 over the
                // columns whose g is below R.
                int32_t q = -1;
                for (int32_t u = sources.minColumn; u <= sources.maxColumn; ++u) {
                    const int64_t g = std::min(ty - above[static_cast<size_t>(u)],
                                               below[static_cast<size_t>(u)] - ty);
                    if (g >= radius)
                        continue;
                    const int64_t g2 = g * g;
                    while (q >= 0) {
                        const int64_t t = siteFrom[static_cast<size_t>(q)];
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
                        siteFrom[0] = colLo;
                    } else {
                        const int64_t i = site[static_cast<size_t>(q)];
                        const int64_t numerator = (static_cast<int64_t>(u) * u - i * i) + g2 -
                                                  siteHeight2[static_cast<size_t>(q)];
                        const int64_t denominator = 2 * (u - i);
                        // Exact floor: both are integers well below 2^53.
                        const int64_t separation = static_cast<int64_t>(std::floor(
                            static_cast<double>(numerator) / static_cast<double>(denominator)));
                        const int64_t w = 1 + separation;
                        if (w <= colHi) {
                            ++q;
                            site[static_cast<size_t>(q)] = u;
                            siteHeight2[static_cast<size_t>(q)] = g2;
                            siteFrom[static_cast<size_t>(q)] = static_cast<int32_t>(w);
                        }
                    }
                }

                const size_t row = static_cast<size_t>(ty) * static_cast<size_t>(width);
                uint8_t* strength = planes.strength + row;
                uint8_t* index = planes.index + row;
                uint8_t* written = planes.written + row;
                for (int32_t x = colHi; x >= colLo; --x) {
                    int64_t d2 = INT64_MAX;
                    if (q >= 0) {
                        const int64_t dx = x - site[static_cast<size_t>(q)];
                        d2 = dx * dx + siteHeight2[static_cast<size_t>(q)];
                        if (x == siteFrom[static_cast<size_t>(q)])
                            --q;
                    }
                    if (d2 < fill.radius2) {
                        const int32_t d = integerRoot(d2);
                        const uint8_t s = falloff[static_cast<size_t>(d)];
                        if (s > 0) {
                            strength[x] = s;
                            index[x] = fill.search[static_cast<size_t>(d)]
                                           ? fill.latestWithin(
                                                 x, ty, fill.plateauEnd[static_cast<size_t>(d)])
                                           : rampIndex[static_cast<size_t>(d)];
                            written[x] = 0xFF;
                            continue;
                        }
                    }
                    const int32_t sy = latestRow[static_cast<size_t>(x)];
                    if (sy >= ty - reach) {
                        const int64_t dx = x - latestColumn[static_cast<size_t>(x)];
                        const int64_t dy = ty - sy;
                        int32_t d = integerRoot(dx * dx + dy * dy);
                        if (d > radius)
                            d = radius;
                        index[x] = rampIndex[static_cast<size_t>(d)];
                        written[x] = 0xFF;
                    }
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }

    // Core pixels.
    for (int32_t y = 0; y < height; ++y) {
        const int32_t end = events.rowStart[static_cast<size_t>(y) + 1];
        for (int32_t e = events.rowStart[static_cast<size_t>(y)]; e < end; ++e) {
            if (events.radius[static_cast<size_t>(e)] != kCoreEvent)
                continue;
            const size_t p = static_cast<size_t>(y) * static_cast<size_t>(width) +
                             static_cast<size_t>(events.column[static_cast<size_t>(e)]);
            planes.strength[p] = 255;
            planes.index[p] = 0;
            planes.written[p] = 0xFF;
        }
    }
    return true;
}

} // namespace orvit
