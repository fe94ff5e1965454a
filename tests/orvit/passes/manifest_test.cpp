// A Cryptomatte manifest read strictly: every JSON escape, nothing else.
#include "orvit/passes/manifest.h"
#include "tests/support/cryptomatte_frames.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

using ::testing::HasSubstr;

using namespace orvit::passes;

namespace {

TEST(ParseManifest, ReadsNamesWithEveryEscapeAndRefusesAnythingElse) {
    const CryptomatteNames names = parseManifest(
        " {\"Cube\":\"a8fce865\", \"a\\\"b\\\\c\\/\\n\":\"00000001\",\n"
        "\"\\u0440\\u0430\\u0432\\u043d\\u0438\\u043d\\u0430\":\"9623511e\",\"\\ud83d\\ude00\":"
        "\"FF800000\"} ");
    const CryptomatteNames expected = {{"Cube", 0xa8fce865u},
                                       {"a\"b\\c/\n", 0x00800001u}, // exponent rule applied
                                       {testsupport::kPlain.name, testsupport::kPlain.id},
                                       {"\xf0\x9f\x98\x80", 0xff000000u}};
    EXPECT_EQ(names, expected);
    EXPECT_TRUE(parseManifest("{}").empty());

    const struct {
        const char* text;
        const char* why;
    } bad[] = {
        {"", "at byte 0, the text ends where '{' should be"},
        {"[]", "at byte 0, expected '{'"},
        {"{\"Cube\":\"a8fce865\"", "at byte 18, the text ends where '}' should be"},
        {"{\"Cube\":\"a8fce8", "the text ends inside a string"},
        {"{\"Cube\":\"a8fce86\"}", "at byte 8, the id 'a8fce86' is not 8 hex digits"},
        {"{\"Cube\":\"a8fce86g\"}", "is not 8 hex digits"},
        {"{\"Cube\":1}", "at byte 8, expected a string"},
        {"{\"Cube\":\"a8fce865\",}", "expected a string"},
        {"{\"Cu\tbe\":\"a8fce865\"}", "at byte 4, a control character inside a string"},
        {"{\"\\x\":\"a8fce865\"}", "unknown escape \\x"},
        {"{\"\\ud83d\":\"a8fce865\"}", "a high surrogate without its low one"},
        {"{\"\\ude00\":\"a8fce865\"}", "a lone low surrogate"},
        {"{\"\\u00\":\"a8fce865\"}", "a \\u escape needs 4 hex digits"},
        {"{} {}", "at byte 3, text after the manifest's object"},
        {"{\"\xc3\x28\":\"a8fce865\"}", "at byte 1, a string that is not UTF-8"},
        {"{\"\xed\xa0\x80\":\"a8fce865\"}", "at byte 1, a string that is not UTF-8"},
        {"{\"\xc0\xaf\":\"a8fce865\"}", "at byte 1, a string that is not UTF-8"},
    };
    for (const auto& c : bad) {
        try {
            parseManifest(c.text);
            ADD_FAILURE() << "accepted " << c.text;
        } catch (const std::runtime_error& e) {
            EXPECT_THAT(std::string(e.what()), HasSubstr(c.why)) << c.text << ": " << e.what();
        }
    }
}

} // namespace
