#include "orvit/core/saved_lines.h"

#include "module/settings/settings.h"
#include "module/settings/settings_lines.h"
#include "tests/support/fakes/fake_envelopes.h"
#include "tests/support/fakes/fake_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using orvit::core::joinLines;
using orvit::core::LineReader;
using orvit::core::LineWriter;
using orvit::core::splitLines;
using Lines = std::vector<std::string>;

namespace {

// Reads every line through the record as the module does, then one more.
Lines readAll(const LoadState* state, int32_t maxLength = 255) {
    Lines lines;
    char buffer[256];
    int32_t length;
    while ((length = state->readLine(state->data, buffer, maxLength)) >= 0) {
        EXPECT_EQ(static_cast<size_t>(length), std::string(buffer).size());
        lines.emplace_back(buffer);
    }
    EXPECT_EQ(state->readLine(state->data, buffer, maxLength), -1) << "the end stays the end";
    return lines;
}

} // namespace

TEST(SplitLines, TerminatorsAndEmptyLines) {
    struct Case {
        const char* text;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"\n", {""}},
        {"a\r\nb", {"a", "b"}},
        {"a\n\n b \n", {"a", "", " b "}},
        {"a\rb\n", {"a\rb"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
        EXPECT_EQ(splitLines(c.text), c.lines);
        EXPECT_EQ(splitLines(joinLines(c.lines)), c.lines);
    }
}

TEST(LineWriter, AppendsLinesToListOrText) {
    Lines lines;
    std::string text = "[settings]\n";
    LineWriter toList(lines);
    LineWriter toText(text);
    for (const LineWriter* writer : {&toList, &toText}) {
        const SaveState* state = writer->state();
        state->writeLine(state->data, "v 04xx", 4);
        state->writeLine(state->data, "", 0);
        state->writeLine(state->data, nullptr, 3);
        state->writeLine(state->data, "bad", -1);
        state->writeLine(state->data, "two\nlines", 9);
        EXPECT_EQ(writer->linesWritten(), 5u);
        EXPECT_EQ(writer->brokenLines(), 1u);
    }
    EXPECT_EQ(lines, (Lines{"v 04", "", "", "", "two\nlines"}));
    EXPECT_EQ(text, "[settings]\nv 04\n\n\n\ntwo\nlines\n");
}

TEST(LineReader, HandsOutLinesThenEndsAndCutsLongOnes) {
    LineReader fromText("v 04\r\n1 1\n\nlast");
    EXPECT_EQ(readAll(fromText.state()), (Lines{"v 04", "1 1", "", "last"}));
    EXPECT_EQ(fromText.linesRead(), 4u);
    EXPECT_EQ(fromText.linesLeft(), 0u);

    LineReader fromList(Lines{std::string(300, 'x'), "abc", "abcd"});
    EXPECT_EQ(readAll(fromList.state(), 3), (Lines{"xxx", "abc", "abc"}));
    EXPECT_EQ(fromList.cutLines(), 2u);
    EXPECT_EQ(fromList.firstCutLine(), 1u);
    EXPECT_EQ(fromList.firstCutRoom(), 3u);

    LineReader none(Lines{"a"});
    char buffer[1] = {'?'};
    EXPECT_EQ(none.state()->readLine(none.state()->data, buffer, -5), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(none.state()->readLine(none.state()->data, nullptr, 255), -1);
}

// The module's save and load through the stand-in's records and scene text.
TEST(LineReader, CarriesTheModuleSettingsThroughText) {
    fakes::FakeEnvelopes envelopes;
    orvit::FilterInstance* original = orvit::createInstance();
    original->enabled = 1;
    orvit::GlowSetting* entry = orvit::appendSetting(original, 3);
    entry->mode = orvit::ModeDepth;
    entry->transparencyEnvelope = envelopes.make(12.5);

    std::string text;
    LineWriter writer(text);
    orvit::saveSettings(original, writer.state());
    EXPECT_EQ(writer.brokenLines(), 0u);
    EXPECT_EQ(text.substr(0, 40), "v 04\n1 1\n3 0 1 0.050000 50.000000\n0 1\nen");

    orvit::FilterInstance* loaded = orvit::createInstance();
    LineReader reader(text);
    orvit::loadSettings(loaded, reader.state());
    EXPECT_EQ(reader.linesLeft(), 0u);
    std::string again;
    LineWriter rewriter(again);
    orvit::saveSettings(loaded, rewriter.state());
    EXPECT_EQ(again, text);
    orvit::destroyInstance(original);
    orvit::destroyInstance(loaded);
    EXPECT_EQ(envelopes.live(), 0);
}

// What a host needs to tell whether a load took its lines exactly.
TEST(LineReader, CountsReadsPastTheEndAndKnowsItsOwnState) {
    LineReader reader(Lines{"a", "b"});
    const LoadState* state = reader.state();
    EXPECT_EQ(LineReader::of(state), &reader);
    char buffer[256];
    EXPECT_EQ(state->readLine(state->data, buffer, 255), 1);
    EXPECT_EQ(reader.readsPastEnd(), 0u);
    EXPECT_EQ(state->readLine(state->data, buffer, 255), 1);
    EXPECT_EQ(reader.readsPastEnd(), 0u);
    EXPECT_EQ(state->readLine(state->data, buffer, 255), -1);
    EXPECT_EQ(state->readLine(state->data, buffer, 255), -1);
    EXPECT_EQ(reader.readsPastEnd(), 2u);
    EXPECT_EQ(reader.linesRead(), 2u);

    // A call without a buffer reads nothing and is no read past the end.
    LineReader other(Lines{});
    EXPECT_EQ(other.state()->readLine(other.state()->data, nullptr, 255), -1);
    EXPECT_EQ(other.readsPastEnd(), 0u);

    fakes::FakeLineReader fake({"a"});
    EXPECT_EQ(LineReader::of(fake.state()), nullptr);
    EXPECT_EQ(LineReader::of(nullptr), nullptr);
}
