// The kernels, with every fill, against the literal reference on random runs
// of every mode, and process() against the literal sum of those layers.
// ORVIT_DIFFERENTIAL_FRAMES sets the number of runs of each (default 400, a
// bounded run for the test command); ORVIT_DIFFERENTIAL_SEED the seed.
#include "glow_cases.h"

#include "module/filter/process.h"
#include "tests/support/fakes/fake_frame.h"
#include "tests/support/fakes/instance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

namespace {

struct Knobs {
    long frames = 400;
    unsigned long seed = 2024;
    Knobs() {
        if (const char* text = std::getenv("ORVIT_DIFFERENTIAL_FRAMES"))
            frames = std::atol(text);
        if (const char* text = std::getenv("ORVIT_DIFFERENTIAL_SEED"))
            seed = std::strtoul(text, nullptr, 10);
    }
};

} // namespace

TEST(GlowDifferential, EveryFillMatchesTheLiteralRulesOnRandomRuns) {
    const Knobs knobs;
    std::mt19937_64 rng(knobs.seed);
    auto next = [&](uint64_t n) { return n <= 1 ? 0 : rng() % n; };
    for (long frame = 0; frame < knobs.frames; ++frame) {
        const glowcases::Case c = glowcases::makeCase(next);
        const std::string failure = glowcases::compareCase(c);
        ASSERT_EQ(failure, "") << "frame " << frame << " of seed " << knobs.seed;
    }
}

TEST(GlowDifferential, ProcessAddsTheLiteralLayersFrameAfterFrame) {
    // One instance through a run of frames, often of the size before, some
    // disabled, with up to three settings and any transparency: what it keeps
    // from one frame to the next never shows.
    using namespace orvit;
    const Knobs knobs;
    std::mt19937_64 rng(knobs.seed + 1);
    auto next = [&](uint64_t n) { return n <= 1 ? 0 : rng() % n; };
    fakes::FakeEnvelopes envelopes; // outlives the instance, which releases its envelopes
    fakes::Instance instance(createInstance());
    glowcases::Case frameCase = glowcases::makeCase(next);
    for (long frame = 0; frame < knobs.frames; ++frame) {
        if (next(2) == 0)
            frameCase = glowcases::makeCase(next); // else the same size and shapes again
        const int32_t W = frameCase.width, H = frameCase.height;
        fakes::FakeCamera camera(frameCase.cameraK);
        fakes::FakeFrame host(W, H);
        host.special = frameCase.special;
        host.depth = frameCase.depth;
        for (auto* plane : {&host.red, &host.green, &host.blue, &host.alpha})
            for (uint8_t& v : *plane)
                v = static_cast<uint8_t>(next(4) == 0 ? 255 : next(256));

        instance->enabled = next(5) == 0 ? 0 : 1;
        releaseSettings(instance.get());
        const int32_t settingCount = 1 + static_cast<int32_t>(next(3));
        std::vector<glowcases::Case> settingCases;
        for (int32_t i = 0; i < settingCount; ++i) {
            settingCases.push_back(glowcases::makeCase(next));
            GlowSetting* s = appendSetting(instance.get(), 0);
            glowcases::fillSetting(s, settingCases.back(), envelopes);
            if (next(3) == 0) // a grey glow: the same sums in every channel
                for (int k = 0; k < kColorKeyCount; ++k)
                    s->keyGreen[k] = s->keyBlue[k] = s->keyRed[k];
            s->owner = instance.get();
            s->enabled = next(5) == 0 ? 0 : 1;
            s->transparency = static_cast<double>(next(1201)) * 0.1 - 10.0;
        }

        std::vector<uint8_t> acc[3];
        for (auto& plane : acc)
            plane.assign(static_cast<size_t>(W) * H, 0);
        for (int32_t i = 0; i < settingCount && instance->enabled != 0; ++i) {
            const GlowSetting& s = *instance->settings[i];
            if (s.enabled == 0)
                continue;
            int32_t R = -1;
            reference::accumulate(acc, glowcases::referenceLayer(frameCase, settingCases[i], s, &R),
                                  s.transparency);
        }
        process(instance.get(), host.access());
        const std::vector<uint8_t>* rendered[3] = {&host.red, &host.green, &host.blue};
        const std::vector<uint8_t>* out[3] = {&host.outRed, &host.outGreen, &host.outBlue};
        for (size_t p = 0; p < acc[0].size(); ++p) {
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ((*out[c])[p], std::min(255, (*rendered[c])[p] + acc[c][p]))
                    << "channel " << c << " at " << p % W << "," << p / W << " of frame " << frame
                    << " of seed " << knobs.seed << ": " << W << " x " << H << ", " << settingCount
                    << " settings, enabled " << instance->enabled;
            ASSERT_EQ(host.outAlpha[p], host.alpha[p]);
        }
    }
}
