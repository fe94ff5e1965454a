#include "orvit/core/host_error.h"
#include "orvit/images/image_output.h"
#include "orvit/passes/passes.h"
#include "tests/support/failure.h"
#include "tests/support/image_files.h"
#include "tests/support/interrupted_write.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace orvit::images;
using namespace orvit::passes;

namespace {

std::vector<uint8_t> testPixels(int w, int h) {
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = static_cast<uint8_t>(i * 37 + i / 7);
    return rgba;
}

// Each format at each kind of compression, read back by orvit's readers and
// by a second image library.
TEST(WriteImage, EveryFormatReadsBackTheSameBytes) {
    testsupport::TempFolder dir;
    const int w = 17, h = 5;
    const std::vector<uint8_t> rgba = testPixels(w, h);
    for (const char* name : {"f.png", "f.tif", "f.TIFF", "f.exr"})
        for (int compression : {kFastCompression, 0, 9}) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(compression));
            writeImage(dir / name, w, h, rgba, compression, "Filmic sRGB");
            const bool exr = std::string(name) == "f.exr";
            if (!exr) {
                EXPECT_EQ(testsupport::readBytes(dir / name), rgba);
            }
            // The EXR holds the bytes over 255, which only the plain clamp
            // gives back, its colour multiplied by its alpha as EXR keeps
            // it: read as a float colour pass, divided again, the straight
            // bytes but where the alpha is 0, which keeps no colour.
            const ColourTransform linear({ColourSettings::Transform::Linear, "", "", "", ""});
            const ColourPlanes back = readColourPass(
                dir / name,
                exr ? ColourChannels{"R", "G", "B", "A"} : ColourChannels{"R", "G", "B"}, linear);
            ASSERT_EQ(back.width, w);
            ASSERT_EQ(back.height, h);
            const std::vector<uint8_t> alpha =
                readColourPass(dir / name, {"R", "G", "B", "A"}, linear).alpha;
            for (size_t i = 0; i < back.red.size(); ++i) {
                const bool kept = !exr || rgba[i * 4 + 3] > 0;
                ASSERT_EQ(back.red[i], kept ? rgba[i * 4] : 0) << "pixel " << i;
                ASSERT_EQ(back.green[i], kept ? rgba[i * 4 + 1] : 0) << "pixel " << i;
                ASSERT_EQ(back.blue[i], kept ? rgba[i * 4 + 2] : 0) << "pixel " << i;
                ASSERT_EQ(alpha[i], rgba[i * 4 + 3]) << "pixel " << i;
            }
        }
    // The EXR, whose values are not linear light, says what they are.
    const auto exr = OIIO::ImageInput::open(dir / "f.exr");
    ASSERT_TRUE(exr);
    EXPECT_EQ(exr->spec().get_string_attribute("colorSpace"), "Filmic sRGB");
    // Nothing but the finished images is left behind.
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"f.TIFF", "f.exr", "f.png", "f.tif"}));
}

TEST(WriteImage, ReplacesAnEarlierImageWhole) {
    testsupport::TempFolder dir;
    writeImage(dir / "f.png", 4, 4, testPixels(4, 4));
    const std::vector<uint8_t> black(2 * 2 * 4, 0);
    writeImage(dir / "f.png", 2, 2, black);
    EXPECT_EQ(readColourPass(dir / "f.png", {}).red, std::vector<uint8_t>(4, 0));
}

TEST(WriteImage, FailuresLeaveNoFileBehind) {
    testsupport::TempFolder dir;
    dir.write("plain-file", "x");
    std::filesystem::create_directories(dir.path() / "taken.png");
    const std::vector<uint8_t> rgba = testPixels(2, 2);
    struct Case {
        std::string path;
        std::string expected;
    } cases[] = {
        // A folder that cannot hold files (its path runs through a file).
        {dir / "plain-file/f.png", "no folder '" + dir / "plain-file" + "'"},
        {dir / "absent/f.png", "no folder '" + dir / "absent" + "'"},
        {dir / "taken.png", "a folder of that name exists"},
        {dir / "f.jpg", "unknown image type; use .png, .tif, .tiff or .exr"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(testsupport::failure([&] { writeImage(c.path, 2, 2, rgba); }),
                  "output '" + c.path + "': " + c.expected);
    }
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"plain-file", "taken.png"}));
}

// A signal that ends the process while an image is being written, as a
// cancelled farm task gets, leaves no unfinished file: the temporary file
// goes, and the process still ends by that signal.
TEST(WriteImage, EndingSignalDuringTheWriteLeavesNoFile) {
    testsupport::TempFolder dir;
    // Noise compresses slowly, so that the write lasts long enough to be hit.
    const int w = 2500, h = 2500;
    std::vector<uint8_t> noise(static_cast<size_t>(w) * h * 4);
    uint32_t x = 12345;
    for (uint8_t& v : noise) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<uint8_t>(x >> 24);
    }
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            writeImage(dir / "big.png", w, h, noise);
            _exit(0);
        }
        testsupport::signalWhileWriting(child, dir.path(), ".big.tmp", signal, 30);
        if (HasFatalFailure())
            return;
        EXPECT_EQ(dir.files(), std::vector<std::string>{});
    }
}

} // namespace
