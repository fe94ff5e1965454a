#include "orvit/images/picture_output.h"

#include "orvit/images/image_output.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace orvit::images {

void writePicture(const std::string& path, const panel::Picture& picture) {
    const size_t pixels = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height);
    std::vector<uint8_t> rgba(pixels * 4, 255);
    const size_t painted = std::min(pixels, picture.rgb.size() / 3);
    for (size_t i = 0; i < painted; ++i)
        std::copy_n(&picture.rgb[i * 3], 3, &rgba[i * 4]);
    writeImage(path, picture.width, picture.height, rgba);
}

} // namespace orvit::images
