// Writing a finished frame: the format follows the extension (.png, .tif,
// .tiff or .exr); the image is written whole or not at all (writeAtomically).
#pragma once

#include "orvit/images/colour_transform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvit::images {

// Checks that writeImage knows the extension of `path` (compared without
// case): an AppError naming the output and the extensions otherwise.
void checkOutputExtension(const std::string& path);

// The compression of writeImage by default: each format's fast setting.
constexpr int kFastCompression = -1;

// The pixels written for a frame the module drew on, as straight RGBA bytes
// (n of them): the glow is light. Where the module changed a pixel's colour
// from c to d, with alpha a (all 0..1), the change is light added to the
// pixel as it is composited: its premultiplied colour becomes
// p = a * c + (d - c), clamped to 0..1, and its alpha the least that holds
// that light, max(a, p red, p green, p blue), rounded up to 8 bits; its
// colour is p over that alpha. Composited over black the pixel is then
// a * c + d - c: the module's colour where the film is opaque (a = 1) and
// where it is empty (a = 0, c = 0), so a halo over empty film shows over any
// picture. Pixels the module left alone are written as read. `before` are
// the colour planes the module read, `drawn` the colour and alpha planes it
// wrote.
std::vector<uint8_t> filmPixels(size_t n, const std::array<const uint8_t*, 3>& before,
                                const std::array<const uint8_t*, 4>& drawn);

// `rgba` holds width x height pixels of 4 interleaved bytes, colour not
// multiplied by alpha. EXR files store the bytes as half floats 0..1, the
// colour multiplied by the alpha (premultiplied, as EXR readers take it). `compression` 0 to 9 is
// the zlib level of the PNG, TIFF (deflate) or EXR (ZIP) data: 0 stores it uncompressed, 9 makes
// the smallest files, slowest; kFastCompression writes PNG rows as their difference from the row
// above with run-length coding only and TIFF and EXR at level 1. `colourSpace` is what the bytes
// hold; an EXR names it in its header (string attribute "colorSpace"), since its values are not the
// linear light EXR readers otherwise assume.
void writeImage(const std::string& path, int32_t width, int32_t height,
                const std::vector<uint8_t>& rgba, int compression = kFastCompression,
                const std::string& colourSpace = kEightBitColourSpace);

} // namespace orvit::images
