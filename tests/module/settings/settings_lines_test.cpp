#include "module/settings/settings_lines.h"

#include "module/services/services.h"
#include "module/settings/settings.h"
#include "tests/support/fakes/fake_envelopes.h"
#include "tests/support/fakes/fake_lines.h"
#include "tests/support/fakes/instance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace orvit;
using Lines = std::vector<std::string>;

namespace {

using fakes::Instance;

const Lines kDefaultKeys = {"1 255 255 255 0", "0 255 255 255 20", "0 255 255 255 40",
                            "0 255 255 255 60", "0 255 255 255 80"};

Lines concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Lines save(const FilterInstance* instance) {
    fakes::FakeLineWriter writer;
    EXPECT_EQ(saveSettings(instance, writer.state()), 0);
    return writer.lines;
}

// Loads `lines` and returns how often readLine was called.
int load(FilterInstance* instance, const Lines& lines) {
    fakes::FakeLineReader reader(lines);
    EXPECT_EQ(loadSettings(instance, reader.state()), 0);
    if (reader.calls > 0) {
        EXPECT_EQ(reader.lastMaximum, 255);
    }
    return reader.calls;
}

void expectDefaultKeys(const GlowSetting& s, int from) {
    for (int i = from; i < kColorKeyCount; ++i) {
        EXPECT_EQ(s.keyEnabled[i], i == 0 ? 1 : 0) << "key " << i;
        EXPECT_EQ(s.keyRed[i], 255) << "key " << i;
        EXPECT_EQ(s.keyGreen[i], 255) << "key " << i;
        EXPECT_EQ(s.keyBlue[i], 255) << "key " << i;
        EXPECT_EQ(s.keyPosition[i], 20 * i) << "key " << i;
    }
}

// A setting's line as loaded: value, enabled, mode, distance, transparency;
// without envelopes.
struct SettingLine {
    int32_t value;
    int32_t enabled;
    int32_t mode;
    double distance;
    double transparency;
};

void expectSettingLine(const GlowSetting& s, const SettingLine& line) {
    EXPECT_EQ(s.value, line.value);
    EXPECT_EQ(s.enabled, line.enabled);
    EXPECT_EQ(s.mode, line.mode);
    EXPECT_EQ(s.distance, line.distance);
    EXPECT_EQ(s.transparency, line.transparency);
    EXPECT_EQ(s.sizeEnvelope, nullptr);
    EXPECT_EQ(s.transparencyEnvelope, nullptr);
}

class SettingsLines : public ::testing::Test {
  protected:
    void SetUp() override { envelopeService = nullptr; }
    void TearDown() override { envelopeService = nullptr; }
};

} // namespace

TEST_F(SettingsLines, NineLineExampleSavesByteForByteAndLoadsBack) {
    const Lines example =
        concat({{"v 04", "1 1", "3 1 0 0.050000 50.000000", "0 0"}, kDefaultKeys});
    Instance instance(createInstance());
    instance->enabled = 1;
    appendSetting(instance.get(), 3)->enabled = 1;
    EXPECT_EQ(save(instance.get()), example);

    Instance loaded(createInstance());
    EXPECT_EQ(load(loaded.get(), example), 9); // nothing asked past the last entry
    EXPECT_EQ(loaded->enabled, 1);
    ASSERT_EQ(loaded->settingCount, 1);
    const GlowSetting& s = *loaded->settings[0];
    expectSettingLine(s, {3, 1, ModeFixed, 0.05, 50.0});
    EXPECT_EQ(s.owner, loaded.get());
    expectDefaultKeys(s, 0);
}

TEST_F(SettingsLines, NewInstanceSavesVersionAndEmptyHeaderOnly) {
    Instance instance(createInstance());
    EXPECT_EQ(save(instance.get()), (Lines{"v 04", "0 0"}));

    Instance loaded(createInstance());
    loaded->enabled = 1;
    appendSetting(loaded.get(), 9);
    load(loaded.get(), {"v 04", "0 0"});
    EXPECT_EQ(loaded->enabled, 0);
    EXPECT_EQ(loaded->settingCount, 0);
    EXPECT_EQ(loaded->settings, nullptr);
}

