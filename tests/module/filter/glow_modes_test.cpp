#include "kernel_helpers.h"
#include "module/filter/kernel/glow_kernel.h"
#include "module/filter/kernel/stamp_tables.h"
#include "tests/support/fakes/fake_camera.h"
#include "tests/support/fakes/fake_envelopes.h"
#include "tests/support/fakes/plane_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace orvit;
using namespace kernels;

namespace {

struct Shape {
    const char* name;
    int32_t x, y;         // the pixel under test
    bool stampsInMode[4]; // does it stamp (strength 255 and ramp entry 0 of its own)?
};

// Draws a one-pixel cross, a rectangle and a one-pixel line of value 2 into a 40 x 30 frame.
void drawShapes(fakes::PlaneSource& s) {
    s.fill(5, 3, 1, 7, 2, 2.0f);   // vertical arm
    s.fill(2, 6, 7, 1, 2, 2.0f);   // horizontal arm; centre (5, 6) has n = 4
    s.fill(15, 5, 8, 6, 2, 2.0f);  // rectangle 15..22 x 5..10
    s.fill(28, 20, 9, 1, 2, 2.0f); // a one-pixel line
}

} // namespace

TEST(GlowModes, WhichPixelsStampInEachMode) {
    // Depth modes: K 1, size 0.5 at W 40 and depth 2 gives R = trunc(40 * 0.5 / 2 * 0.5) = 5.
    fakes::FakeCamera camera(1.0);
    const Shape shapes[] = {
        {"cross centre, n = 4", 5, 6, {true, true, false, false}},
        {"straight top edge, n = 5", 18, 5, {true, true, true, true}},
        {"straight left edge, n = 5", 15, 8, {true, true, true, true}},
        {"rectangle corner, n = 3", 15, 5, {false, false, false, false}},
        {"one-pixel line, n = 2", 32, 20, {false, false, false, false}},
    };
    for (int32_t mode = 0; mode < 4; ++mode) {
        Instance instance(createInstance());
        fakes::PlaneSource source(40, 30);
        drawShapes(source);
        const bool depthMode = mode == ModeDepth || mode == ModeGDepth;
        GlowSetting s = indexRamp(2, mode, depthMode ? 0.5 : 0.125); // R = 5 either way
        ASSERT_EQ(kernelForMode(mode)(instance.get(), &s, source), 1);
        // Each probe is isolated from other shapes' stamps by more than R, except
        // within its own shape; a stamping pixel holds its own stamp at distance 0.
        for (const Shape& shape : shapes) {
            const bool stamped = strengthAt(*instance, shape.x, shape.y) == 255 &&
                                 indexAt(*instance, shape.x, shape.y) == 0;
            if (shape.stampsInMode[mode]) {
                EXPECT_TRUE(stamped) << shape.name << " in mode " << mode;
            } else if (std::string(shape.name).find("line") != std::string::npos) {
                EXPECT_EQ(strengthAt(*instance, shape.x, shape.y), 0)
                    << shape.name << " mode " << mode;
            } else if (std::string(shape.name).find("cross") != std::string::npos) {
                // Only the arms' ends (n = 1..2) and the centre carry the value; nothing stamps.
                EXPECT_EQ(strengthAt(*instance, shape.x, shape.y), 0)
                    << shape.name << " mode " << mode;
            }
        }
    }
}

TEST(GlowModes, WideRegionInteriorStaysEmptyOnlyInTheGModes) {
    fakes::FakeCamera camera(1.0);
    for (int32_t mode = 0; mode < 4; ++mode) {
        Instance instance(createInstance());
        fakes::PlaneSource source(60, 60);
        std::fill(source.depth.begin(), source.depth.end(), 2.0f);
        source.fill(5, 5, 50, 50, 1, 2.0f);
        const bool depthMode = mode == ModeDepth || mode == ModeGDepth;
        GlowSetting s = indexRamp(1, mode, depthMode ? 0.2 : 0.05); // R = 3 either way
        kernelForMode(mode)(instance.get(), &s, source);
        const bool gMode = mode >= ModeGFixed;
        EXPECT_EQ(strengthAt(*instance, 30, 30), gMode ? 0 : 255) << "mode " << mode;
        EXPECT_EQ(strengthAt(*instance, 9, 30), gMode ? 0 : 255)
            << "4 beyond the edge, mode " << mode;
        // Two inside the edge: a core pixel, or falloff[2] of R = 3 in the G modes.
        EXPECT_EQ(strengthAt(*instance, 7, 30), gMode ? 63 : 255)
            << "inside the band, mode " << mode;
    }
}

TEST(DepthRadius, ProjectsTheSizeAtTheOutlineDepth) {
    struct Case {
        float depth;
        double k;
        double size;
        int32_t radius; // 0: stamps nothing
    };
    const Case cases[] = {
        {4.0f, 1.0, 1.0, 80},  {160.0f, 1.0, 1.0, 2},   {2.0f, 1.0, 1.0, 0},
        {200.0f, 1.0, 1.0, 0}, {8.0f, 1.0, 1.0, 40},    {3.19f, 1.0, 1.0, 100},
        {3.16f, 1.0, 1.0, 0},  {0.0f, 1.0, 1.0, 0},     {-4.0f, 1.0, 1.0, 0},
        {NAN, 1.0, 1.0, 0},    {INFINITY, 1.0, 1.0, 0}, {1.3e12f, 1.0, 1.0, 0},
        {4.0f, 0.0, 1.0, 0},   {4.0f, -1.0, 1.0, 0},    {4.0f, NAN, 1.0, 0},
        {4.0f, 1.0, 0.0, 0},   {4.0f, 1.0, -1.0, 0},    {1e-30f, 1.0, 1.0, 0},
    };
    for (const Case& c : cases) {
        int32_t r = 0;
        const bool stamps = depthRadius(640, c.size, c.depth, c.k, &r);
        EXPECT_EQ(stamps, c.radius != 0) << "depth " << c.depth << " k " << c.k;
        if (stamps) {
            EXPECT_EQ(r, c.radius) << "depth " << c.depth;
        }
    }
}

