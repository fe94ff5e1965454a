#include "kernel_helpers.h"
#include "module/filter/kernel/glow_kernel.h"
#include "module/filter/kernel/stamp_tables.h"
#include "reference_kernel.h"
#include "tests/support/fakes/fake_envelopes.h"
#include "tests/support/fakes/plane_source.h"

#include <gtest/gtest.h>

#include <random>

using namespace orvit;
using namespace kernels;

TEST(StampTables, FalloffIndexAndPatternMatchTheRules) {
    StampProfile r4;
    ASSERT_TRUE(buildStampProfile(&r4, 4, 100, 100));
    EXPECT_EQ(r4.falloff, (std::vector<uint8_t>{255, 217, 127, 37, 0}));
    EXPECT_EQ(r4.rampIndex, (std::vector<uint8_t>{0, 64, 128, 192, 255}));
    EXPECT_EQ(r4.falloffAtRadius, 0);
    // The pattern's rows hold falloff[min(R, trunc(sqrt(dx^2 + dy^2)))] for dx = -4..4.
    auto p4 = buildStampPattern(r4, 100, 100, true);
    ASSERT_NE(p4, nullptr);
    const int32_t distances[5][5] = {
        {0, 1, 2, 3, 4}, {1, 1, 2, 3, 4}, {2, 2, 2, 3, 4}, {3, 3, 3, 4, 4}, {4, 4, 4, 4, 4}};
    for (int32_t dy = 0; dy <= 4; ++dy)
        for (int32_t dx = -4; dx <= 4; ++dx) {
            const int32_t d = distances[dy][dx < 0 ? -dx : dx];
            EXPECT_EQ(p4->falloffRow(dy)[4 + dx], r4.falloff[d]) << dx << "," << dy;
            EXPECT_EQ(p4->rampRow(dy)[4 + dx], r4.rampIndex[d]) << dx << "," << dy;
        }
    StampProfile r10;
    ASSERT_TRUE(buildStampProfile(&r10, 10, 100, 100));
    EXPECT_EQ(r10.falloff, (std::vector<uint8_t>{255, 248, 230, 202, 166, 127, 88, 52, 24, 6, 0}));
    StampProfile r3;
    ASSERT_TRUE(buildStampProfile(&r3, 3, 100, 100));
    EXPECT_EQ(r3.rampIndex, (std::vector<uint8_t>{0, 85, 170, 255}));
    StampProfile r0;
    ASSERT_TRUE(buildStampProfile(&r0, 0, 100, 100));
    EXPECT_EQ(r0.falloff, (std::vector<uint8_t>{0}));
    EXPECT_EQ(r0.rampIndex, (std::vector<uint8_t>{255}));
}

TEST(StampTables, HugeRadiusIsSizedByTheFrameNotTheRadius) {
    // distance 1000 at width 640: R = 640000; the literal tables would hold
    // (R + 1)^2 entries, the clipped ones only what a 640 x 480 window reaches.
    StampProfile t;
    ASSERT_TRUE(buildStampProfile(&t, 640000, 640, 480));
    EXPECT_EQ(t.falloff.size(), 799u); // trunc(sqrt(639^2 + 479^2)) + 1
    EXPECT_EQ(t.falloff[798], 254);
    EXPECT_EQ(t.falloffAtRadius, 0);
    auto p = buildStampPattern(t, 640, 480, false);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->rows, 480);
    EXPECT_EQ(p->stride, 2 * 639 + 1);
    EXPECT_EQ(p->falloffRow(479)[639 + 639], t.falloff[798]);
}

TEST(StampTables, IntegerRootIsExactBelowTwoToThe52) {
    for (int64_t r : {0LL, 1LL, 2LL, 45LL, 46340LL, 46341LL, 40000000LL, 67108863LL}) {
        EXPECT_EQ(integerRoot(r * r), r);
        if (r > 0) {
            EXPECT_EQ(integerRoot(r * r - 1), r - 1);
        }
        EXPECT_EQ(integerRoot(r * r + 2 * r), r);
    }
}

