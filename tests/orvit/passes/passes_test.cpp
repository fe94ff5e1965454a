#include "orvit/core/host_error.h"
#include "orvit/passes/passes.h"
#include "tests/support/cryptomatte_frames.h"
#include "tests/support/failure.h"
#include "tests/support/image_files.h"
#include "tests/support/ocio_config.h"
#include "tests/support/renderer_frames.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <sys/stat.h>

using ::testing::HasSubstr;
using ::testing::Not;

using namespace orvit::images;
using namespace orvit::passes;
using namespace orvit::scene;
using testsupport::Channel;
using testsupport::writeChannels;
namespace fs = std::filesystem;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

using testsupport::failure;

std::vector<uint8_t> bytes(std::initializer_list<int> v) {
    return {v.begin(), v.end()};
}

// Float colour clamped, with no transfer: the stored values over 255.
const ColourSettings kLinear{ColourSettings::Transform::Linear, "", "", "", ""};

TEST(ReadColourPass, EightBitRgbKeepsValuesAndGetsOpaqueAlpha) {
    testsupport::TempFolder dir;
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

TEST(ReadColourPass, FloatIsClampedAndRoundedToEightBitsWithTheLinearTransform) {
    testsupport::TempFolder dir;
    // Each column one case: below 0, 0, under half a step, over half a step,
    // mid grey, 1, above 1, not a number.
    const std::vector<double> v{-0.5, 0.0, 0.4 / 255, 0.6 / 255, 0.5, 1.0, 2.0, kNaN};
    writeChannels(dir / "c.exr", 8, 1,
                  {{"R", OIIO::TypeDesc::FLOAT, v},
                   {"G", OIIO::TypeDesc::FLOAT, v},
                   {"B", OIIO::TypeDesc::FLOAT, v}});
    writeChannels(dir / "a.exr", 8, 1,
                  {{"R", OIIO::TypeDesc::FLOAT, std::vector<double>(8, 0.0)},
                   {"G", OIIO::TypeDesc::FLOAT, std::vector<double>(8, 0.0)},
                   {"B", OIIO::TypeDesc::FLOAT, std::vector<double>(8, 0.0)},
                   {"A", OIIO::TypeDesc::FLOAT, v}});
    const ColourPlanes c = readColourPass(dir / "c.exr", {}, ColourTransform(kLinear));
    const auto expected = bytes({0, 0, 0, 1, 128, 255, 255, 0});
    EXPECT_EQ(c.red, expected);
    EXPECT_EQ(c.green, expected);
    EXPECT_EQ(c.blue, expected);
    EXPECT_EQ(readColourPass(dir / "a.exr", {}, ColourTransform(kLinear)).alpha, expected);
}

// Float colour is premultiplied by its alpha (EXR's rule); the bytes are
// straight: a partly covered pixel's colour is divided by its alpha before
// the transform, and pixels of alpha 0 and 1 are taken as they are.
TEST(ReadColourPass, PartlyCoveredFloatColourIsDividedByItsAlphaBeforeTheTransform) {
    testsupport::TempFolder dir;
    dir.write("root.ocio", testsupport::kSquareRootOcioConfig);
    // Premultiplied red, alpha, and the straight red byte for each transform:
    // 0.125 at alpha 0.5 is 0.25 straight, which sRGB shows as 137 and a
    // square root as 128 (not 99 and 90, the red taken as it is).
    struct Case {
        double red, alpha;
        int linear, srgb, root, alphaByte;
    } cases[] = {
        {0.125, 0.5, 64, 137, 128, 128},
        {0.2, 0.4, 128, 188, 180, 102},
        {0.3, 0.0, 77, 149, 140, 0},
        {0.25, 1.0, 64, 137, 128, 255},
        {0.9, 0.6, 255, 255, 255, 153},
        {0.0, 0.25, 0, 0, 0, 64},
        // Multiplied by the alpha and divided again after the transform:
        // without it the linear byte is 44, the sRGB one 100.
        {0.00818014611, 0.046875, 45, 116, 107, 12},
        {0.00603670022, 0.046875, 33, 101, 92, 12},
    };
    std::vector<double> red, alpha, zero;
    for (const Case& c : cases) {
        red.push_back(c.red);
        alpha.push_back(c.alpha);
        zero.push_back(0.0);
    }
    const int n = static_cast<int>(red.size());
    writeChannels(dir / "c.exr", n, 1,
                  {{"R", OIIO::TypeDesc::FLOAT, red},
                   {"G", OIIO::TypeDesc::FLOAT, zero},
                   {"B", OIIO::TypeDesc::FLOAT, zero},
                   {"A", OIIO::TypeDesc::FLOAT, alpha}});
    const ColourSettings root{ColourSettings::Transform::Ocio, dir / "root.ocio", "screen", "root",
                              ""};
    const ColourPlanes linear = readColourPass(dir / "c.exr", {}, ColourTransform(kLinear));
    const ColourPlanes srgb = readColourPass(dir / "c.exr", {});
    const ColourPlanes ocio = readColourPass(dir / "c.exr", {}, ColourTransform(root));
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE("red " + std::to_string(cases[i].red) + " alpha " +
                     std::to_string(cases[i].alpha));
        EXPECT_EQ(linear.red[i], cases[i].linear);
        EXPECT_EQ(srgb.red[i], cases[i].srgb);
        EXPECT_EQ(ocio.red[i], cases[i].root);
        EXPECT_EQ(srgb.alpha[i], cases[i].alphaByte);
        EXPECT_EQ(srgb.green[i], 0);
    }
}