TEST_F(SettingsLines, VersionLineDecidesWhetherEntriesAreRead) {
    const Lines body = concat({{"1 1", "5 1 1 0.200000 30.000000", "0 0"}, kDefaultKeys});
    struct Case {
        Lines lines;
        int32_t enabled;
        int32_t count;
    } cases[] = {
        {concat({{"v 04"}, body}), 1, 1},
        {concat({{"v 4"}, body}), 1, 1},
        {concat({{"v04"}, body}), 1, 1},
        {concat({{"v +4 trailing"}, body}), 1, 1},
        {concat({{"v 5"}, body}), 7, 0},
        {concat({{"v 0"}, body}), 7, 0},
        {concat({{"v"}, body}), 7, 0},
        {concat({{"v four"}, body}), 7, 0},
        {concat({{"v 4294967300"}, body}), 7, 0}, // would wrap to 4
        {{"v 04"}, 7, 0},
        {{}, 7, 0},
    };
    fakes::FakeEnvelopes envelopes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.empty() ? "(no lines)" : c.lines[0]);
        Instance instance(createInstance());
        instance->enabled = 7;
        GlowSetting* old = appendSetting(instance.get(), 2);
        old->sizeEnvelope = envelopes.make(1.0);
        old->transparencyEnvelope = envelopes.make(2.0);
        load(instance.get(), c.lines);
        EXPECT_EQ(instance->enabled, c.enabled);
        ASSERT_EQ(instance->settingCount, c.count);
        if (c.count == 1) {
            EXPECT_EQ(instance->settings[0]->value, 5);
        }
        EXPECT_EQ(envelopes.live(), 0) << "the replaced entry's envelopes are released";
    }
}

TEST_F(SettingsLines, UnversionedFormHasNoFlagOrEnvelopeLines) {
    fakes::FakeEnvelopes envelopes;
    Instance instance(createInstance());
    const Lines lines = concat({{"1 1", "3 1 2 0.100000 25.000000"}, kDefaultKeys});
    EXPECT_EQ(load(instance.get(), lines), 7);
    EXPECT_EQ(instance->enabled, 1);
    ASSERT_EQ(instance->settingCount, 1);
    const GlowSetting& s = *instance->settings[0];
    expectSettingLine(s, {3, 1, ModeGFixed, 0.1, 25.0});
    expectDefaultKeys(s, 0);
    EXPECT_TRUE(envelopes.calls.empty());

    // Two entries in a row, keys as read.
    load(instance.get(), {"0 2", "4 0 1 1.5 10", "1 1 2 3 4", "0 5 6 7 8", "1 9 10 11 12",
                          "0 13 14 15 16", "1 17 18 19 20", "6 1 3 2 20", "", "", "", "", ""});
    EXPECT_EQ(instance->enabled, 0);
    ASSERT_EQ(instance->settingCount, 2);
    EXPECT_EQ(instance->settings[0]->keyPosition[4], 20);
    EXPECT_EQ(instance->settings[0]->keyRed[2], 9);
    EXPECT_EQ(instance->settings[1]->mode, ModeGDepth);
    expectDefaultKeys(*instance->settings[1], 0);
}