// A solid 3 x 3 block, R = 4: Fixed keeps the block's centre whole, G-Fixed's
// centre takes its edges' stamps; both stamp from the edges outwards.
TEST(GlowFixed, SolidBlockInFixedAndGFixed) {
    for (const int32_t mode : {ModeFixed, ModeGFixed}) {
        Instance instance(createInstance());
        fakes::PlaneSource source(20, 20);
        source.fill(8, 8, 3, 3, 9);
        GlowSetting s = indexRamp(9, mode, 0.2);
        const auto kernel = mode == ModeFixed ? glowFixed : glowGFixed;
        ASSERT_EQ(kernel(instance.get(), &s, source), 1);
        const bool fixed = mode == ModeFixed;
        EXPECT_EQ(strengthAt(*instance, 9, 9), fixed ? 255 : 217) << mode;
        EXPECT_EQ(indexAt(*instance, 9, 9), fixed ? 0 : 64) << mode;
        for (auto [x, y] : {std::pair{9, 8}, {8, 9}, {10, 9}, {9, 10}}) {
            EXPECT_EQ(strengthAt(*instance, x, y), 255) << x << "," << y;
            EXPECT_EQ(indexAt(*instance, x, y), 0) << x << "," << y;
        }
        for (auto [x, y] : {std::pair{8, 8}, {10, 8}, {8, 10}, {10, 10}}) {
            EXPECT_EQ(strengthAt(*instance, x, y), 217) << x << "," << y;
            EXPECT_EQ(indexAt(*instance, x, y), 64) << x << "," << y;
        }
        if (fixed) {
            EXPECT_EQ(source.specialRequests, 3 * 18); // three lines per scanned row
        }
    }
}

TEST(GlowFixed, SizeEnvelopeIsReadOnceAtTheSourceStart) {
    fakes::FakeEnvelopes envelopes;
    GlowSetting s;
    initSetting(&s, nullptr, 1);
    s.sizeEnvelope = envelopes.make({{0.0, 0.0}, {5.0, 0.2}}); // 0.1 at 2.5
    fakes::PlaneSource source(640, 4, 2.5);
    int32_t r = 0;
    ASSERT_TRUE(fixedRadius(&s, source, &r));
    EXPECT_EQ(r, 64) << "R = trunc(640 x 0.1); time 0 would give 1";
    ASSERT_EQ(envelopes.evaluations.size(), 1u);
    EXPECT_EQ(envelopes.evaluations[0].time, 2.5);
    releaseEnvelopes(&s);
}

TEST(GlowFixed, RadiusRulesForStaticAndEnvelopeSizes) {
    fakes::FakeEnvelopes envelopes;
    struct Case {
        const char* name;
        double distance;
        bool envelope;
        double envelopeValue;
        int32_t expectRadius; // -1: no outline glow
    };
    const Case cases[] = {
        {"static 0.05 at 640", 0.05, false, 0, 32},
        {"static 0 gives R 0", 0.0, false, 0, 0},
        {"negative static", -0.5, false, 0, -320},
        {"NaN static", std::nan(""), false, 0, -1},
        {"huge static saturates", 1e300, false, 0, INT32_MAX},
        {"envelope 0 raised to 1", 0.05, true, 0.0, 1},
        {"negative envelope raised to 1", 0.05, true, -3.0, 1},
        {"envelope overrides static", 0.05, true, 0.1, 64},
        {"NaN envelope", 0.05, true, std::nan(""), -1},
        {"-inf envelope saturates then raised", 0.05, true, -INFINITY, 1},
    };
    for (const Case& c : cases) {
        GlowSetting s;
        initSetting(&s, nullptr, 1);
        s.distance = c.distance;
        if (c.envelope)
            s.sizeEnvelope = envelopes.make(c.envelopeValue);
        fakes::PlaneSource source(640, 4);
        int32_t r = 0;
        bool have = fixedRadius(&s, source, &r);
        EXPECT_EQ(have, c.expectRadius != -1) << c.name;
        if (have) {
            EXPECT_EQ(r, c.expectRadius) << c.name;
        }
        releaseEnvelopes(&s);
    }
    GlowSetting s;
    initSetting(&s, nullptr, 1);
    fakes::PlaneSource w720(720, 4), w256(256, 4);
    int32_t r = 0;
    fixedRadius(&s, w720, &r);
    EXPECT_EQ(r, 36);
    fixedRadius(&s, w256, &r);
    EXPECT_EQ(r, 12);
}