TEST(ReadColourPass, GreyIsSpreadOverRedGreenAndBlue) {
    testsupport::TempFolder dir;
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
// same bytes: integers scaled from their full range, floats from 0..1 and
// premultiplied by their alpha.
TEST(ReadColourPass, EveryStoredTypeAndLayoutGivesTheSameBytes) {
    testsupport::TempFolder dir;
    const int w = 20, h = 18;
    std::vector<uint8_t> expected[4];
    for (int i = 0; i < w * h; ++i)
        for (int c = 0; c < 4; ++c)
            expected[c].push_back(static_cast<uint8_t>(i * (2 * c + 1) + c * 50));
    for (int i = 0; i < w * h; ++i)
        if (expected[3][i] == 0) // no colour where nothing is
            expected[0][i] = expected[1][i] = expected[2][i] = 0;
    struct Case {
        const char* file;
        OIIO::TypeDesc type;
        double scale; // stored value of byte 1
        testsupport::Layout layout;
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
            const bool premultiplied = c < 3 && k.scale < 1;
            for (int i = 0; i < w * h; ++i)
                channels.back().values.push_back(expected[c][i] * k.scale *
                                                 (premultiplied ? expected[3][i] / 255.0 : 1.0));
        }
        writeChannels(dir / k.file, w, h, channels, k.layout);
        const ColourPlanes read = readColourPass(dir / k.file, {}, ColourTransform(kLinear));
        EXPECT_EQ(read.red, expected[0]);
        EXPECT_EQ(read.green, expected[1]);
        EXPECT_EQ(read.blue, expected[2]);
        EXPECT_EQ(read.alpha, expected[3]);
    }
}

