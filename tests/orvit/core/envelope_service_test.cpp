#include "orvit/core/envelopes.h"
#include "orvit/core/saved_lines.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using orvit::core::Envelope;
using orvit::core::Key;
using orvit::core::LineReader;
using orvit::core::LineWriter;

const EnvelopeService& service() {
    return *orvit::core::envelopeService();
}

double evaluate(EnvelopeHandle e, double time) {
    double value = -12345.0;
    service().evaluate(e, time, &value);
    return value;
}

uint64_t bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

TEST(EnvelopeService, InterpolatesLinearlyBetweenKeysAndHoldsOutside) {
    struct Case {
        std::vector<Key> keys;
        double time;
        double expected;
    };
    const Case cases[] = {
        {{}, 3.0, 0.0},
        {{{2.0, 7.0}}, -1.0, 7.0},
        {{{2.0, 7.0}}, 9.0, 7.0},
        {{{0.0, 0.0}, {10.0, 100.0}}, -5.0, 0.0},
        {{{0.0, 0.0}, {10.0, 100.0}}, 0.0, 0.0},
        {{{0.0, 0.0}, {10.0, 100.0}}, 2.5, 25.0},
        {{{0.0, 0.0}, {10.0, 100.0}}, 10.0, 100.0},
        {{{0.0, 0.0}, {10.0, 100.0}}, 1e9, 100.0},
        // Keys given out of order are put in time order.
        {{{10.0, 100.0}, {0.0, 0.0}, {5.0, 10.0}}, 7.5, 55.0},
        // Two keys at one time: a step, the later key holds from then on.
        {{{0.0, 0.0}, {1.0, 4.0}, {1.0, 8.0}, {2.0, 8.0}}, 0.5, 2.0},
        {{{0.0, 0.0}, {1.0, 4.0}, {1.0, 8.0}, {2.0, 8.0}}, 1.0, 8.0},
        // A key at a non-finite time is dropped.
        {{{NAN, 50.0}, {0.0, 1.0}}, 3.0, 1.0},
    };
    for (const Case& c : cases) {
        EnvelopeHandle e = orvit::core::makeEnvelope(c.keys);
        EXPECT_EQ(evaluate(e, c.time), c.expected) << "at time " << c.time;
        service().destroyEnvelope(e);
    }
}

TEST(EnvelopeService, SavesKeysAsLinesThatLoadBackExactly) {
    const double awkward[] = {0.1,     1.0 / 3.0, -0.0, 1e-300, DBL_MAX, 4.9406564584124654e-324,
                              -2.5e17, INFINITY};
    std::vector<Key> keys;
    for (size_t i = 0; i < std::size(awkward); ++i)
        keys.push_back({static_cast<double>(i) / 7.0, awkward[i]});
    EnvelopeHandle original = orvit::core::makeEnvelope(keys);

    std::vector<std::string> saved;
    LineWriter writer(saved);
    service().saveEnvelope(original, writer.state());
    ASSERT_EQ(saved.size(), keys.size() + 1);
    EXPECT_EQ(saved[0], "keys 8");
    EXPECT_EQ(saved[2], "0.14285714285714285 0.33333333333333331");

    // The envelope's lines sit between other lines; load reads only its own.
    std::vector<std::string> scene = saved;
    scene.push_back("next line");
    LineReader reader(scene);
    int32_t word = 0;
    EnvelopeHandle loaded = service().createEnvelope(&word);
    service().loadEnvelope(loaded, reader.state());
    EXPECT_EQ(reader.linesRead(), keys.size() + 1);

    const auto& back = orvit::core::findEnvelope(loaded)->keys();
    ASSERT_EQ(back.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(bits(back[i].time), bits(keys[i].time)) << "key " << i;
        EXPECT_EQ(bits(back[i].value), bits(keys[i].value)) << "key " << i;
    }
    std::vector<std::string> savedAgain;
    LineWriter again(savedAgain);
    service().saveEnvelope(loaded, again.state());
    EXPECT_EQ(savedAgain, saved);
    service().destroyEnvelope(original);
    service().destroyEnvelope(loaded);
}

