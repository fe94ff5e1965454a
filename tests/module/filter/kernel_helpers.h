// Shared pieces of the kernel tests.
#pragma once

#include "module/filter/kernel/glow_kernel.h"
#include "reference_kernel.h"
#include "tests/support/fakes/instance.h"
#include "tests/support/fakes/plane_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

namespace kernels {

using namespace orvit;

using fakes::Instance;

// A setting whose ramp entry e is (e, 255 - e, 7): the ramp index of every
// pixel can be read back from its red byte.
inline GlowSetting indexRamp(int32_t value, int32_t mode, double distance) {
    GlowSetting s;
    initSetting(&s, nullptr, value);
    s.mode = mode;
    s.distance = distance;
    s.keyEnabled[1] = 1;
    s.keyRed[0] = 0;
    s.keyGreen[0] = 255;
    s.keyBlue[0] = 7;
    s.keyPosition[0] = 0;
    s.keyRed[1] = 257; // the blend over 0..255 with divisor 257 makes entry e == e
    s.keyGreen[1] = -2;
    s.keyBlue[1] = 7;
    s.keyPosition[1] = 100;
    return s;
}

// The glow layer's strength and ramp index (its red byte under indexRamp)
// at (x, y).
inline int32_t strengthAt(const FilterInstance& i, int32_t x, int32_t y) {
    return i.glowLayer.strength[static_cast<size_t>(y) * i.glowLayer.width + x];
}
inline int32_t indexAt(const FilterInstance& i, int32_t x, int32_t y) {
    return i.glowLayer.red[static_cast<size_t>(y) * i.glowLayer.width + x];
}

// A source of random size, `width` and `height` each a least value and a
// spread (rng() % spread more), holding `blobs` random rectangles up to
// `maxSide` pixels a side, each of the special value and the depth the two
// draw.
template <typename Value, typename Depth>
fakes::PlaneSource randomSource(std::mt19937& rng, std::array<uint32_t, 2> width,
                                std::array<uint32_t, 2> height, int blobs, uint32_t maxSide,
                                Value value, Depth depth) {
    const auto w0 = static_cast<int32_t>(width[0] + rng() % width[1]);
    const auto h0 = static_cast<int32_t>(height[0] + rng() % height[1]);
    fakes::PlaneSource source(w0, h0);
    for (int blob = 0; blob < blobs; ++blob) {
        const auto x = static_cast<int32_t>(rng() % static_cast<uint32_t>(w0));
        const auto y = static_cast<int32_t>(rng() % static_cast<uint32_t>(h0));
        const auto w = static_cast<int32_t>(1 + rng() % maxSide);
        const auto h = static_cast<int32_t>(1 + rng() % maxSide);
        source.fill(x, y, std::min(w, w0 - x), std::min(h, h0 - y), value(), depth());
    }
    return source;
}

inline void expectSameLayer(const FilterInstance& inst, const reference::Layer& ref) {
    ASSERT_EQ(inst.glowLayer.width, ref.width);
    ASSERT_EQ(inst.glowLayer.height, ref.height);
    for (int32_t y = 0; y < ref.height; ++y)
        for (int32_t x = 0; x < ref.width; ++x) {
            size_t p = static_cast<size_t>(y) * ref.width + x;
            ASSERT_EQ(inst.glowLayer.strength[p], ref.strength[p])
                << "strength at " << x << "," << y;
            ASSERT_EQ(inst.glowLayer.red[p], ref.red[p]) << "red at " << x << "," << y;
            ASSERT_EQ(inst.glowLayer.green[p], ref.green[p]) << "green at " << x << "," << y;
            ASSERT_EQ(inst.glowLayer.blue[p], ref.blue[p]) << "blue at " << x << "," << y;
        }
}

} // namespace kernels