TEST_F(SettingsLines, EnvelopeLinesSitBetweenFlagLineAndKeys) {
    fakes::FakeEnvelopes envelopes;
    Instance instance(createInstance());
    GlowSetting* sized = appendSetting(instance.get(), 4);
    sized->sizeEnvelope = envelopes.make(0.25);
    GlowSetting* both = appendSetting(instance.get(), 8);
    both->sizeEnvelope = envelopes.make(0.5);
    both->transparencyEnvelope = envelopes.make(75.0);
    const Lines expected = concat({{"v 04", "0 2", "4 0 0 0.050000 50.000000", "1 0", "env 0.25"},
                                   kDefaultKeys,
                                   {"8 0 0 0.050000 50.000000", "1 1", "env 0.5", "env 75"},
                                   kDefaultKeys});
    EXPECT_EQ(save(instance.get()), expected);

    envelopes.calls.clear();
    Instance loaded(createInstance());
    load(loaded.get(), expected);
    EXPECT_EQ(envelopes.calls,
              (std::vector<std::string>{"create", "load", "create", "load", "create", "load"}));
    ASSERT_EQ(loaded->settingCount, 2);
    const GlowSetting& a = *loaded->settings[0];
    ASSERT_NE(a.sizeEnvelope, nullptr);
    EXPECT_EQ(fakes::FakeEnvelopes::valueOf(a.sizeEnvelope), 0.25);
    EXPECT_EQ(a.transparencyEnvelope, nullptr);
    expectDefaultKeys(a, 0);
    const GlowSetting& b = *loaded->settings[1];
    ASSERT_NE(b.sizeEnvelope, nullptr);
    ASSERT_NE(b.transparencyEnvelope, nullptr);
    EXPECT_EQ(fakes::FakeEnvelopes::valueOf(b.sizeEnvelope), 0.5);
    EXPECT_EQ(fakes::FakeEnvelopes::valueOf(b.transparencyEnvelope), 75.0);
    EXPECT_EQ(save(loaded.get()), expected);
}