TEST(EnvelopeService, DamagedLinesNeverReadPastTheEnvelope) {
    struct Case {
        std::vector<std::string> lines;
        size_t linesRead;
        size_t keysLoaded;
    };
    const Case cases[] = {
        {{}, 0, 0},
        {{"keys 0", "after"}, 1, 0},
        {{"keys two", "1 2", "3 4"}, 1, 0},
        {{"keys -1", "1 2"}, 1, 0},
        {{"keys 99999999999", "1 2"}, 1, 0},
        {{"key 1", "1 2"}, 1, 0},
        // A damaged key line is skipped but counted.
        {{"keys 3", "1 2", "one two", "5 6", "after"}, 4, 2},
        {{"keys 2", "1 2 3", "5 6"}, 3, 1},
        // The data ends early: what was there is kept.
        {{"keys 5", "1 2"}, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.empty() ? std::string("no lines") : c.lines[0]);
        EnvelopeHandle e = orvit::core::makeEnvelope({{0.0, 9.0}});
        LineReader reader(c.lines);
        service().loadEnvelope(e, reader.state());
        EXPECT_EQ(reader.linesRead(), c.linesRead);
        EXPECT_EQ(orvit::core::findEnvelope(e)->keys().size(), c.keysLoaded);
        service().destroyEnvelope(e);
    }
}

TEST(EnvelopeService, CopiesAreIndependentAndForeignHandlesAreIgnored) {
    const size_t before = orvit::core::liveEnvelopes();
    EnvelopeHandle a = orvit::core::makeEnvelope({{0.0, 1.0}, {1.0, 3.0}});
    int32_t word = 0;
    EnvelopeHandle b = service().createEnvelope(&word);
    service().copyEnvelope(a, b);
    EXPECT_EQ(evaluate(b, 0.5), 2.0);
    orvit::core::findEnvelope(a)->setKeys({{0.0, 10.0}});
    EXPECT_EQ(evaluate(b, 0.5), 2.0);
    EXPECT_EQ(orvit::core::liveEnvelopes(), before + 2);

    // A handle the service did not make, or has released, changes nothing.
    int foreign = 0;
    service().copyEnvelope(&foreign, b);
    service().destroyEnvelope(&foreign);
    EXPECT_EQ(evaluate(&foreign, 0.0), -12345.0);
    service().destroyEnvelope(a);
    service().destroyEnvelope(a);
    EXPECT_EQ(evaluate(a, 0.0), -12345.0);
    service().destroyEnvelope(b);
    EXPECT_EQ(orvit::core::liveEnvelopes(), before);
}

} // namespace

// The service numbers its envelopes, notes where a load through the
// stand-in's line reader found each one's lines, and keeps its evaluations
// for a host to report, without knowing the format around them.
TEST(EnvelopeService, ReportsTheEvaluationsSinceAMark) {
    int32_t word = 0;
    EnvelopeHandle a = service().createEnvelope(&word);
    EnvelopeHandle b = service().createEnvelope(&word);
    const uint64_t ordinalA = orvit::core::findEnvelope(a)->ordinal();
    EXPECT_EQ(orvit::core::findEnvelope(b)->ordinal(), ordinalA + 1);

    LineReader reader(std::vector<std::string>{"header", "keys 2", "0 0", "1 10", "keys 0"});
    char buffer[256];
    reader.state()->readLine(reader.state()->data, buffer, 255);
    service().loadEnvelope(a, reader.state());
    service().loadEnvelope(b, reader.state());
    EXPECT_EQ(orvit::core::findEnvelope(a)->loadedAtLine(), 2u);
    EXPECT_EQ(orvit::core::findEnvelope(b)->loadedAtLine(), 5u);

    const uint64_t mark = orvit::core::evaluationMark();
    EXPECT_TRUE(orvit::core::evaluationsSince(mark).empty());
    double value = 0.0;
    service().evaluate(a, 0.25, &value);
    service().evaluate(b, 3.0, &value);
    service().evaluate(a, 0.5, nullptr); // writes nothing: not recorded
    const auto since = orvit::core::evaluationsSince(mark);
    ASSERT_EQ(since.size(), 2u);
    EXPECT_EQ(since[0].ordinal, ordinalA);
    EXPECT_EQ(since[0].loadedAtLine, 2u);
    EXPECT_EQ(since[0].time, 0.25);
    EXPECT_EQ(since[0].value, 2.5);
    EXPECT_EQ(since[1].ordinal, ordinalA + 1);
    EXPECT_EQ(since[1].time, 3.0);
    EXPECT_EQ(since[1].value, 0.0);
    EXPECT_EQ(orvit::core::evaluationsSince(orvit::core::evaluationMark()).size(), 0u);

    // Only the latest evaluations are kept; an old mark gives those.
    for (size_t i = 0; i < orvit::core::kKeptEvaluations + 10; ++i)
        service().evaluate(a, 0.0, &value);
    EXPECT_EQ(orvit::core::evaluationsSince(mark).size(), orvit::core::kKeptEvaluations);
    service().destroyEnvelope(a);
    service().destroyEnvelope(b);
}
