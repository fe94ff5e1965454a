// What an image reader says about a damaged file is one printable line for
// every consumer (the command line, the window, a log), even where the
// library quotes bytes of the file.
#include "orvit/images/image_input.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using orvit::app::ImageError;
using orvit::app::openImage;

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
    // A fuzz finding: the library's message quotes a damaged channel name
    // holding a carriage return.
    const std::string message =
        failure(std::string(ORVIT_TEST_DATA) +
                "/../fuzz/corpus/image_input_fuzz/image-input-carriage-return-in-channel-name.exr");
    EXPECT_THAT(message, testing::HasSubstr("\\r"));
    EXPECT_EQ(std::count_if(message.begin(), message.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
              0)
        << message;
}

} // namespace
