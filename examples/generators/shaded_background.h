// The background of the generated timing frames: opaque, shaded from a dark
// top to a lighter bottom, as a rendered sky might be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline void paintShadedBackground(std::vector<uint8_t>& rgba, int width, int height) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            rgba[i * 4] = static_cast<uint8_t>(20 + y * 60 / height);
            rgba[i * 4 + 1] = static_cast<uint8_t>(25 + y * 70 / height);
            rgba[i * 4 + 2] = static_cast<uint8_t>(60 + y * 90 / height);
            rgba[i * 4 + 3] = 255;
        }
}
