#include "app/image_files.h"
#include "app/temp_folder.h"
#include "standin/app/app_error.h"
#include "standin/app/passes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

using namespace orvit::app;
using apptest::Channel;
using apptest::writeChannels;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Runs `read` and returns the one-line message it fails with.
template <typename F> std::string failure(F read) {
    try {
        read();
    } catch (const AppError& e) {
        return e.what();
    }
    return "(no failure)";
}

std::vector<uint8_t> bytes(std::initializer_list<int> v) {
    return {v.begin(), v.end()};
}

TEST(ReadColourPass, EightBitRgbKeepsValuesAndGetsOpaqueAlpha) {
    apptest::TempFolder dir;
    writeChannels(dir / "c.png", 3, 2,
                  {{"R", OIIO::TypeDesc::UINT8, {0, 1, 2, 3, 4, 255}},
                   {"G", OIIO::TypeDesc::UINT8, {10, 11, 12, 13, 14, 15}},
                   {"B", OIIO::TypeDesc::UINT8, {20, 21, 22, 23, 24, 25}}});
    const ColourPlanes c = readColourPass(dir / "c.png", {});
    EXPECT_EQ(c.width, 3);
    EXPECT_EQ(c.height, 2);
    EXPECT_EQ(c.red, bytes({0, 1, 2, 3, 4, 255}));
    EXPECT_EQ(c.green, bytes({10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(c.blue, bytes({20, 21, 22, 23, 24, 25}));
    EXPECT_EQ(c.alpha, bytes({255, 255, 255, 255, 255, 255}));
}

TEST(ReadColourPass, FloatIsClampedAndRoundedToEightBits) {
    apptest::TempFolder dir;
    // Each column one case: below 0, 0, under half a step, over half a step,
    // mid grey, 1, above 1, not a number.
    const std::vector<double> v{-0.5, 0.0, 0.4 / 255, 0.6 / 255, 0.5, 1.0, 2.0, kNaN};
    writeChannels(dir / "c.exr", 8, 1,
                  {{"R", OIIO::TypeDesc::FLOAT, v},
                   {"G", OIIO::TypeDesc::FLOAT, v},
                   {"B", OIIO::TypeDesc::FLOAT, v},
                   {"A", OIIO::TypeDesc::FLOAT, v}});
    const ColourPlanes c = readColourPass(dir / "c.exr", {});
    const auto expected = bytes({0, 0, 0, 1, 128, 255, 255, 0});
    EXPECT_EQ(c.red, expected);
    EXPECT_EQ(c.green, expected);
    EXPECT_EQ(c.blue, expected);
    EXPECT_EQ(c.alpha, expected);
}

TEST(ReadColourPass, GreyIsSpreadOverRedGreenAndBlue) {
    apptest::TempFolder dir;
    writeChannels(dir / "g.png", 2, 1,
                  {{"Y", OIIO::TypeDesc::UINT8, {7, 9}}, {"A", OIIO::TypeDesc::UINT8, {1, 2}}});
    const ColourPlanes c = readColourPass(dir / "g.png", {});
    EXPECT_EQ(c.red, bytes({7, 9}));
    EXPECT_EQ(c.green, bytes({7, 9}));
    EXPECT_EQ(c.blue, bytes({7, 9}));
    EXPECT_EQ(c.alpha, bytes({1, 2}));
}

// Colour stored in each type a renderer writes, interleaved, in planes or in
// tiles (with tiles cut short at the right and bottom edges), reads as the
// same bytes: integers scaled from their full range, floats from 0..1.
TEST(ReadColourPass, EveryStoredTypeAndLayoutGivesTheSameBytes) {
    apptest::TempFolder dir;
    const int w = 20, h = 18;
    std::vector<uint8_t> expected[4];
    for (int i = 0; i < w * h; ++i)
        for (int c = 0; c < 4; ++c)
            expected[c].push_back(static_cast<uint8_t>(i * (2 * c + 1) + c * 50));
    struct Case {
        const char* file;
        OIIO::TypeDesc type;
        double scale; // stored value of byte 1
        apptest::Layout layout;
    } cases[] = {
        {"u8.png", OIIO::TypeDesc::UINT8, 1, {}},
        {"u16.png", OIIO::TypeDesc::UINT16, 257, {}},
        {"u8.tif", OIIO::TypeDesc::UINT8, 1, {}},
        {"u16-planes.tif", OIIO::TypeDesc::UINT16, 257, {0, true}},
        {"u32.tif", OIIO::TypeDesc::UINT32, 16843009, {}},
        {"half.tif", OIIO::TypeDesc::HALF, 1 / 255.0, {}},
        {"float-tiles.tif", OIIO::TypeDesc::FLOAT, 1 / 255.0, {16, false}},
        {"half-tiles.exr", OIIO::TypeDesc::HALF, 1 / 255.0, {16, false}},
        {"float.exr", OIIO::TypeDesc::FLOAT, 1 / 255.0, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        std::vector<Channel> channels;
        for (int c = 0; c < 4; ++c) {
            channels.push_back({std::string(1, "RGBA"[c]), k.type, {}});
            for (uint8_t v : expected[c])
                channels.back().values.push_back(v * k.scale);
        }
        writeChannels(dir / k.file, w, h, channels, k.layout);
        const ColourPlanes read = readColourPass(dir / k.file, {});
        EXPECT_EQ(read.red, expected[0]);
        EXPECT_EQ(read.green, expected[1]);
        EXPECT_EQ(read.blue, expected[2]);
        EXPECT_EQ(read.alpha, expected[3]);
    }
}

TEST(ReadSpecialPass, ChannelsOfEveryTypeGiveBytesByValue) {
    apptest::TempFolder dir;
    const std::vector<double> stored{0, 3, 254.6, 2.5, 255, 7.4};
    const auto byValue = bytes({0, 3, 255, 3, 255, 7});
    struct Case {
        const char* file;
        OIIO::TypeDesc type;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"grey8.png", OIIO::TypeDesc::UINT8, bytes({0, 3, 254, 2, 255, 7})},
        {"index.exr", OIIO::TypeDesc::FLOAT, byValue},
        {"half.exr", OIIO::TypeDesc::HALF, byValue},
        {"uint.exr", OIIO::TypeDesc::UINT32, bytes({0, 3, 254, 2, 255, 7})},
        {"grey16.png", OIIO::TypeDesc::UINT16, bytes({0, 3, 254, 2, 255, 7})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        writeChannels(dir / c.file, 3, 2, {{"Y", c.type, stored}});
        EXPECT_EQ(readSpecialPass(dir / c.file, "").values, c.expected);
    }
}

TEST(ReadSpecialPass, RefusesValuesOutsideAByteNamingPixelAndValue) {
    apptest::TempFolder dir;
    writeChannels(dir / "i.exr", 2, 2, {{"objectid", OIIO::TypeDesc::FLOAT, {1, 2, 3, 300}}});
    EXPECT_EQ(failure([&] { readSpecialPass(dir / "i.exr", "objectid"); }),
              "special pass '" + dir / "i.exr" +
                  "': channel 'objectid' holds 300 at pixel (1, 1), outside the special values "
                  "0..255");
    writeChannels(dir / "n.exr", 2, 1, {{"objectid", OIIO::TypeDesc::FLOAT, {-1, 0}}});
    EXPECT_NE(failure([&] { readSpecialPass(dir / "n.exr", ""); }).find("holds -1 at pixel (0, 0)"),
              std::string::npos);
    writeChannels(dir / "nan.exr", 1, 1, {{"Y", OIIO::TypeDesc::FLOAT, {kNaN}}});
    EXPECT_NE(failure([&] { readSpecialPass(dir / "nan.exr", ""); }).find("holds nan"),
              std::string::npos);
}

TEST(ReadDepthPass, FarFromTheThresholdOnAndNonNumbersBecomeTheHostFar) {
    apptest::TempFolder dir;
    writeChannels(dir / "z.exr", 6, 1,
                  {{"Z", OIIO::TypeDesc::FLOAT, {0.5, 999.0, 1000.0, 1e10, kInf, kNaN}}});
    const DepthPlane d = readDepthPass(dir / "z.exr", "", 1000.0);
    const std::vector<float> expected{0.5f,          999.0f,        kHostFarDepth,
                                      kHostFarDepth, kHostFarDepth, kHostFarDepth};
    EXPECT_EQ(d.depths, expected);
    EXPECT_EQ(kHostFarDepth, 1300000014336.0f);
    // Without a threshold only infinity and not-a-number are far.
    EXPECT_EQ(readDepthPass(dir / "z.exr", "", kInf).depths[3], 1e10f);
}

TEST(ReadDepthPass, PicksTheNamedChannelElseZElseTheFirst) {
    apptest::TempFolder dir;
    writeChannels(dir / "m.exr", 1, 1,
                  {{"depth", OIIO::TypeDesc::FLOAT, {4}}, {"Z", OIIO::TypeDesc::FLOAT, {5}}});
    EXPECT_EQ(readDepthPass(dir / "m.exr", "depth", kInf).depths[0], 4.0f);
    EXPECT_EQ(readDepthPass(dir / "m.exr", "", kInf).depths[0], 5.0f);
    writeChannels(dir / "one.exr", 1, 1, {{"distance", OIIO::TypeDesc::HALF, {6}}});
    EXPECT_EQ(readDepthPass(dir / "one.exr", "", kInf).depths[0], 6.0f);
}

// Colour, an object-index channel and depth, all from one EXR file.
TEST(ReadPasses, AllThreeFromOneMultiChannelExr) {
    apptest::TempFolder dir;
    const std::string file = dir / "beauty.0001.exr";
    writeChannels(file, 2, 2,
                  {{"R", OIIO::TypeDesc::HALF, {0.0, 0.5, 1.0, 0.25}},
                   {"G", OIIO::TypeDesc::HALF, {1.0, 0.0, 0.0, 0.0}},
                   {"B", OIIO::TypeDesc::HALF, {0.0, 0.0, 1.0, 1.0}},
                   {"A", OIIO::TypeDesc::HALF, {1.0, 1.0, 0.0, 0.5}},
                   {"crypto_index", OIIO::TypeDesc::FLOAT, {0, 3, 3, 12}},
                   {"Z", OIIO::TypeDesc::FLOAT, {2.5, 10.0, 1e10, 7.0}}});
    const ColourPlanes c = readColourPass(file, {"R", "G", "B", "A"});
    EXPECT_EQ(c.red, bytes({0, 128, 255, 64}));
    EXPECT_EQ(c.green, bytes({255, 0, 0, 0}));
    EXPECT_EQ(c.blue, bytes({0, 0, 255, 255}));
    EXPECT_EQ(c.alpha, bytes({255, 255, 0, 128}));
    EXPECT_EQ(readSpecialPass(file, "crypto_index").values, bytes({0, 3, 3, 12}));
    const std::vector<float> depths{2.5f, 10.0f, kHostFarDepth, 7.0f};
    EXPECT_EQ(readDepthPass(file, "Z", 1e9).depths, depths);
    // Three colour names read no alpha.
    EXPECT_EQ(readColourPass(file, {"R", "G", "B"}).alpha, bytes({255, 255, 255, 255}));
}

TEST(ReadPasses, BadFilesFailWithOneLineNamingFileAndFault) {
    apptest::TempFolder dir;
    writeChannels(dir / "z8.png", 1, 1, {{"Y", OIIO::TypeDesc::UINT8, {1}}});
    writeChannels(dir / "m.exr", 1, 1,
                  {{"R", OIIO::TypeDesc::FLOAT, {0}}, {"Z", OIIO::TypeDesc::FLOAT, {0}}});
    dir.write("broken.png", "\x89PNG\r\n\x1a\n but not really");
    const std::string missing = dir / "missing.0003.png";
    struct Case {
        std::function<void()> read;
        std::string expected;
    } cases[] = {
        {[&] { readColourPass(missing, {}); }, "colour pass '" + missing + "': no such file"},
        {[&] { readSpecialPass(dir / "broken.png", ""); },
         "special pass '" + dir / "broken.png" + "': cannot read: "},
        {[&] { readSpecialPass(dir / "m.exr", "objectid"); },
         "special pass '" + dir / "m.exr" + "': no channel 'objectid' (the file has R, Z)"},
        {[&] { readDepthPass(dir / "m.exr", "depth", kInf); },
         "depth pass '" + dir / "m.exr" + "': no channel 'depth' (the file has R, Z)"},
        {[&] {
             readColourPass(dir / "m.exr", {"R", "G", "B"});
         },
         "colour pass '" + dir / "m.exr" + "': no channel 'G' (the file has R, Z)"},
        {[&] { readDepthPass(dir / "z8.png", "", kInf); },
         "depth pass '" + dir / "z8.png" +
             "': channel 'Y' has type uint8; depth must be floating point"},
    };
    for (const Case& c : cases) {
        const std::string message = failure(c.read);
        EXPECT_EQ(message.substr(0, c.expected.size()), c.expected);
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

} // namespace
