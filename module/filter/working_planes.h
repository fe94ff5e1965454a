// The filter's working memory for one instance: the glow layer a kernel run
// fills, and the planes kept from one enabled frame to the next, so that the
// next frame of the same size takes them again instead of fresh pages.
#pragma once

#include "module/settings/settings.h"

#include <cstddef>
#include <cstdint>

namespace orvit {

// One setting's glow: ramp indices per colour and the strength, width x
// height + 1 bytes each (the spare byte gives an empty frame planes too).
struct GlowLayer {
    uint8_t* red;
    uint8_t* green;
    uint8_t* blue;
    uint8_t* strength;
    int32_t width;
    int32_t height;
};

// The layer is empty between frames; the spares (the four layer planes and
// the three accumulator planes, present once a frame had two settings) keep
// their contents from the last frame. A frame of another size, a disabled
// frame and the instance's destruction release the spares.
struct WorkingPlanes {
    GlowLayer layer;
    struct {
        uint8_t* layer[4]; // red, green, blue, strength
        uint8_t* accumulator[3];
        int32_t width;
        int32_t height;
    } spare;
};

// The instance's working planes, made on first use (all absent); null when
// memory runs out.
WorkingPlanes* workingPlanes(FilterInstance* instance);
// The instance's glow layer; an empty one while it has no working planes.
const GlowLayer& glowLayer(const FilterInstance* instance);

// Releases the glow layer's planes and sets its size to 0.
void releaseGlowLayer(FilterInstance* instance);
// Releases the spare planes.
void releaseSparePlanes(WorkingPlanes& planes);
// A working plane of `count` + 1 zero bytes: `spare` cleared and taken (left
// null) when present, else a fresh one; null when memory runs out.
uint8_t* takeSparePlane(uint8_t*& spare, size_t count);

} // namespace orvit