TEST(ReadSpecialPass, ChannelsOfEveryTypeGiveBytesByValue) {
    testsupport::TempFolder dir;
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

TEST(ReadSpecialPass, IndexedImagesGiveTheirIndicesNotTheirPalettesColours) {
    for (const char* file : {"special-palette.png", "special-palette.tif"}) {
        SCOPED_TRACE(file);
        const SpecialPlane p =
            readSpecialPass(std::string(ORVIT_TEST_DATA) + "/passes/" + file, "");
        EXPECT_EQ(p.width, 4);
        EXPECT_EQ(p.values, bytes({0, 1, 7, 12, 12, 7, 1, 0}));
    }
}

TEST(ReadSpecialPass, RefusesValuesOutsideAByteNamingPixelAndValue) {
    testsupport::TempFolder dir;
    writeChannels(dir / "i.exr", 2, 2, {{"objectid", OIIO::TypeDesc::FLOAT, {1, 2, 3, 300}}});
    EXPECT_EQ(failure([&] { readSpecialPass(dir / "i.exr", "objectid"); }),
              "special pass '" + dir / "i.exr" +
                  "': channel 'objectid' holds 300 at pixel (1, 1), outside the special values "
                  "0..255");
    writeChannels(dir / "n.exr", 2, 1, {{"objectid", OIIO::TypeDesc::FLOAT, {-1, 0}}});
    EXPECT_THAT(failure([&] { readSpecialPass(dir / "n.exr", ""); }),
                HasSubstr("holds -1 at pixel (0, 0)"));
    writeChannels(dir / "nan.exr", 1, 1, {{"Y", OIIO::TypeDesc::FLOAT, {kNaN}}});
    EXPECT_THAT(failure([&] { readSpecialPass(dir / "nan.exr", ""); }), HasSubstr("holds nan"));
}

TEST(ReadDepthPass, FarFromTheThresholdOnAndNonNumbersBecomeTheHostFar) {
    testsupport::TempFolder dir;
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

TEST(ReadDepthPass, PicksTheNamedChannelElseTheRecognisedElseTheOnlyOne) {
    testsupport::TempFolder dir;
    writeChannels(dir / "m.exr", 1, 1,
                  {{"ViewLayer.Normal.Z", OIIO::TypeDesc::FLOAT, {4}},
                   {"ViewLayer.Depth.Z", OIIO::TypeDesc::FLOAT, {5}}});
    EXPECT_EQ(readDepthPass(dir / "m.exr", "ViewLayer.Normal.Z", kInf).depths[0], 4.0f);
    EXPECT_EQ(readDepthPass(dir / "m.exr", "", kInf).depths[0], 5.0f);
    writeChannels(dir / "one.exr", 1, 1, {{"distance", OIIO::TypeDesc::HALF, {6}}});
    EXPECT_EQ(readDepthPass(dir / "one.exr", "", kInf).depths[0], 6.0f);
}

// Colour, an object-index channel and depth, all from one EXR file.
TEST(ReadPasses, AllThreeFromOneMultiChannelExr) {
    testsupport::TempFolder dir;
    const std::string file = dir / "beauty.0001.exr";
    writeChannels(file, 2, 2,
                  {{"R", OIIO::TypeDesc::HALF, {0.0, 0.5, 1.0, 0.25}},
                   {"G", OIIO::TypeDesc::HALF, {1.0, 0.0, 0.0, 0.0}},
                   {"B", OIIO::TypeDesc::HALF, {0.0, 0.0, 1.0, 1.0}},
                   {"A", OIIO::TypeDesc::HALF, {1.0, 1.0, 0.0, 0.5}},
                   {"crypto_index", OIIO::TypeDesc::FLOAT, {0, 3, 3, 12}},
                   {"Z", OIIO::TypeDesc::FLOAT, {2.5, 10.0, 1e10, 7.0}}});
    const ColourPlanes c = readColourPass(file, {"R", "G", "B", "A"}, ColourTransform(kLinear));
    EXPECT_EQ(c.red, bytes({0, 128, 255, 128})); // 0.25 premultiplied by 0.5
    EXPECT_EQ(c.green, bytes({255, 0, 0, 0}));
    EXPECT_EQ(c.blue, bytes({0, 0, 255, 255}));
    EXPECT_EQ(c.alpha, bytes({255, 255, 0, 128}));
    EXPECT_EQ(readSpecialPass(file, "crypto_index").values, bytes({0, 3, 3, 12}));
    const std::vector<float> depths{2.5f, 10.0f, kHostFarDepth, 7.0f};
    EXPECT_EQ(readDepthPass(file, "Z", 1e9).depths, depths);
    // Three colour names read no alpha.
    EXPECT_EQ(readColourPass(file, {"R", "G", "B"}).alpha, bytes({255, 255, 255, 255}));
}

// A renderer's multilayer frame, read with no channel named: each pass from
// the channels recognised for it, the others left alone.
TEST(ReadPasses, ARenderersMultilayerFrameGivesEachPassFromItsOwnChannels) {
    testsupport::TempFolder dir;
    const std::string file = dir / "shot_0001.exr";
    testsupport::writeRendererFrame(file, 3, 1, {{2, 1, 0, 2, 1, 7.5}});
    const ColourPlanes c = readColourPass(file, {});
    EXPECT_EQ(c.red, bytes({124, 255, 124}));   // 0.2 and 4.0 through the sRGB transfer
    EXPECT_EQ(c.green, bytes({149, 188, 149})); // 0.3 and 0.5
    EXPECT_EQ(c.blue, bytes({188, 10, 188}));   // 0.5 and 0.0031308
    EXPECT_EQ(c.alpha, bytes({255, 255, 255}));
    EXPECT_EQ(c.colourSpace, "sRGB");
    EXPECT_EQ(readSpecialPass(file, "").values, bytes({0, 2, 0}));
    EXPECT_EQ(readDepthPass(file, "", 1e9).depths,
              (std::vector<float>{kHostFarDepth, 7.5f, kHostFarDepth}));
}

// Each file's samples land where its data window lies in its display
// window, the frame: the pixels it lacks are empty (no colour, no alpha, no
// object, far), those outside the frame are cropped. The colour and the
// other passes come from two files with windows of their own.
TEST(ReadPasses, EachFilesDataWindowLandsInItsDisplayWindow) {
    struct Window {
        int x, y, w, h;
        bool holds(int X, int Y) const { return X >= x && X < x + w && Y >= y && Y < y + h; }
    };
    struct Case {
        const char* what;
        Window display, colour, other;
        bool alpha;
        int tile;
    } cases[] = {
        {"a region", {0, 0, 6, 4}, {1, 1, 3, 2}, {2, 0, 4, 4}, true, 0},
        {"overscan", {0, 0, 6, 4}, {-2, -1, 10, 6}, {0, 0, 6, 4}, true, 4},
        {"a frame at (-4, -4)", {-4, -4, 6, 4}, {-4, -4, 6, 4}, {-3, -4, 2, 3}, true, 0},
        {"overhanging one side each, no alpha",
         {0, 0, 6, 4},
         {3, -2, 6, 3},
         {-5, 2, 7, 5},
         false,
         0},
    };
    // A pixel's stored values by its place in the file's coordinates.
    const auto level = [](int X, int Y) { return (X + 10) + 20 * (Y + 10) % 200; };
    const auto object = [](int X, int Y) { return 1 + (X + Y + 20) % 5; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempFolder dir;
        const auto write = [&](const std::string& name, const Window& w, bool colour) {
            std::vector<Channel> channels;
            for (const char* n : colour ? std::vector<const char*>{"R", "G", "B", "A"}
                                        : std::vector<const char*>{"object_id", "Z"})
                if (std::string(n) != "A" || c.alpha)
                    channels.push_back({n, OIIO::TypeDesc::FLOAT, {}});
            for (int Y = w.y; Y < w.y + w.h; ++Y)
                for (int X = w.x; X < w.x + w.w; ++X)
                    for (Channel& channel : channels)
                        channel.values.push_back(channel.name == "A"           ? 1.0
                                                 : channel.name == "object_id" ? object(X, Y)
                                                 : channel.name == "Z"         ? 1.0 + X + Y + 20
                                                                       : level(X, Y) / 255.0);
            writeChannels(
                dir / name, w.w, w.h, channels,
                {c.tile, false, {w.x, w.y}, {c.display.x, c.display.y, c.display.w, c.display.h}});
        };
        write("colour.exr", c.colour, true);
        write("other.exr", c.other, false);
        const PassFiles files{dir / "colour.exr",
                              dir / "other.exr",
                              dir / "other.exr",
                              {},
                              "object_id",
                              "Z",
                              "",
                              1e9};
        const FramePasses passes = readFramePasses(files, 1, ColourTransform(kLinear));
        ASSERT_EQ(passes.colour.width, c.display.w);
        ASSERT_EQ(passes.colour.height, c.display.h);
        for (int y = 0; y < c.display.h; ++y)
            for (int x = 0; x < c.display.w; ++x) {
                const int X = c.display.x + x, Y = c.display.y + y;
                const size_t i = size_t(y) * c.display.w + x;
                const bool colour = c.colour.holds(X, Y), other = c.other.holds(X, Y);
                SCOPED_TRACE("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")");
                EXPECT_EQ(passes.colour.red[i], colour ? level(X, Y) : 0);
                EXPECT_EQ(passes.colour.blue[i], colour ? level(X, Y) : 0);
                EXPECT_EQ(passes.colour.alpha[i], colour ? 255 : 0);
                EXPECT_EQ(passes.special.values[i], other ? object(X, Y) : 0);
                EXPECT_EQ(passes.depth.depths[i], other ? 1.0f + X + Y + 20 : kHostFarDepth);
            }
    }
}

// The sRGB transfer, clamped after it, against its formula at the two ends,
// the point where its two pieces meet, mid grey and above white.
TEST(ReadColourPass, FloatColourFollowsTheSrgbFormula) {
    testsupport::TempFolder dir;
    const std::vector<double> linear{0.0, 0.0031308, 0.5, 1.0, 4.0};
    writeChannels(dir / "c.exr", 5, 1,
                  {{"R", OIIO::TypeDesc::FLOAT, linear},
                   {"G", OIIO::TypeDesc::FLOAT, linear},
                   {"B", OIIO::TypeDesc::FLOAT, linear}});
    std::vector<uint8_t> expected;
    for (double v : linear) {
        const double f = static_cast<float>(v); // as the file holds it
        const double encoded = f <= 0.0031308 ? 12.92 * f : 1.055 * std::pow(f, 1 / 2.4) - 0.055;
        expected.push_back(static_cast<uint8_t>(std::lround(std::min(1.0, encoded) * 255)));
    }
    EXPECT_EQ(expected, bytes({0, 10, 188, 255, 255}));
    EXPECT_EQ(readColourPass(dir / "c.exr", {}).red, expected);
}

// Float colour across the whole sRGB curve, dark tones included: byte k's
// middle and the points a third of a step either side of it each give byte
// k (the inverse transfer computed here, apart from the reader's tables),
// wherever in the frame they lie, and a renderer's own 8-bit picture of a
// float ramp comes out byte for byte.
TEST(ReadColourPass, FloatColourMatchesTheSrgbCurveAtEveryByte) {
    testsupport::TempFolder dir;
    const auto linear = [](double encoded) {
        return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
    };
    std::vector<double> values;
    std::vector<uint8_t> expected;
    for (int k = 0; k <= 255; ++k)
        for (const double offset : {-1.0 / 3, 0.0, 1.0 / 3}) {
            values.push_back(linear(std::clamp((k + offset) / 255.0, 0.0, 1.0)));
            expected.push_back(static_cast<uint8_t>(k));
        }
    // Seven columns and two samples more, so that the frame's rows come in
    // more than one band, the last one short.
    for (int extra = 0; extra < 2; ++extra) {
        values.push_back(1.0);
        expected.push_back(255);
    }
    const int w = 7;
    const int h = static_cast<int>(values.size()) / w;
    writeChannels(dir / "ramp.exr", w, h,
                  {{"R", OIIO::TypeDesc::FLOAT, values},
                   {"G", OIIO::TypeDesc::FLOAT, values},
                   {"B", OIIO::TypeDesc::FLOAT, values}});
    EXPECT_EQ(readColourPass(dir / "ramp.exr", {}).red, expected);

    const std::string data = std::string(ORVIT_TEST_DATA) + "/passes/blender-srgb-ramp";
    const ColourPlanes renderers = readColourPass(data + ".png", {});
    const ColourPlanes ours = readColourPass(data + ".exr", {});
    EXPECT_EQ(ours.red, renderers.red);
    EXPECT_EQ(ours.green, renderers.green);
    EXPECT_EQ(ours.blue, renderers.blue);
}

// A display and view of an OpenColorIO configuration (ocio_config.h).
TEST(ReadColourPass, AnOpenColorIoViewAndLookApplyToFloatColour) {
    testsupport::TempFolder dir;
    ASSERT_EQ(mkfifo((dir / "pipe.ocio").c_str(), 0644), 0);
    dir.write("config.ocio", testsupport::kSquareRootOcioConfig);
    writeChannels(dir / "c.exr", 2, 1,
                  {{"R", OIIO::TypeDesc::FLOAT, {0.25, 1.0}},
                   {"G", OIIO::TypeDesc::FLOAT, {0.0, 0.0}},
                   {"B", OIIO::TypeDesc::FLOAT, {0.125, 0.0}}});
    ColourSettings ocio{ColourSettings::Transform::Ocio, dir / "config.ocio", "screen", "root", ""};
    const ColourPlanes plain = readColourPass(dir / "c.exr", {}, ColourTransform(ocio));
    EXPECT_EQ(plain.red, bytes({128, 255}));
    EXPECT_EQ(plain.blue, bytes({90, 0})); // sqrt(0.125) = 0.354
    EXPECT_EQ(plain.colourSpace, "root");
    ocio.look = "double";
    EXPECT_EQ(readColourPass(dir / "c.exr", {}, ColourTransform(ocio)).red, bytes({180, 255}));

    struct Case {
        ColourSettings settings;
        std::string expected;
    } cases[] = {
        {{ColourSettings::Transform::Ocio, dir / "none.ocio", "screen", "root", ""},
         "s: OpenColorIO configuration '" + dir / "none.ocio" + "' does not exist"},
        {{ColourSettings::Transform::Ocio, dir / "pipe.ocio", "screen", "root", ""},
         "s: OpenColorIO configuration '" + dir / "pipe.ocio" +
             "' is a named pipe, not a regular file"},
        {{ColourSettings::Transform::Ocio, dir / "config.ocio", "sRGB", "root", ""},
         "s: OpenColorIO configuration '" + dir / "config.ocio" +
             "' has no display 'sRGB' (it has screen)"},
        {{ColourSettings::Transform::Ocio, dir / "config.ocio", "screen", "Filmic", ""},
         "s: OpenColorIO display 'screen' has no view 'Filmic' (it has root)"},
        {{ColourSettings::Transform::Ocio, dir / "config.ocio", "screen", "root", "Punchy"},
         "s: OpenColorIO configuration '" + dir / "config.ocio" +
             "' has no look 'Punchy' (it has double)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const std::string message = failure([&] { ColourTransform(c.settings, "s"); });
        EXPECT_EQ(message.substr(0, c.expected.size()), c.expected);
        EXPECT_THAT(message, Not(HasSubstr("\n")));
    }
}

TEST(ReadPasses, BadFilesFailWithOneLineNamingFileAndFault) {
    testsupport::TempFolder dir;
    // A header that claims more than any frame orvit reads, or more than the
    // file holds: refused before memory is taken for it.
    for (const char* name : {"huge.exr", "short.exr"})
        writeChannels(dir / name, 1, 1, {{"Z", OIIO::TypeDesc::FLOAT, {1}}});
    testsupport::claimSize(dir / "huge.exr", 30000, 30000);
    testsupport::claimSize(dir / "short.exr", 16000, 16000);
    const std::string shortSize = std::to_string(fs::file_size(dir / "short.exr"));
    // Files that could block a reader forever or are no image at all.
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0644), 0);
    fs::create_directory(dir / "folder.png");
    // A damaged channel name with a carriage return, quoted in the library's
    // message (a fuzz finding).
    const std::string returnInName =
        std::string(ORVIT_TEST_DATA) +
        "/../fuzz/corpus/image_input_fuzz/image-input-carriage-return-in-channel-name.exr";
    writeChannels(dir / "two-depths.exr", 1, 1,
                  {{"Z", OIIO::TypeDesc::FLOAT, {1}}, {"depth", OIIO::TypeDesc::FLOAT, {1}}});
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
        {[&] { readDepthPass(dir / "huge.exr", "", kInf); },
         "depth pass '" + dir / "huge.exr" +
             "': cannot read: the header claims 30000x30000 pixels, more than the 268435456 "
             "(16384x16384) orvit reads in one image"},
        {[&] { readDepthPass(dir / "short.exr", "", kInf); },
         "depth pass '" + dir / "short.exr" +
             "': cannot read: the header claims 16000x16000 pixels, more than the file's " +
             shortSize + " bytes can hold"},
        {[&] { readColourPass(dir / "pipe.png", {}); },
         "colour pass '" + dir / "pipe.png" +
             "': cannot read: it is a named pipe, not a regular file"},
        {[&] { readSpecialPass(dir / "folder.png", ""); },
         "special pass '" + dir / "folder.png" +
             "': cannot read: it is a folder, not a regular file"},
        {[&] { readColourPass(returnInName, {}); }, "colour pass '" + returnInName + "': "},
        {[&] { readSpecialPass(dir / "broken.png", ""); },
         "special pass '" + dir / "broken.png" + "': cannot read: "},
        {[&] { readDepthPass(dir / "m.exr", "depth", kInf); },
         "depth pass '" + dir / "m.exr" + "': no channel 'depth' (the file has R, Z)"},
        {[&] {
             readColourPass(dir / "m.exr", {"R", "G", "B"});
         },
         "colour pass '" + dir / "m.exr" + "': no channel 'G' (the file has R, Z)"},
        {[&] { readDepthPass(dir / "z8.png", "", kInf); },
         "depth pass '" + dir / "z8.png" +
             "': channel 'Y' has type uint8; depth must be floating point"},
        // Several channels and none named or recognised for the pass: never
        // the first channel.
        {[&] { readSpecialPass(dir / "m.exr", ""); },
         "special pass '" + dir / "m.exr" +
             "': no channel is recognised as an object index (the file has R, Z); pick with "
             "passes.special_channel"},
        {[&] { readColourPass(dir / "two-depths.exr", {}); },
         "colour pass '" + dir / "two-depths.exr" +
             "': no channel is recognised as the colour (the file has Z, depth); pick with "
             "passes.colour_channels"},
        {[&] { readDepthPass(dir / "two-depths.exr", "", kInf); },
         "depth pass '" + dir / "two-depths.exr" +
             "': 2 could be a depth: Z or depth (the file has Z, depth); pick with "
             "passes.depth_channel"},
    };
    for (const Case& c : cases) {
        const std::string message = failure(c.read);
        EXPECT_EQ(message.substr(0, c.expected.size()), c.expected);
        EXPECT_EQ(std::count_if(message.begin(), message.end(),
                                [](char ch) { return static_cast<unsigned char>(ch) < 0x20; }),
                  0)
            << message;
    }
}

} // namespace

