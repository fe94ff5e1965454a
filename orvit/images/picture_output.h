// A panel's picture (the preview area, a window's capture) written as an
// opaque image file.
#pragma once

#include "orvit/panel/preview_picture.h"

#include <string>

namespace orvit::images {

// The picture through the output writer (its format follows the extension);
// pixels past the end of a short picture are white.
void writePicture(const std::string& path, const panel::Picture& picture);

} // namespace orvit::images