TEST(GlowDepth, LooksUpTheCameraOnEveryRun) {
    fakes::FakeCamera camera(1.0);
    fakes::FakeEnvelopes envelopes;
    Instance instance(createInstance());
    fakes::PlaneSource source(20, 20, 2.5);
    source.fill(4, 4, 8, 8, 1, 4.0f);
    GlowSetting s = indexRamp(1, ModeDepth, 1.0);
    s.sizeEnvelope = envelopes.make(0.0);
    for (int run = 0; run < 2; ++run) {
        camera.calls.clear();
        glowGDepth(instance.get(), &s, source);
        EXPECT_EQ(camera.calls,
                  (std::vector<std::string>{"lookup LW Item Info 2 0", "lookup LW Camera Info 0",
                                            "firstItem 2 0", "viewValues camera"}));
        EXPECT_EQ(camera.time, 2.5);
        ASSERT_EQ(envelopes.evaluations.size(), 1u);
        EXPECT_EQ(envelopes.evaluations[0].time, 2.5) << "size at the source's start";
        envelopes.evaluations.clear();
    }
    releaseEnvelopes(&s);
}

TEST(GlowDepth, SizeZeroGivesCoreOnlyWhileFixedRaisesEnvelopeRadiusToOne) {
    fakes::FakeCamera camera(1.0);
    fakes::FakeEnvelopes envelopes;
    Instance instance(createInstance());
    fakes::PlaneSource source(20, 20);
    source.fill(4, 4, 8, 8, 1, 4.0f);
    GlowSetting s = indexRamp(1, ModeDepth, 1.0);
    s.sizeEnvelope = envelopes.make(0.0);
    glowDepth(instance.get(), &s, source);
    EXPECT_EQ(strengthAt(*instance, 8, 8), 255);
    EXPECT_EQ(strengthAt(*instance, 8, 4), 0) << "outline pixel does not stamp";
    glowFixed(instance.get(), &s, source);
    EXPECT_EQ(strengthAt(*instance, 8, 4), 255) << "R = 1 stamps the outline itself";
    EXPECT_EQ(strengthAt(*instance, 8, 3), 0) << "falloff[1] = 0";
    releaseEnvelopes(&s);
}

TEST(GlowDepth, WithoutCameraServicesOnlyTheCoreGlows) {
    enum Missing { Items, Camera, CameraItem, Lookup };
    for (Missing missing : {Items, Camera, CameraItem, Lookup}) {
        fakes::FakeCamera camera(1.0);
        camera.offerItems = missing != Items;
        camera.offerCamera = missing != Camera;
        camera.haveCameraItem = missing != CameraItem;
        if (missing == Lookup)
            globalLookup = nullptr;
        Instance instance(createInstance());
        fakes::PlaneSource source(20, 20);
        source.fill(4, 4, 8, 8, 1, 4.0f);
        GlowSetting s = indexRamp(1, ModeDepth, 1.0);
        ASSERT_EQ(glowDepth(instance.get(), &s, source), 1);
        EXPECT_EQ(strengthAt(*instance, 8, 8), 255) << "case " << missing;
        EXPECT_EQ(strengthAt(*instance, 8, 4), 0) << "case " << missing;
        EXPECT_EQ(source.depthRequests, 0);
    }
}

TEST(GlowDepth, MatchesTheLiteralRulesWithPerPixelRadii) {
    fakes::FakeCamera camera(0.7);
    std::mt19937 rng(99);
    Instance instance(createInstance());
    for (int round = 0; round < 30; ++round) {
        fakes::PlaneSource source = randomSource(
            rng, {30, 100}, {20, 60}, 5, 20, [] { return uint8_t{3}; },
            [&] { return 0.2f + static_cast<float>(rng() % 1000) * 0.01f; });
        const int32_t W = source.width, H = source.height;
        const int32_t mode = round % 2 ? ModeGDepth : ModeDepth;
        GlowSetting s = indexRamp(3, mode, 0.05 + 0.01 * (rng() % 20));
        kernelForMode(mode)(instance.get(), &s, source);
        expectSameLayer(*instance,
                        reference::glow(source.special, source.depth, W, H, s, 0, s.distance, 0.7));
        if (HasFatalFailure())
            return;
    }
}

TEST(StampPatternCache, BuildsEachRadiusOnce) {
    StampPatternCache cache(300, 200, true);
    const StampPattern* a = cache.forRadius(40);
    EXPECT_EQ(cache.forRadius(40), a);
    EXPECT_NE(cache.forRadius(41), a);
    const StampPattern* big = cache.forRadius(5000);
    EXPECT_EQ(cache.forRadius(5000), big);
    EXPECT_EQ(big->falloff.size(), 200u * (2u * 299u + 1u));
}