namespace {

using testsupport::NamedBox;

// Torus alone on the left, Cube over the plain on the right: where they
// overlap the Cube has the most coverage.
const std::vector<NamedBox> kNamedBoxes = {{testsupport::kTorus, 0, 0, 3, 4, 2.0},
                                           {testsupport::kPlain, 4, 0, 8, 4, 3.0},
                                           {testsupport::kCube, 6, 1, 10, 3, 1.0}};

// The value of the surface named by the object with the most coverage at
// (x, y), decoded from the boxes as drawn, or 0.
int expectedValue(int x, int y, const std::vector<SurfaceEntry>& surfaces) {
    const NamedBox* top = nullptr;
    for (const NamedBox& b : kNamedBoxes)
        if (x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1)
            top = &b;
    for (const SurfaceEntry& s : surfaces)
        if (top != nullptr && s.name == top->object.name)
            return s.special;
    return 0;
}

TEST(ReadSpecialPass, ACryptomattesRankZeroObjectGivesItsSurfacesValue) {
    testsupport::TempFolder dir;
    testsupport::CryptomatteFrame frame;
    frame.levels = 2;
    testsupport::writeCryptomatteFrame(dir / "c.exr", 10, 4, kNamedBoxes, frame);
    frame.prefix = "exr/cryptomatte/"; // as a compositor rewrites it
    testsupport::writeCryptomatteFrame(dir / "rewritten.exr", 10, 4, kNamedBoxes, frame);
    // Two names share a value; the plain is no surface; "Sphere" is nowhere.
    const std::vector<SurfaceEntry> surfaces = {
        {"torus", 9}, {"Cube", 9}, {"Sphere", 4}, {"Cone", 200}};
    std::vector<uint8_t> expected;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x)
            expected.push_back(static_cast<uint8_t>(expectedValue(x, y, surfaces)));
    for (const char* file : {"c.exr", "rewritten.exr"})
        for (const char* layer : {"", "ViewLayer.CryptoObject"}) {
            SCOPED_TRACE(std::string(file) + " layer '" + layer + "'");
            EXPECT_EQ(readSpecialPass(dir / file, "", layer, surfaces).values, expected);
        }
}

