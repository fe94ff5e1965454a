#include "module/filter/frame_source.h"
#include "module/filter/kernel/glow_kernel.h"
#include "module/filter/process.h"
#include "tests/module/filter/reference_kernel.h"
#include "tests/support/fakes/fake_camera.h"
#include "tests/support/fakes/fake_envelopes.h"
#include "tests/support/fakes/fake_frame.h"
#include "tests/support/fakes/instance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace orvit;

namespace {

using fakes::Instance;

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
    s->transparencyEnvelope = envelopes.make({{0.0, 100.0}, {2.0, 0.0}}); // 25 at 1.5
    auto frame = squareFrame(0);
    frame.start = 1.5;
    process(instance.get(), frame.access());
    EXPECT_EQ(frame.outRed[frame.at(5, 5)], 191) << "trunc(255 x 0.75); time 0 would add nothing";
    ASSERT_EQ(envelopes.evaluations.size(), 1u);
    EXPECT_EQ(envelopes.evaluations[0].time, 1.5);
}

TEST(Process, PartialStrengthsAccumulateWithExactTruncation) {
    // A solid 3 x 3 block with R = 4 (width 12, distance 0.34): the centre and
    // edge-middles end at 255, the corners at 217, and outside the block the
    // stamps of the edge-middles fall to 127 at distance 2 and 37 at 3.
    Instance instance(createInstance());
    instance->enabled = 1;
    GlowSetting* white = appendSetting(instance.get(), 5);
    white->enabled = 1;
    white->distance = 0.34;
    white->transparency = 0.0;
    GlowSetting* orange = appendSetting(instance.get(), 5);
    orange->enabled = 1;
    orange->distance = 0.34;
    orange->transparency = 37.0;
    orange->keyGreen[0] = 100;
    orange->keyBlue[0] = 0;
    fakes::FakeFrame frame(12, 12);
    frame.fillRect(frame.special, 4, 4, 3, 3, 5);
    process(instance.get(), frame.access());
    struct Expected {
        int32_t x, y;
        int red, green, blue;
    };
    // White alone adds the strength, less one where the product truncates
    // (37 -> 36); orange at 37 % adds trunc(c x s x 0.63 / 255) on top.
    const Expected expected[] = {
        {5, 5, 255, 255, 255}, // 255 + 160 | 255 + 63 | 255
        {4, 4, 255, 255, 217}, // 217 + 136 | 217 + 53 | 217
        {5, 2, 207, 158, 127}, // 127 + 80  | 127 + 31 | 127
        {5, 1, 59, 45, 36},    // 36 + 23   | 36 + 9   | 36
        {5, 0, 0, 0, 0},       // distance 4: falloff 0
    };
    for (const Expected& e : expected) {
        const size_t i = frame.at(e.x, e.y);
        EXPECT_EQ(frame.outRed[i], e.red) << "x " << e.x << " y " << e.y;
        EXPECT_EQ(frame.outGreen[i], e.green) << "x " << e.x << " y " << e.y;
        EXPECT_EQ(frame.outBlue[i], e.blue) << "x " << e.x << " y " << e.y;
    }
}

TEST(Process, StrengthZeroAddsNothingWhateverTheColour) {
    // R = 0: an outline pixel stamps only itself, at strength 0 but with ramp
    // entry 255, a full colour.
    Instance instance(createInstance());
    instance->enabled = 1;
    GlowSetting* s = coreOnlySetting(instance.get(), 0.0);
    s->keyRed[0] = 250;
    auto frame = squareFrame(9);
    const size_t outline = frame.at(3, 5);
    HostFrameSource source(frame.access());
    glowFixed(instance.get(), s, source);
    ASSERT_EQ(instance->glowLayer.strength[outline], 0);
    ASSERT_EQ(instance->glowLayer.red[outline], 250);
    process(instance.get(), frame.access());
    EXPECT_EQ(frame.outRed[outline], 9);
    EXPECT_EQ(frame.outGreen[outline], 4);
    EXPECT_EQ(frame.outRed[frame.at(5, 5)], 255) << "the core still glows";
}

