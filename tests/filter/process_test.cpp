#include "fakes/fake_envelopes.h"
#include "fakes/fake_frame.h"
#include "filter/process.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvit;

namespace {

struct InstanceDeleter {
    void operator()(FilterInstance* i) const { destroyInstance(i); }
};
using Instance = std::unique_ptr<FilterInstance, InstanceDeleter>;

// A frame with a 6 x 6 square of value 5 whose core glows white at full
// strength (static distance 0: core only, no stamps).
fakes::FakeFrame squareFrame(uint8_t background) {
    fakes::FakeFrame frame(12, 12);
    for (size_t i = 0; i < frame.red.size(); ++i) {
        frame.red[i] = background;
        frame.green[i] = static_cast<uint8_t>(background / 2);
        frame.blue[i] = 3;
        frame.alpha[i] = static_cast<uint8_t>(i);
    }
    frame.fillRect(frame.special, 3, 3, 6, 6, 5);
    return frame;
}

GlowSetting* coreOnlySetting(FilterInstance* instance, double transparency) {
    GlowSetting* s = appendSetting(instance, 5);
    s->enabled = 1;
    s->distance = 0.0;
    s->transparency = transparency;
    return s;
}

} // namespace

TEST(Process, DisabledPassesThroughAndStillRefreshesTheSnapshot) {
    Instance instance(createInstance());
    coreOnlySetting(instance.get(), 0.0);
    auto frame = squareFrame(100);
    process(instance.get(), frame.access());
    EXPECT_EQ(frame.outRed, frame.red);
    EXPECT_EQ(frame.outGreen, frame.green);
    EXPECT_EQ(frame.outBlue, frame.blue);
    EXPECT_EQ(frame.outAlpha, frame.alpha);
    ASSERT_NE(instance->snapshot.red, nullptr);
    EXPECT_EQ(instance->snapshot.special[4 * 256 + 0], 5 * 0); // row 4 -> y 0: outside the square
    EXPECT_EQ(instance->snapshot.special[100 * 256 + 100], 5); // y 6, x 4
    EXPECT_EQ(instance->glowLayer.red, nullptr);
}

TEST(Process, TransparencyWeightsTheCoreGlow) {
    struct Case {
        double transparency;
        int added; // to a rendered 0 inside the core
    };
    const Case cases[] = {{0.0, 255}, {50.0, 127},  {100.0, 0},
                          {150.0, 0}, {-20.0, 255}, {std::nan(""), 255}};
    for (const Case& c : cases) {
        Instance instance(createInstance());
        instance->enabled = 1;
        coreOnlySetting(instance.get(), c.transparency);
        auto frame = squareFrame(0);
        process(instance.get(), frame.access());
        const size_t core = frame.at(5, 5), outside = frame.at(1, 1);
        EXPECT_EQ(frame.outRed[core], c.added) << "transparency " << c.transparency;
        EXPECT_EQ(frame.outBlue[core], std::min(255, 3 + c.added));
        EXPECT_EQ(frame.outRed[outside], 0);
        EXPECT_EQ(frame.outAlpha, frame.alpha) << "alpha passes through";
        EXPECT_EQ(instance->glowLayer.red, nullptr) << "layer released after the frame";
        EXPECT_EQ(instance->glowLayer.width, 0);
    }
}

TEST(Process, EnvelopeTransparencyIsReadAtTheFrameStart) {
    fakes::FakeEnvelopes envelopes;
    Instance instance(createInstance());
    instance->enabled = 1;
    GlowSetting* s = coreOnlySetting(instance.get(), 0.0);
    s->transparencyEnvelope = envelopes.make(50.0);
    auto frame = squareFrame(0);
    process(instance.get(), frame.access());
    EXPECT_EQ(frame.outRed[frame.at(5, 5)], 127);
}