TEST(ReadSpecialPass, ABadCryptomatteIsOneLineNamingTheFileAndTheKey) {
    testsupport::TempFolder dir;
    const auto write = [&](const std::string& name, testsupport::CryptomatteFrame frame) {
        testsupport::writeCryptomatteFrame(dir / name, 10, 4, kNamedBoxes, frame);
        return dir / name;
    };
    // Which layer, and the layer's own faults: special_source_test.cpp and
    // cryptomatte_test.cpp. Ids stored in too few bits to be ids:
    testsupport::CryptomatteFrame half;
    half.half = true;
    const std::string halfPath = write("half.exr", half);
    EXPECT_EQ(failure([&] { readSpecialPass(halfPath, "", "", {}); }),
              "special pass '" + halfPath +
                  "': channel 'ViewLayer.CryptoObject00.R' of Cryptomatte "
                  "'ViewLayer.CryptoObject' has type half; its ids must be 32-bit float");
    // A manifest that is not JSON names nothing, and says why.
    testsupport::CryptomatteFrame cut;
    cut.metadata["manifest"] = "{\"torus\":\"f19c";
    const std::string cutPath = write("cut.exr", cut);
    EXPECT_EQ(readSpecialPass(cutPath, "", "", {{"torus", 1}}).values[0], 1);
    const RankZeroAndDepth read = readRankZeroAndDepth(cutPath, "ViewLayer.CryptoObject", "", 1e9);
    EXPECT_TRUE(read.names.empty());
    EXPECT_EQ(read.manifestProblem,
              "special pass '" + cutPath +
                  "': metadata 'cryptomatte/542cafa/manifest': not a JSON object of names to ids: "
                  "at byte 14, the text ends inside a string");
}

} // namespace