TEST(Process, MissingSpecialOrDepthBuffersReadAsNoValueAndFarDepth) {
    // A host may lack either buffer (null lines): every mode must run as if
    // the special buffer held 0 and the depth buffer the far value.
    fakes::FakeCamera camera(1.0);
    for (int32_t mode = ModeFixed; mode <= ModeGDepth; ++mode) {
        for (const bool lackSpecial : {false, true}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + (lackSpecial ? " no special" : ""));
            Instance lacking(createInstance()), explicitFrame(createInstance());
            for (FilterInstance* instance : {lacking.get(), explicitFrame.get()}) {
                instance->enabled = 1;
                GlowSetting* s = coreOnlySetting(instance, 0.0);
                s->mode = mode;
                s->distance = 0.2;
            }
            auto without = squareFrame(30);
            auto with = squareFrame(30);
            without.depth.clear();
            std::fill(with.depth.begin(), with.depth.end(), kHostFarDepth);
            if (lackSpecial) {
                without.special.clear();
                std::fill(with.special.begin(), with.special.end(), 0);
            }
            process(lacking.get(), without.access());
            process(explicitFrame.get(), with.access());
            EXPECT_EQ(without.outRed, with.outRed);
            EXPECT_EQ(without.outGreen, with.outGreen);
            EXPECT_EQ(without.outBlue, with.outBlue);
            EXPECT_EQ(without.outAlpha, with.alpha);
            EXPECT_EQ(
                std::memcmp(lacking->snapshot.special, explicitFrame->snapshot.special, 256 * 192),
                0);
            EXPECT_EQ(lacking->minDepth, kHostFarDepth);
            EXPECT_EQ(lacking->maxDepth, 0.0f);
        }
    }
}

