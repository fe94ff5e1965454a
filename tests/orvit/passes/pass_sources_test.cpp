// Which file of several holds each pass, by the channels' names alone.
#include "orvit/core/host_error.h"
#include "orvit/passes/pass_sources.h"
#include "tests/support/failure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace orvit::passes;

namespace {

using Names = std::vector<std::string>;

// A channel named for one pass is no other pass's: a grey ID image whose Y
// is named the special pass is not a second grey colour.
TEST(FindPassSources, EachPassFromTheOneFileThatOffersIt) {
    const auto file = [](const char* where, const Names& channels) {
        return PassFile{where, {1, 1, channels, {}, false}};
    };
    const PassFile beauty = file("beauty", {"A", "B", "G", "R"});
    const PassFile greyId = file("id", {"Y"});
    const PassFile depth = file("depth", {"Z"});
    const PassFile layered =
        file("all", {"L.Combined.R", "L.Combined.G", "L.Combined.B", "L.IndexOB.X", "L.Depth.Z"});
    struct Case {
        const char* name;
        std::vector<PassFile> files;
        std::string special; // named
        int colour, specialFile, depthFile;
        Names colourChannels;
    } cases[] = {
        {"one file", {layered}, "", 0, 0, 0, {"L.Combined.R", "L.Combined.G", "L.Combined.B"}},
        {"grey id named", {beauty, greyId, depth}, "Y", 0, 1, 2, {"R", "G", "B", "A"}},
        {"id first, no depth", {greyId, beauty}, "Y", 1, 0, -1, {"R", "G", "B", "A"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NamedChannels named;
        named.special = c.special;
        const PassSources found = findPassSources(c.files, named);
        EXPECT_EQ(found.colour.file, c.colour);
        EXPECT_EQ(found.colour.channels, c.colourChannels);
        EXPECT_EQ(found.special.file, c.specialFile);
        EXPECT_EQ(found.depth.file, c.depthFile);
    }
    // Unnamed, the grey Y is a colour too: two files offer it.
    NamedChannels none;
    none.pickColour = "--colour-channels";
    EXPECT_EQ(testsupport::failure([&] {
                  findPassSources({beauty, greyId}, none);
              }),
              "colour pass: both beauty (R, G, B, A) and id (Y, Y, Y) offer it; leave one file "
              "out, or pick with --colour-channels");
    // Named the special pass, the one file's Y is no colour.
    NamedChannels grey = none;
    grey.special = "Y";
    EXPECT_EQ(testsupport::failure([&] { findPassSources({greyId}, grey); }),
              "id: no channel is recognised as the colour (the file has Y); pick with "
              "--colour-channels, or give the file that holds the colour as well (orvit init "
              "beauty_####.exr crypto_####.exr)");
}

} // namespace