TEST(Process, SettingsSaturateInTheAccumulatorAndTheComposite) {
    Instance instance(createInstance());
    instance->enabled = 1;
    for (int i = 0; i < 2; ++i) {
        GlowSetting* s = coreOnlySetting(instance.get(), 100.0 * (1.0 - 200.0 / 255.0));
        s->keyRed[0] = 255;
    }
    GlowSetting* off = coreOnlySetting(instance.get(), 0.0);
    off->enabled = 0;
    GlowSetting* badMode = coreOnlySetting(instance.get(), 0.0);
    badMode->mode = 7; // no kernel: contributes nothing
    auto frame = squareFrame(100);
    process(instance.get(), frame.access());
    EXPECT_EQ(frame.outRed[frame.at(5, 5)], 255);
    EXPECT_EQ(frame.outRed[frame.at(0, 0)], 100);

    // Enabled with no enabled setting: output equals input.
    Instance quiet(createInstance());
    quiet->enabled = 1;
    auto plain = squareFrame(40);
    process(quiet.get(), plain.access());
    EXPECT_EQ(plain.outRed, plain.red);
    EXPECT_EQ(plain.outGreen, plain.green);
}

TEST(Process, FetchesEachRowsLinesOnceInOrder) {
    Instance instance(createInstance());
    instance->enabled = 1;
    coreOnlySetting(instance.get(), 0.0);
    fakes::FakeFrame frame(4, 3);
    frame.recordRequests = true;
    process(instance.get(), frame.access());
    std::vector<std::string> expected;
    for (int r = 0; r < 192; ++r) {
        const std::string y = std::to_string(static_cast<int>((3 * (1.0 / 192)) * r));
        for (const char* t : {"b0 ", "b32 ", "b33 ", "b34 ", "f12 "})
            expected.push_back(t + y);
    }
    // Kernel scan of the only inner row: rows 0, 1, 2.
    for (const char* y : {"0", "1", "2"})
        expected.push_back(std::string("b0 ") + y);
    for (const char* y : {"0", "1", "2"})
        for (const char* t : {"b32 ", "b33 ", "b34 ", "b35 "})
            expected.push_back(t + std::string(y));
    EXPECT_EQ(frame.requests, expected);
}

TEST(TakeSnapshot, SamplesRowsAndColumnsAndTracksTheDepthRange) {
    Instance instance(createInstance());
    fakes::FakeFrame frame(256, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 256; ++x)
            frame.red[frame.at(x, y)] = static_cast<uint8_t>(y);
    std::fill(frame.depth.begin(), frame.depth.end(), kFarDepth);
    takeSnapshot(instance.get(), frame.access());
    const int rows[] = {0, 2, 5, 7, 10};
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(instance->snapshot.red[r * 256], rows[r]);
    EXPECT_EQ(instance->snapshot.red[191 * 256], 477 - 256);
    EXPECT_EQ(instance->snapshot.red[191 * 256 + 255],
              477 - 256); // every column of a 256-wide frame
    EXPECT_EQ(instance->maxDepth, 0.0f);
    EXPECT_EQ(static_cast<double>(instance->minDepth), 1300000014336.0);

    frame.depth[frame.at(255, 477)] = 5.0f;
    takeSnapshot(instance.get(), frame.access());
    EXPECT_EQ(instance->maxDepth, 5.0f);
    EXPECT_EQ(instance->minDepth, 5.0f);
}

TEST(Process, EmptyFrameSkipsTheSnapshot) {
    Instance instance(createInstance());
    instance->enabled = 1;
    coreOnlySetting(instance.get(), 0.0);
    fakes::FakeFrame frame(0, 10);
    frame.recordRequests = true;
    process(instance.get(), frame.access());
    for (const std::string& r : frame.requests)
        EXPECT_TRUE(r.rfind("b3", 0) == 0) << "only the composite reads lines, got " << r;
    EXPECT_EQ(instance->snapshot.red, nullptr);
}

TEST(Flags, RequestsSpecialAndDepth) {
    EXPECT_EQ(flags(), 0x1001u);
}

TEST(Process, WithoutEnvelopeServiceEnvelopesFallBackToStaticValues) {
    Instance instance(createInstance());
    instance->enabled = 1;
    GlowSetting* s = coreOnlySetting(instance.get(), 0.0);
    int stale = 0; // a handle whose service is gone must never be called
    s->transparencyEnvelope = &stale;
    s->sizeEnvelope = &stale;
    auto frame = squareFrame(0);
    process(instance.get(), frame.access());
    EXPECT_EQ(frame.outRed[frame.at(5, 5)], 255);
    EXPECT_EQ(frame.outRed[frame.at(2, 5)], 0) << "static distance 0: no outline glow";
    s->transparencyEnvelope = s->sizeEnvelope = nullptr;
}