TEST(FramePixels, RefusesFramesWhoseWorkingPlanesCannotBeAddressed) {
    EXPECT_EQ(framePixels(0, 10), 0u);
    EXPECT_EQ(framePixels(10, -1), 0u);
    EXPECT_EQ(framePixels(1920, 1080), 2073600u);
    // 2^32 pixels wrap a 32-bit size; 2^62 pixels overflow eight planes of any size.
    EXPECT_EQ(framePixels(65536, 65536),
              sizeof(size_t) == 4 ? 0u : static_cast<size_t>(65536ull * 65536ull));
    EXPECT_EQ(framePixels(INT32_MAX, INT32_MAX), 0u);

    // A kernel given such a frame makes no layer and reads no line.
    struct HugeSource final : FrameSource {
        HugeSource() { width = height = INT32_MAX; }
        const uint8_t* specialLine(int32_t) override {
            ADD_FAILURE() << "special line read";
            return nullptr;
        }
        const float* depthLine(int32_t) override {
            ADD_FAILURE() << "depth line read";
            return nullptr;
        }
    } huge;
    Instance instance(createInstance());
    GlowSetting* s = appendSetting(instance.get(), 5);
    for (int32_t mode = ModeFixed; mode <= ModeGDepth; ++mode) {
        EXPECT_EQ(kernelForMode(mode)(instance.get(), s, huge), 0) << "mode " << mode;
        EXPECT_EQ(instance->glowLayer.red, nullptr);
    }
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

TEST(Process, OverlappingGlowsAddAsTheLiteralWeightsSay) {
    // Two settings with graded ramps and odd transparencies over overlapping
    // shapes: every output byte as the weighted sum of the literal layers.
    Instance instance(createInstance());
    instance->enabled = 1;
    fakes::FakeFrame frame(40, 30);
    for (size_t i = 0; i < frame.red.size(); ++i) {
        frame.red[i] = static_cast<uint8_t>(i * 7);
        frame.green[i] = static_cast<uint8_t>(i * 3);
        frame.blue[i] = static_cast<uint8_t>(200 + i % 50);
    }
    frame.fillRect(frame.special, 5, 5, 12, 10, 5);
    frame.fillRect(frame.special, 14, 12, 15, 12, 6);
    const double transparencies[2] = {37.3, 12.9};
    const int32_t modes[2] = {ModeFixed, ModeGFixed};
    for (int i = 0; i < 2; ++i) {
        GlowSetting* s = appendSetting(instance.get(), 5 + i);
        s->enabled = 1;
        s->mode = modes[i];
        s->distance = (6 + 3 * i + 0.5) / 40;
        s->transparency = transparencies[i];
        s->keyEnabled[1] = 1;
        s->keyRed[1] = 20 * i;
        s->keyGreen[1] = 90;
        s->keyPosition[1] = 70;
    }
    std::vector<uint8_t> acc[3];
    for (auto& plane : acc)
        plane.assign(frame.red.size(), 0);
    for (int i = 0; i < 2; ++i) {
        const GlowSetting& s = *instance->settings[i];
        reference::accumulate(acc,
                              reference::glow(frame.special, frame.depth, 40, 30, s,
                                              static_cast<int32_t>(40 * s.distance), 0.0, 0.0),
                              s.transparency);
    }
    process(instance.get(), frame.access());
    const std::vector<uint8_t>* rendered[3] = {&frame.red, &frame.green, &frame.blue};
    const std::vector<uint8_t>* out[3] = {&frame.outRed, &frame.outGreen, &frame.outBlue};
    int glowing = 0;
    for (size_t p = 0; p < acc[0].size(); ++p) {
        glowing += acc[0][p] != 0 || acc[1][p] != 0;
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ((*out[c])[p], std::min(255, (*rendered[c])[p] + acc[c][p]))
                << "channel " << c << " at " << p % 40 << "," << p / 40;
    }
    EXPECT_GT(glowing, 300);
}

// The lines a frame of width x height is asked for while an instance with
// one core-only setting processes it.
std::vector<std::string> linesAskedFor(FilterInstance* instance, int32_t width, int32_t height) {
    instance->enabled = 1;
    coreOnlySetting(instance, 0.0);
    fakes::FakeFrame frame(width, height);
    frame.recordRequests = true;
    process(instance, frame.access());
    return frame.requests;
}

// The planes an enabled frame worked in are kept for the next frame of the
// same size; a frame of another size replaces them, a disabled frame
// releases them.
TEST(Process, KeepsItsWorkingPlanesForTheNextFrameOfTheSameSize) {
    Instance instance(createInstance());
    instance->enabled = 1;
    coreOnlySetting(instance.get(), 0.0);
    fakes::FakeFrame frame(4, 3);
    process(instance.get(), frame.access());
    const FilterInstance& planes = *instance;
    uint8_t* const kept = planes.spare.layer[3];
    ASSERT_NE(kept, nullptr);
    process(instance.get(), frame.access());
    EXPECT_EQ(planes.spare.layer[3], kept) << "taken for the frame and set aside again";
    EXPECT_EQ(planes.glowLayer.strength, nullptr) << "the layer is empty between frames";

    fakes::FakeFrame wider(5, 3);
    process(instance.get(), wider.access());
    EXPECT_EQ(planes.spare.width, 5);
    ASSERT_NE(planes.spare.layer[3], nullptr);

    instance->enabled = 0;
    process(instance.get(), wider.access());
    for (uint8_t* plane : planes.spare.layer)
        EXPECT_EQ(plane, nullptr);
    EXPECT_EQ(planes.spare.width, 0);
}

TEST(Process, FetchesEachRowsLinesOnceInOrder) {
    Instance instance(createInstance());
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
    EXPECT_EQ(linesAskedFor(instance.get(), 4, 3), expected);
}

TEST(TakeSnapshot, SamplesRowsAndColumnsAndTracksTheDepthRange) {
    Instance instance(createInstance());
    fakes::FakeFrame frame(256, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 256; ++x)
            frame.red[frame.at(x, y)] = static_cast<uint8_t>(y);
    std::fill(frame.depth.begin(), frame.depth.end(), kHostFarDepth);
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
    for (const std::string& r : linesAskedFor(instance.get(), 0, 10))
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
