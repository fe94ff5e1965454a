// Writing a finished frame: the format follows the extension (.png, .tif,
// .tiff or .exr); the image is written whole or not at all (writeAtomically).
#pragma once

#include "orvit/images/colour_transform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvit::app {

// Checks that writeImage knows the extension of `path` (compared without
// case): an AppError naming the output and the extensions otherwise.
void checkOutputExtension(const std::string& path);

// The compression of writeImage by default: each format's fast setting.
constexpr int kFastCompression = -1;

// `rgba` holds width x height pixels of 4 interleaved bytes. EXR files store
// the bytes as half floats 0..1. `compression` 0 to 9 is the zlib level of
// the PNG, TIFF (deflate) or EXR (ZIP) data: 0 stores it uncompressed, 9
// makes the smallest files, slowest; kFastCompression writes PNG rows as
// their difference from the row above with run-length coding only and TIFF
// and EXR at level 1. `colourSpace` is what the bytes hold; an EXR names it
// in its header (string attribute "colorSpace"), since its values are not
// the linear light EXR readers otherwise assume.
void writeImage(const std::string& path, int32_t width, int32_t height,
                const std::vector<uint8_t>& rgba, int compression = kFastCompression,
                const std::string& colourSpace = kEightBitColourSpace);

} // namespace orvit::app
