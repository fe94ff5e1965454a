// The demo scene's committed data is what its generators make: object files
// byte for byte, passes pixel for pixel (image files may differ in their
// metadata between library versions, the pixels may not).
#include "orvit/passes/passes.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

using namespace orvit::passes;

namespace {

const std::string kDemo = ORVIT_DEMO_FOLDER;

std::vector<char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(DemoData, ObjectFilesMatchTheirGenerator) {
    testsupport::TempFolder dir;
    ASSERT_EQ(std::system((std::string(ORVIT_DEMO_OBJECTS) + " " + dir.path().string()).c_str()),
              0);
    for (const char* name : {"lamp.lwo", "crate.lwo", "ring.lwo", "comet.lwo"}) {
        SCOPED_TRACE(name);
        const auto made = fileBytes(dir / name);
        EXPECT_FALSE(made.empty());
        EXPECT_EQ(made, fileBytes(kDemo + "/objects/" + name));
    }
}

TEST(DemoData, PassesMatchTheirGenerator) {
    testsupport::TempFolder dir;
    ASSERT_EQ(std::system((std::string(ORVIT_DEMO_PASSES) + " " + dir.path().string()).c_str()), 0);
    for (const char* number : {"0001", "0002", "0003", "0004", "0005", "0006"}) {
        SCOPED_TRACE(number);
        const std::string n(number);
        const ColourPlanes made = readColourPass(dir / ("colour." + n + ".png"), {});
        const ColourPlanes kept = readColourPass(kDemo + "/passes/colour." + n + ".png", {});
        EXPECT_EQ(made.red, kept.red);
        EXPECT_EQ(made.green, kept.green);
        EXPECT_EQ(made.blue, kept.blue);
        EXPECT_EQ(made.alpha, kept.alpha);
        EXPECT_EQ(readSpecialPass(dir / ("special." + n + ".png"), "").values,
                  readSpecialPass(kDemo + "/passes/special." + n + ".png", "").values);
        const double keepAll = std::numeric_limits<double>::infinity();
        EXPECT_EQ(readDepthPass(dir / ("depth." + n + ".exr"), "", keepAll).depths,
                  readDepthPass(kDemo + "/passes/depth." + n + ".exr", "", keepAll).depths);
    }
}

} // namespace
