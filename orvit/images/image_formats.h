// The image file formats, one library each: what image_input.cpp and
// image_output.cpp dispatch to. Every function throws ImageError.
#pragma once

#include "orvit/images/image_input.h"

#include <cstdint>
#include <memory>
#include <string>

namespace orvit::images {

// Checks what an OpenEXR header at `path` (of `fileSize` bytes) would make
// the library allocate, before it reads it: each attribute's size, a string
// vector's strings, a preview's pixels and every part's table of block
// offsets, against the bytes the file holds.
void checkExrClaims(const std::string& path, uint64_t fileSize);
std::unique_ptr<ImageInput> openExr(const std::string& path);
// Checks, before libpng reads them, that no chunk of the PNG at `path` (of
// `fileSize` bytes) claims more bytes than the file holds: libpng allocates
// a chunk's claimed length before it reads it.
void checkPngClaims(const std::string& path, uint64_t fileSize);
std::unique_ptr<ImageInput> openPng(const std::string& path);
std::unique_ptr<ImageInput> openTiff(const std::string& path);

// `rgba` holds width x height pixels of 4 interleaved bytes. `compression`
// is a zlib level 0 to 9, or -1 for the format's fast default. An EXR's
// header names `colourSpace`, the space its values are in.
void writeExr(const std::string& path, int32_t width, int32_t height, const uint8_t* rgba,
              int compression, const std::string& colourSpace);
void writePng(const std::string& path, int32_t width, int32_t height, const uint8_t* rgba,
              int compression);
void writeTiff(const std::string& path, int32_t width, int32_t height, const uint8_t* rgba,
               int compression);

} // namespace orvit::images