TEST(GlowFixed, DegenerateRadiiAndFramesGlowOnlyTheCore) {
    Instance instance(createInstance());
    for (double distance : {0.0, -0.3, std::nan("")}) {
        fakes::PlaneSource source(20, 20);
        source.fill(5, 5, 6, 6, 3);
        GlowSetting s = indexRamp(3, ModeFixed, distance);
        ASSERT_EQ(glowFixed(instance.get(), &s, source), 1);
        int glowing = 0;
        for (int i = 0; i < 400; ++i)
            glowing += instance->glowLayer.strength[i] != 0;
        EXPECT_EQ(glowing, 16) << "distance " << distance; // the 4 x 4 core
        // R = 0: an outline pixel's own stamp writes ramp entry 255 at strength 0.
        if (distance == 0.0) {
            EXPECT_EQ(instance->glowLayer.red[5 * 20 + 6], 255); // edge pixel, n = 5
        }
    }
    // Under 3 pixels wide: nothing, but the kernel ran.
    fakes::PlaneSource thin(2, 50);
    thin.fill(0, 0, 2, 50, 3);
    GlowSetting s = indexRamp(3, ModeFixed, 0.5);
    EXPECT_EQ(glowFixed(instance.get(), &s, thin), 1);
    EXPECT_EQ(instance->glowLayer.width, 2);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(instance->glowLayer.strength[i], 0);
}

TEST(GlowFixed, NoEnabledKeyReturnsZeroWithClearedLayer) {
    Instance instance(createInstance());
    fakes::PlaneSource source(16, 16);
    source.fill(2, 2, 8, 8, 4);
    GlowSetting s = indexRamp(4, ModeFixed, 0.25);
    ASSERT_EQ(glowFixed(instance.get(), &s, source), 1);
    s.keyEnabled[0] = s.keyEnabled[1] = 0;
    EXPECT_EQ(glowFixed(instance.get(), &s, source), 0);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(instance->glowLayer.strength[i], 0);
}

TEST(GlowKernels, MatchTheLiteralRulesOnRandomShapes) {
    std::mt19937 rng(1234);
    Instance instance(createInstance());
    for (int round = 0; round < 40; ++round) {
        fakes::PlaneSource source = randomSource(
            rng, {8, 60}, {8, 40}, 6, 12, [&] { return static_cast<uint8_t>(1 + rng() % 2); },
            [&] { return 0.5f + static_cast<float>(rng() % 400) * 0.05f; });
        const int32_t W = source.width, H = source.height;
        const int32_t mode = round % 4;
        GlowSetting s = indexRamp(1, mode, 0.02 + 0.01 * (rng() % 30));
        s.keyEnabled[2] = round % 3 == 0;
        s.keyRed[2] = 90;
        s.keyPosition[2] = 40;
        int32_t R = 0;
        fixedRadius(&s, source, &R);
        if (R < 1)
            continue;
        GlowKernel kernel = kernelForMode(mode);
        if (mode == ModeDepth || mode == ModeGDepth) {
            // No camera service here: the depth kernels fall back to core fill only.
            kernel(instance.get(), &s, source);
            expectSameLayer(*instance, reference::glow(source.special, source.depth, W, H, s, R,
                                                       s.distance, std::nan("")));
        } else {
            kernel(instance.get(), &s, source);
            expectSameLayer(*instance,
                            reference::glow(source.special, source.depth, W, H, s, R, 0, 0));
        }
        if (HasFatalFailure())
            return;
    }
}

TEST(GlowFixed, EveryFillMatchesTheRulesFromRadiusZeroToBeyondAnyFalloff) {
    // R = 0 stamps only ramp entry 255 at strength 0; R = 500 reaches beyond
    // the frame; at R = 2^31 - 1 the falloff is 255 at distance 1, so the
    // nearest fill must decline and stamping take over.
    Instance instance(createInstance());
    fakes::PlaneSource source(24, 20);
    source.fill(3, 3, 9, 7, 4);
    source.fill(14, 9, 8, 8, 4);
    source.fill(0, 15, 24, 2, 4); // cut by both side borders
    for (double distance : {0.0, 0.5 / 24, 500.5 / 24, 1e300}) {
        GlowSetting s = indexRamp(4, ModeFixed, distance);
        s.keyEnabled[2] = 1;
        s.keyRed[2] = 90;
        s.keyPosition[2] = 1;
        int32_t R = 0;
        ASSERT_TRUE(fixedRadius(&s, source, &R));
        const auto ref = reference::glow(source.special, source.depth, 24, 20, s, R, 0, 0);
        for (FillChoice choice : {FillChoice::Fastest, FillChoice::Stamp, FillChoice::Nearest}) {
            ASSERT_EQ(runGlowKernel(instance.get(), &s, source, kFixedRule, choice), 1);
            expectSameLayer(*instance, ref);
            if (HasFatalFailure())
                return;
        }
    }
}
