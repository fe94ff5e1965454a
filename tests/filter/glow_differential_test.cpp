// The kernels, with every fill, against the literal reference on random runs
// of every mode. ORVIT_DIFFERENTIAL_FRAMES sets the number of runs (default
// 400, a bounded run for the test command); ORVIT_DIFFERENTIAL_SEED the seed.
#include "glow_cases.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

TEST(GlowDifferential, EveryFillMatchesTheLiteralRulesOnRandomRuns) {
    const char* framesText = std::getenv("ORVIT_DIFFERENTIAL_FRAMES");
    const char* seedText = std::getenv("ORVIT_DIFFERENTIAL_SEED");
    const long frames = framesText != nullptr ? std::atol(framesText) : 400;
    const unsigned long seed = seedText != nullptr ? std::strtoul(seedText, nullptr, 10) : 2024;
    std::mt19937_64 rng(seed);
    auto next = [&](uint64_t n) { return n <= 1 ? 0 : rng() % n; };
    for (long frame = 0; frame < frames; ++frame) {
        const glowcases::Case c = glowcases::makeCase(next);
        const std::string failure = glowcases::compareCase(c);
        ASSERT_EQ(failure, "") << "frame " << frame << " of seed " << seed;
    }
}