TEST_F(SettingsLines, FieldsParseLikeTheScannerWithoutOverflow) {
    const double inf = std::numeric_limits<double>::infinity();
    const int32_t max = std::numeric_limits<int32_t>::max();
    const int32_t min = std::numeric_limits<int32_t>::min();
    struct Case {
        const char* line;
        int32_t value, enabled, mode;
        double distance, transparency;
    } cases[] = {
        {"3 1 2 0.100000 25.000000", 3, 1, 2, 0.1, 25.0},
        {" \t3\t1  2 .5 +7", 3, 1, 2, 0.5, 7.0},
        {"+4 -0 +3 +.5 -.25", 4, 0, 3, 0.5, -0.25},
        {"2147483647 -2147483648 0 1e308 -1e308", max, min, 0, 1e308, -1e308},
        {"2147483648 -2147483649 99999999999999999999 1e999 -1e999", max, min, max, inf, -inf},
        {"1 1 1 0.001e312 123e306", 1, 1, 1, inf, 1.23e308},
        {"1 1 1 1e-999 0.00001e-320", 1, 1, 1, 0.0, 0.0},
        {"1 1 1 INF 1e", 1, 1, 1, inf, 1.0},
        {"3 x 2 0.1 20", 3, 0, 0, 0.05, 50.0},
        {"7 1 2abc", 7, 1, 2, 0.05, 50.0},
        {"7 1 2 1,5 9", 7, 1, 2, 1.0, 50.0},
        {"5 - 3", 5, 0, 0, 0.05, 50.0},
        {"5 --3", 5, 0, 0, 0.05, 50.0},
        {"5 1 1 --3 4", 5, 1, 1, 0.05, 50.0},
        {"5 1 1 +-3 4", 5, 1, 1, 0.05, 50.0},
        {"5 1 1 . 4", 5, 1, 1, 0.05, 50.0},
        {"0x10 1", 0, 0, 0, 0.05, 50.0},
        {"", 0, 0, 0, 0.05, 50.0},
        {"hello", 0, 0, 0, 0.05, 50.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Instance instance(createInstance());
        load(instance.get(), concat({{"v 04", "1 1", c.line, "0 0"}, kDefaultKeys}));
        ASSERT_EQ(instance->settingCount, 1);
        const GlowSetting& s = *instance->settings[0];
        expectSettingLine(s, {c.value, c.enabled, c.mode, c.distance, c.transparency});
        expectDefaultKeys(s, 0);
    }

    // Signs of zero and NaN survive.
    Instance instance(createInstance());
    load(instance.get(), concat({{"v 04", "1 1", "1 1 1 -1e-400 -nan", "0 0"}, kDefaultKeys}));
    ASSERT_EQ(instance->settingCount, 1);
    EXPECT_EQ(instance->settings[0]->distance, 0.0);
    EXPECT_TRUE(std::signbit(instance->settings[0]->distance));
    EXPECT_TRUE(std::isnan(instance->settings[0]->transparency));
    EXPECT_EQ(save(instance.get())[2], "1 1 1 -0.000000 -nan");
}

TEST_F(SettingsLines, HeaderFlagAndKeyLinesKeepWhatTheyDoNotSupply) {
    fakes::FakeEnvelopes envelopes;
    struct Case {
        Lines lines;
        int32_t enabled, count;
        bool size, transparency;
    } cases[] = {
        {{"v 04", "1 0"}, 1, 0, false, false},
        {{"v 04", "1 -3", "3 1 0 1 1"}, 1, 0, false, false},
        {{"v 04", "x 1", "3 1 0 1 1"}, 7, 0, false, false},
        {{"v 04", "1"}, 1, 0, false, false},
        {{"0 -2147483648"}, 0, 0, false, false},
        {{"oops"}, 7, 0, false, false},
        {concat({{"v 04", "1 1", "3", "x"}, kDefaultKeys}), 1, 1, false, false},
        {concat({{"v 04", "1 1", "3", "2 -1", "env 1", "env 2"}, kDefaultKeys}), 1, 1, true, true},
        {concat({{"v 04", "1 1", "3", "0 1", "env 2"}, kDefaultKeys}), 1, 1, false, true},
        {concat({{"v 04", "1 1", "3", "0 x"}, kDefaultKeys}), 1, 1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.lines));
        Instance instance(createInstance());
        instance->enabled = 7;
        load(instance.get(), c.lines);
        EXPECT_EQ(instance->enabled, c.enabled);
        ASSERT_EQ(instance->settingCount, c.count);
        if (c.count == 1) {
            const GlowSetting& s = *instance->settings[0];
            EXPECT_EQ(s.sizeEnvelope != nullptr, c.size);
            EXPECT_EQ(s.transparencyEnvelope != nullptr, c.transparency);
            if (s.transparencyEnvelope != nullptr) {
                EXPECT_EQ(fakes::FakeEnvelopes::valueOf(s.transparencyEnvelope), 2.0);
            }
            expectDefaultKeys(s, 0);
        }
    }

    // Key lines: a short line keeps the rest of that key.
    Instance instance(createInstance());
    load(instance.get(), {"v 04", "1 1", "3", "0 0", "0 1 2 3 4", "1 9", "x", "1 1 1 1 1 7",
                          "2147483648 -1 -2 -3 -4"});
    ASSERT_EQ(instance->settingCount, 1);
    const GlowSetting& s = *instance->settings[0];
    const std::vector<std::vector<int32_t>> expected = {{0, 1, 2, 3, 4},
                                                        {1, 9, 255, 255, 20},
                                                        {0, 255, 255, 255, 40},
                                                        {1, 1, 1, 1, 1},
                                                        {2147483647, -1, -2, -3, -4}};
    for (int i = 0; i < kColorKeyCount; ++i)
        EXPECT_EQ((std::vector<int32_t>{s.keyEnabled[i], s.keyRed[i], s.keyGreen[i], s.keyBlue[i],
                                        s.keyPosition[i]}),
                  expected[static_cast<size_t>(i)])
            << "key " << i;
}

