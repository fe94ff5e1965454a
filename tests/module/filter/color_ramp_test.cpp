#include "module/filter/color_ramp.h"

#include <gtest/gtest.h>

#include <array>

using namespace orvit;

namespace {

GlowSetting keys(std::initializer_list<std::array<int32_t, 4>> enabled) {
    GlowSetting s;
    initSetting(&s, nullptr, 1);
    for (int i = 0; i < kColorKeyCount; ++i)
        s.keyEnabled[i] = 0;
    int i = 0;
    for (const auto& k : enabled) {
        s.keyEnabled[i] = 1;
        s.keyRed[i] = k[0];
        s.keyGreen[i] = k[1];
        s.keyBlue[i] = k[2];
        s.keyPosition[i] = k[3];
        ++i;
    }
    return s;
}

struct Ramp {
    Ramp(const GlowSetting& s, int32_t n) { buildColorRamp(&r, &s, n); }
    ~Ramp() { freeColorRamp(&r); }
    std::array<int, 3> at(int e) const { return {r.red[e], r.green[e], r.blue[e]}; }
    ColorRamp r;
};

using Rgb = std::array<int, 3>;

} // namespace

TEST(ColorRamp, NoEnabledKeyLeavesItEmpty) {
    GlowSetting s = keys({});
    Ramp ramp(s, 256);
    EXPECT_EQ(ramp.r.keyCount, 0);
    EXPECT_EQ(ramp.r.red, nullptr);
    EXPECT_EQ(ramp.r.size, 256);
}

TEST(ColorRamp, OneKeyFillsEveryEntryWhateverItsPosition) {
    for (int32_t position : {0, 55, 100}) {
        GlowSetting s = keys({{10, 20, 30, position}});
        Ramp ramp(s, 500);
        ASSERT_EQ(ramp.r.keyCount, 1);
        for (int e = 0; e < 500; ++e)
            ASSERT_EQ(ramp.at(e), (Rgb{10, 20, 30})) << "entry " << e;
    }
    GlowSetting def;
    initSetting(&def, nullptr, 1);
    Ramp white(def, 256);
    EXPECT_EQ(white.at(0), (Rgb{255, 255, 255}));
    EXPECT_EQ(white.at(255), (Rgb{255, 255, 255}));
}

TEST(ColorRamp, BlackToWhiteUsesDivisorOneAboveTheSpan) {
    GlowSetting s = keys({{0, 0, 0, 0}, {255, 255, 255, 100}});
    Ramp ramp(s, 256);
    EXPECT_EQ(ramp.at(0), (Rgb{0, 0, 0}));
    EXPECT_EQ(ramp.at(1), (Rgb{0, 0, 0}));
    EXPECT_EQ(ramp.at(255), (Rgb{253, 253, 253}));
}

// These entries come out one step lower when a multiply-add is contracted,
// so they guard the build flags as well as the order of operations.
TEST(ColorRamp, ConstantSegmentsCanDropOneStep) {
    GlowSetting s = keys({{255, 0, 0, 20}, {0, 0, 255, 60}});
    Ramp ramp(s, 256);
    for (int e = 0; e <= 50; ++e)
        EXPECT_EQ(ramp.at(e), e == 12 ? (Rgb{254, 0, 0}) : (Rgb{255, 0, 0})) << "entry " << e;
    EXPECT_EQ(ramp.at(51), (Rgb{255, 0, 0}));
    EXPECT_EQ(ramp.at(152), (Rgb{4, 0, 250}));
    for (int e = 153; e <= 255; ++e)
        EXPECT_EQ(ramp.at(e), e == 177 ? (Rgb{0, 0, 254}) : (Rgb{0, 0, 255})) << "entry " << e;

    GlowSetting g = keys({{29, 29, 29, 20}, {29, 29, 29, 90}});
    Ramp grey(g, 256);
    EXPECT_EQ(grey.at(1)[0], 28);
    EXPECT_EQ(grey.at(11)[0], 28);
    EXPECT_EQ(grey.at(2)[0], 29);
}

TEST(ColorRamp, EqualPositionsSplitWithoutBlend) {
    GlowSetting s = keys({{200, 0, 0, 50}, {0, 100, 0, 50}});
    Ramp ramp(s, 256);
    // Everything before 128 is the first key, everything after the second;
    // the constant segments drop one step at entries 3 and 11 of each.
    for (int e = 0; e < 128; ++e)
        ASSERT_EQ(ramp.at(e), (e == 3 || e == 11 ? Rgb{199, 0, 0} : Rgb{200, 0, 0})) << e;
    for (int e = 128; e < 256; ++e)
        ASSERT_EQ(ramp.at(e), (e == 131 || e == 139 ? Rgb{0, 99, 0} : Rgb{0, 100, 0})) << e;
}

TEST(ColorRamp, KeysAreSortedByPositionAndMappedByN) {
    GlowSetting s = keys({{255, 255, 255, 80}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 10}});
    s.keyEnabled[1] = s.keyEnabled[2] = 0; // keys 0 (at 80) and 3 (at 10)
    Ramp ramp(s, 500);
    EXPECT_EQ(ramp.at(0), (Rgb{0, 0, 0}));         // below the first key: key 3's colour
    EXPECT_EQ(ramp.at(50), (Rgb{0, 0, 0}));        // e(10) = 50, blend starts exactly at key 3
    EXPECT_EQ(ramp.at(400), (Rgb{255, 255, 255})); // e(80) = 400
    EXPECT_EQ(ramp.at(399), (Rgb{253, 253, 253})); // 349 / 351 of the way
}

TEST(ColorRamp, PositionsOutsideTheRangeAreClamped) {
    GlowSetting s = keys({{0, 0, 0, -50}, {255, 255, 255, 250}});
    GlowSetting c = keys({{0, 0, 0, 0}, {255, 255, 255, 100}});
    Ramp wild(s, 256), clamped(c, 256);
    for (int e = 0; e < 256; ++e)
        ASSERT_EQ(wild.at(e), clamped.at(e)) << "entry " << e;
}

TEST(ColorRamp, ComponentsBeyondTheIntRangeDoNotOverflow) {
    GlowSetting s = keys({{INT32_MAX, INT32_MIN, 0, 0}, {INT32_MAX, INT32_MIN, 0, 100}});
    Ramp ramp(s, 256);
    EXPECT_EQ(ramp.at(0)[2], 0);
    EXPECT_EQ(ramp.at(100)[0], 255); // low byte of the saturated blend
}
