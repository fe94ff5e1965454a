// Writing a finished frame: the format follows the extension (.png, .tif,
// .tiff or .exr); the image is written whole or not at all (writeAtomically).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvit::app {

// True for the extensions writeImage accepts, compared without case.
bool isOutputExtension(const std::string& path);

// `rgba` holds width x height pixels of 4 interleaved bytes. EXR files store
// the bytes as half floats 0..1.
void writeImage(const std::string& path, int32_t width, int32_t height,
                const std::vector<uint8_t>& rgba);

} // namespace orvit::app