TEST_F(SettingsLines, HugeCountsMakeEntriesOnlyForLinesThatExist) {
    const Lines entry = concat({{"7 1 2 0.300000 40.000000", "0 0"}, kDefaultKeys});
    struct Case {
        Lines lines;
        int32_t count;
    } cases[] = {
        {concat({{"v 04", "1 2000000000"}, entry}), 1},
        {concat({{"v 04", "1 2147483647"}, entry, entry}), 2},
        {concat({{"v 04", "1 99999999999999"}, entry}), 1},
        {{"1 2000000000"}, 0},
        {{"v 04", "1 2000000000"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines[1 % c.lines.size()]);
        Instance instance(createInstance());
        const int calls = load(instance.get(), c.lines);
        EXPECT_EQ(calls, static_cast<int>(c.lines.size()) + 1)
            << "no line is asked for past the end";
        ASSERT_EQ(instance->settingCount, c.count);
        for (int32_t i = 0; i < c.count; ++i)
            EXPECT_EQ(instance->settings[i]->mode, ModeGFixed);
    }
}

TEST_F(SettingsLines, CutShortEntryKeepsWhatItReadAndDefaultsForTheRest) {
    Instance instance(createInstance());
    load(instance.get(), {"v 04", "1 3", "7 1 2 0.300000 40.000000", "0 0", "0 10 20 30 5"});
    ASSERT_EQ(instance->settingCount, 1);
    const GlowSetting& s = *instance->settings[0];
    EXPECT_EQ(s.value, 7);
    EXPECT_EQ(s.mode, ModeGFixed);
    EXPECT_EQ(s.transparency, 40.0);
    EXPECT_EQ(s.keyEnabled[0], 0);
    EXPECT_EQ(s.keyPosition[0], 5);
    expectDefaultKeys(s, 1);

    // Ended right after a size flag: the envelope is made and reads nothing.
    fakes::FakeEnvelopes envelopes;
    load(instance.get(), {"v 04", "1 1", "7 1 2 0.300000 40.000000", "1 0"});
    ASSERT_EQ(instance->settingCount, 1);
    EXPECT_NE(instance->settings[0]->sizeEnvelope, nullptr);
    EXPECT_EQ(instance->settings[0]->transparencyEnvelope, nullptr);
    expectDefaultKeys(*instance->settings[0], 0);
    EXPECT_EQ(envelopes.live(), 1);
    instance.reset();
    EXPECT_EQ(envelopes.live(), 0);
}

TEST_F(SettingsLines, EnvelopeFlagsWithoutAServiceStopTheLoadSafely) {
    const Lines lines = concat({{"v 04", "1 2", "3 1 1 0.200000 60.000000", "1 0", "env 0.5"},
                                {"1 1 2 3 0", "0 4 5 6 20", "0 7 8 9 40", "0 1 1 1 60"},
                                {"0 1 1 1 80", "9 1 0 0.100000 10.000000", "0 0"},
                                kDefaultKeys});
    auto expectFirstEntryOnly = [](const FilterInstance& instance) {
        EXPECT_EQ(instance.enabled, 1);
        ASSERT_EQ(instance.settingCount, 1);
        const GlowSetting& s = *instance.settings[0];
        EXPECT_EQ(s.value, 3);
        EXPECT_EQ(s.transparency, 60.0);
        EXPECT_EQ(s.sizeEnvelope, nullptr);
        expectDefaultKeys(s, 0); // "env 0.5" is not taken for a key
    };
    {
        Instance instance(createInstance());
        const int calls = load(instance.get(), lines);
        EXPECT_EQ(calls, 4);
        expectFirstEntryOnly(*instance);
    }
    {
        // A service that makes no envelope.
        fakes::FakeEnvelopes envelopes;
        Instance instance(createInstance());
        envelopes.service.createEnvelope = [](int32_t*) -> EnvelopeHandle { return nullptr; };
        load(instance.get(), lines);
        expectFirstEntryOnly(*instance);
    }

    // Saving a handle the service can no longer save flags no envelope, so
    // the lines still read back.
    fakes::FakeEnvelopes envelopes;
    Instance instance(createInstance());
    GlowSetting* entry = appendSetting(instance.get(), 3);
    entry->sizeEnvelope = envelopes.make(0.5);
    envelopeService = nullptr;
    const Lines saved = save(instance.get());
    envelopeService = &envelopes.service;
    EXPECT_EQ(saved, concat({{"v 04", "0 1", "3 0 0 0.050000 50.000000", "0 0"}, kDefaultKeys}));
}

TEST_F(SettingsLines, LoadReplacesTheListAndReleasesDroppedEnvelopes) {
    fakes::FakeEnvelopes envelopes;
    Instance instance(createInstance());
    for (int32_t v = 1; v <= 3; ++v) {
        GlowSetting* s = appendSetting(instance.get(), v);
        s->sizeEnvelope = envelopes.make(v);
        s->transparencyEnvelope = envelopes.make(-v);
    }
    load(instance.get(), concat({{"v 04", "0 1", "3 0 0 0 0", "0 1", "env 9"}, kDefaultKeys}));
    ASSERT_EQ(instance->settingCount, 1);
    EXPECT_EQ(instance->settings[0]->value, 3);
    EXPECT_EQ(instance->settings[0]->sizeEnvelope, nullptr);
    EXPECT_EQ(envelopes.live(), 1) << "six released, one loaded";

    // A long line is cut by the reader at 255 characters and still parses.
    load(instance.get(),
         concat({{"v 04", "0 1", "12 1 3 " + std::string(300, '7'), "0 0"}, kDefaultKeys}));
    EXPECT_EQ(envelopes.live(), 0);
    ASSERT_EQ(instance->settingCount, 1);
    EXPECT_EQ(instance->settings[0]->value, 12);
    EXPECT_EQ(instance->settings[0]->distance, std::stod(std::string(248, '7')));
}

// Random settings, with and without envelopes: save, load, save again gives
// the same lines, and every integer and envelope comes back as it was.
TEST_F(SettingsLines, SaveLoadSaveRoundTripsRandomSettings) {
    fakes::FakeEnvelopes envelopes;
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int32_t> anyInt(std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max());
    std::uniform_int_distribution<int32_t> small(-3, 300);
    std::uniform_int_distribution<int> pick(0, 9);
    const double specials[] = {0.0,
                               -0.0,
                               0.05,
                               1e-7,
                               -2.5e-7,
                               1e90,
                               -1e90,
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()};
    auto anyReal = [&]() {
        if (pick(random) < 3)
            return specials[pick(random)];
        return std::uniform_real_distribution<double>(-1e6, 1e6)(random);
    };
    auto anyInt32 = [&]() { return pick(random) < 5 ? small(random) : anyInt(random); };

    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        Instance original(createInstance());
        original->enabled = anyInt32();
        const int count = pick(random) % 6;
        for (int i = 0; i < count; ++i) {
            GlowSetting* s = appendSetting(original.get(), anyInt32());
            s->enabled = anyInt32();
            s->mode = anyInt32();
            s->distance = anyReal();
            s->transparency = anyReal();
            for (int k = 0; k < kColorKeyCount; ++k) {
                s->keyEnabled[k] = anyInt32();
                s->keyRed[k] = anyInt32();
                s->keyGreen[k] = anyInt32();
                s->keyBlue[k] = anyInt32();
                s->keyPosition[k] = anyInt32();
            }
            if (round % 2 == 1 && pick(random) < 5)
                s->sizeEnvelope = envelopes.make(anyReal());
            if (round % 2 == 1 && pick(random) < 5)
                s->transparencyEnvelope = envelopes.make(anyReal());
        }
        const Lines first = save(original.get());
        Instance loaded(createInstance());
        load(loaded.get(), first);
        ASSERT_EQ(save(loaded.get()), first);

        EXPECT_EQ(loaded->enabled, original->enabled);
        ASSERT_EQ(loaded->settingCount, original->settingCount);
        for (int i = 0; i < count; ++i) {
            const GlowSetting& a = *original->settings[i];
            const GlowSetting& b = *loaded->settings[i];
            EXPECT_EQ(b.value, a.value);
            EXPECT_EQ(b.mode, a.mode);
            EXPECT_EQ(b.keyBlue[4], a.keyBlue[4]);
            if (std::isfinite(a.distance)) {
                EXPECT_NEAR(b.distance, a.distance, 5e-7 * std::max(1.0, std::fabs(a.distance)));
            }
            ASSERT_EQ(b.sizeEnvelope != nullptr, a.sizeEnvelope != nullptr);
            ASSERT_EQ(b.transparencyEnvelope != nullptr, a.transparencyEnvelope != nullptr);
            if (a.sizeEnvelope != nullptr &&
                !std::isnan(fakes::FakeEnvelopes::valueOf(a.sizeEnvelope))) {
                EXPECT_EQ(fakes::FakeEnvelopes::valueOf(b.sizeEnvelope),
                          fakes::FakeEnvelopes::valueOf(a.sizeEnvelope));
            }
        }
    }
    EXPECT_EQ(envelopes.live(), 0);
}
