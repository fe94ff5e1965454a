// What an image reader says about a damaged file is one printable line for
// every consumer (the command line, the window, a log), even where the
// library quotes bytes of the file; every sample type a TIFF stores is read.
#include "orvit/images/image_input.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/image_files.h"
#include "tests/support/temp_folder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using orvit::images::ImageError;
using orvit::images::openImage;
using orvit::images::SampleType;

namespace {

std::string failure(const std::string& path) {
    try {
        openImage(path);
    } catch (const ImageError& e) {
        return e.what();
    }
    return "(no failure)";
}

TEST(ImageError, IsOnePrintableLine) {
    EXPECT_STREQ(ImageError("channel 'a\rb\x1b' is bad\nsecond line").what(),
                 "channel 'a\\rb\\x1b' is bad");
    // A fuzz finding: a damaged header whose bytes the message quotes.
    const std::string message =
        failure(std::string(ORVIT_TEST_DATA) +
                "/../fuzz/corpus/image_input_fuzz/image-input-carriage-return-in-channel-name.exr");
    EXPECT_EQ(std::count_if(message.begin(), message.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
              0)
        << message;
}

// Where the header attribute `name` of type `type` keeps its size, which
// its value follows.
size_t attributeAt(const std::string& bytes, const std::string& name, const std::string& type) {
    const std::string key = name + '\0' + type + '\0';
    const size_t at = bytes.find(key);
    if (at == std::string::npos)
        throw std::runtime_error("no attribute " + name);
    return at + key.size();
}

// `bytes` with the value of the attribute replaced from its start by `value`.
std::string withValue(std::string bytes, const std::string& name, const std::string& type,
                      const std::string& value) {
    return bytes.replace(attributeAt(bytes, name, type) + 4, value.size(), value);
}

// `bytes` with the size the header gives the attribute replaced by `size`.
std::string withSize(std::string bytes, const std::string& name, const std::string& type,
                     const std::string& size) {
    return bytes.replace(attributeAt(bytes, name, type), size.size(), size);
}

std::string int32s(std::initializer_list<int32_t> values) {
    std::string out;
    for (int32_t v : values)
        out.append(reinterpret_cast<const char*>(&v), sizeof v);
    return out;
}

// What a damaged header makes the library allocate is checked against the
// file first: a string sized by the header (fuzz findings: 1.9 GB taken for
// a 978-byte EXR, and for a PNG's text chunk), and a table of block offsets for 16384 x 16384 tiles
// of one pixel each (2 GB). Channels are bounded (a check over them all took a minute for 100,000).
// A value whose size differs from what its type holds is refused, as the
// library would read on from elsewhere than the check (a fuzz finding: a
// channel list 3 bytes longer than its size hid a string claiming 1.8 GB).
// So is a tile that takes more than its image and 64 MiB, as the library
// makes a buffer for a whole tile (a fuzz finding: 2.1 GB for a 6 x 4 image).
TEST(OpenImage, RefusesWhatADamagedHeaderClaims) {
    const std::string seeds = std::string(ORVIT_TEST_DATA) + "/../fuzz/corpus/image_input_fuzz/";
    testsupport::TempFolder dir;
    std::string tiled = testsupport::readAll(seeds + "layers-tiled.exr");
    tiled = withValue(tiled, "tiles", "tiledesc", int32s({1, 1}));
    for (const char* window : {"dataWindow", "displayWindow"})
        tiled = withValue(tiled, window, "box2i", int32s({0, 0, 16383, 16383}));
    dir.write("tiles.exr", tiled);
    std::vector<testsupport::Channel> many;
    for (int c = 0; c <= 4096; ++c)
        many.push_back({"c" + std::to_string(c), OIIO::TypeDesc::HALF, {0}});
    testsupport::writeChannels(dir / "channels.exr", 1, 1, many);
    dir.write("compression.exr", withSize(testsupport::readAll(seeds + "rgba-zip.exr"),
                                          "compression", "compression", int32s({4})));
    const struct {
        std::string path;
        std::string expected;
    } cases[] = {
        {seeds + "image-input-header-claims-1.9-gigabytes.exr",
         "the header's attribute 'Software' claims 1919249251 bytes, more than the file's 978 "
         "bytes hold"},
        {seeds + "image-input-png-chunk-claims-1.9-gigabytes.png",
         "chunk 'tEXt' at byte 54 claims 1936943471 bytes, more than the file's 198 bytes hold"},
        {dir / "tiles.exr", "the header claims 268435456 blocks of pixels, more than the file's " +
                                std::to_string(tiled.size()) + " bytes can hold"},
        {dir / "channels.exr",
         "the image has 4097 channels, more than the 4096 orvit reads in one image"},
        {seeds + "image-input-channel-list-longer-than-its-size.exr",
         "the header's attribute 'channels' of type 'chlist' gives its value 73 bytes, but it "
         "holds 76"},
        {seeds + "image-input-tile-larger-than-its-image.exr",
         "the header's tiles of 12124164 x 4 pixels take more than the image they tile (6 x 4 "
         "pixels) and more than 64 MiB"},
        {dir / "compression.exr", "the header's attribute 'compression' of type 'compression' "
                                  "gives its value 4 bytes, but it holds 1"},
    };
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto before = openFiles();
    for (const auto& c : cases)
        EXPECT_EQ(failure(c.path), c.expected);
    // Each refusal closes the file it opened.
    EXPECT_EQ(openFiles(), before);
}

// Each sample format and size a TIFF stores is read as its type, every
// sample its own value (negative ones where the type has them): 8-bit ones
// as bytes, the others as floats, integers not scaled.
TEST(TiffInput, EverySampleTypeIsReadAsItsValues) {
    testsupport::TempFolder dir;
    const struct {
        OIIO::TypeDesc stored;
        SampleType type;
        double last;
    } cases[] = {
        {OIIO::TypeDesc::UINT8, SampleType::UInt8, 200},
        {OIIO::TypeDesc::INT8, SampleType::Int8, -100},
        {OIIO::TypeDesc::UINT16, SampleType::UInt16, 60000},
        {OIIO::TypeDesc::INT16, SampleType::Int16, -30000},
        {OIIO::TypeDesc::UINT32, SampleType::UInt32, 4000000000},
        {OIIO::TypeDesc::INT32, SampleType::Int32, -2000000000},
        {OIIO::TypeDesc::HALF, SampleType::Half, -0.5},
        {OIIO::TypeDesc::FLOAT, SampleType::Float, -0.25},
        {OIIO::TypeDesc::DOUBLE, SampleType::Double, 1e30},
    };
    for (const auto& c : cases) {
        const std::string path = dir / (std::string(c.stored.c_str()) + ".tif");
        SCOPED_TRACE(path);
        const std::vector<double> values = {0, 1, 7, c.last};
        testsupport::writeChannels(path, 2, 2, {{"Y", c.stored, values}});
        const auto image = openImage(path);
        ASSERT_EQ(image->channels().size(), 1u);
        EXPECT_EQ(image->channels()[0].type, c.type);
        const orvit::images::Plane plane = image->read({0}).at(0);
        if (c.type == SampleType::UInt8)
            EXPECT_EQ(plane.bytes, (std::vector<uint8_t>{0, 1, 7, 200}));
        else
            EXPECT_EQ(plane.floats, std::vector<float>(values.begin(), values.end()));
    }
}

} // namespace
