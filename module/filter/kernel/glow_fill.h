// The shared stamp core of the four glow kernels. The scan hands over the
// events of one run in scan order (core pixels and stamping outline pixels);
// a fill turns them into three working planes and `resolveColours` turns the
// ramp indices into the layer's colours:
//   strength  the glow strength, as the rules leave it;
//   index     the ramp entry of the write that decided the pixel's colour;
//   written   non-zero where any write happened (an unwritten pixel keeps
//             colour 0, which need not be a ramp entry).
// Two fills give the same layer: `stampFill` applies the rules stamp by
// stamp with branch-free row blends, leaving out what neighbouring stamps
// decide; `nearestFill` (one radius for the whole
// run) derives every pixel from its nearest outline pixel through an exact
// distance transform, in time linear in the frame whatever the radius.
#pragma once

#include "module/filter/color_ramp.h"
#include "module/filter/kernel/stamp_tables.h"

#include <cstdint>
#include <vector>

namespace orvit {

struct FillPlanes {
    uint8_t* strength;
    uint8_t* index;
    uint8_t* written;
    int32_t width;
    int32_t height;
};

// The events of one run, by row. Row y's outline pixels that stamp are
// [stampStart[y], stampStart[y + 1]) of column/radius, by ascending column;
// its core pixels are the runs [coreStart[y], coreStart[y + 1]) of
// coreFrom..coreTo (inclusive), ascending.
struct GlowEvents {
    std::vector<int32_t> stampStart; // height + 1 entries
    std::vector<int32_t> column;
    std::vector<int32_t> radius;
    std::vector<int32_t> coreStart; // height + 1 entries
    std::vector<int32_t> coreFrom;
    std::vector<int32_t> coreTo;

    int64_t stampCount() const { return static_cast<int64_t>(column.size()); }
    bool empty() const { return column.empty() && coreFrom.empty(); }
};

// Applies every event in scan order: a core pixel takes strength 255 and ramp
// entry 0; an outline pixel stamps with the pattern of its radius. With
// `sameColour` (every ramp entry the same colour) the index plane may hold
// another entry than the rules' wherever that changes no colour. False when
// a pattern cannot be obtained.
bool stampFill(const FillPlanes& planes, const GlowEvents& events, StampPatternCache& patterns,
               bool sameColour);

// Whether every entry of the ramp has the same colour.
bool oneColour(const ColorRamp& ramp);

// The same result for a run whose outline pixels all have radius
// profile.radius, when the falloff allows it: non-increasing over the
// distances that occur, falloff[R] = 0 and falloff[1] < 255. False when it
// does not (planes untouched) or memory runs out; the caller then clears the
// planes and stamps.
bool nearestFill(const FillPlanes& planes, const GlowEvents& events, const StampProfile& profile,
                 const ColorRamp& ramp);

// Estimated costs of the two fills for one radius, in comparable units.
double stampFillCost(const GlowEvents& events, int32_t radius, int32_t width, int32_t height,
                     bool sameColour);
double nearestFillCost(const GlowEvents& events, int32_t radius, int32_t width, int32_t height);

// Strength 255, ramp entry 0 over every core run.
void fillCores(const FillPlanes& planes, const GlowEvents& events);

// Turns the index and written planes into the layer's colours in place:
// index -> red, written -> green. Unwritten pixels get colour 0.
// `sameColour` is oneColour(ramp): then every written pixel takes entry 0.
void resolveColours(uint8_t* red, uint8_t* green, uint8_t* blue, size_t count,
                    const ColorRamp& ramp, bool sameColour);

} // namespace orvit
