// Shared pieces of the kernel tests.
#pragma once

#include "module/filter/kernel/glow_kernel.h"
#include "module/filter/working_planes.h"
#include "reference_kernel.h"
#include "tests/support/fakes/instance.h"

#include <gtest/gtest.h>

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

inline void expectSameLayer(const FilterInstance& inst, const reference::Layer& ref) {
    ASSERT_EQ(glowLayer(&inst).width, ref.width);
    ASSERT_EQ(glowLayer(&inst).height, ref.height);
    for (int32_t y = 0; y < ref.height; ++y)
        for (int32_t x = 0; x < ref.width; ++x) {
            size_t p = static_cast<size_t>(y) * ref.width + x;
            ASSERT_EQ(glowLayer(&inst).strength[p], ref.strength[p])
                << "strength at " << x << "," << y;
            ASSERT_EQ(glowLayer(&inst).red[p], ref.red[p]) << "red at " << x << "," << y;
            ASSERT_EQ(glowLayer(&inst).green[p], ref.green[p]) << "green at " << x << "," << y;
            ASSERT_EQ(glowLayer(&inst).blue[p], ref.blue[p]) << "blue at " << x << "," << y;
        }
}

} // namespace kernels
