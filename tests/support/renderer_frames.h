// Frames as a renderer writes them to one multilayer EXR: colour, depth and
// an object index per view layer, beside passes nobody asked for, with the
// channels in the file's alphabetical order, float colour above 1 and a sky
// at the renderer's "nothing here" depth of 1e10.
#pragma once

#include "tests/support/image_files.h"

#include <string>
#include <vector>

namespace testsupport {

// A box of one object index, at one depth.
struct RenderedBox {
    int index;
    int x0, y0, x1, y1; // inclusive-exclusive
    double depth;
};

constexpr double kSkyDepth = 1e10;
constexpr double kSkyRed = 0.2, kSkyGreen = 0.3, kSkyBlue = 0.5; // linear light
constexpr double kBoxRed = 4.0, kBoxGreen = 0.5, kBoxBlue = 0.0031308;

// The frame's channels, in the file's order.
inline std::vector<Channel> rendererChannels(int width, int height,
                                             const std::vector<RenderedBox>& boxes) {
    const auto f32 = OIIO::TypeDesc::FLOAT;
    const auto f16 = OIIO::TypeDesc::HALF;
    std::vector<Channel> c = {
        {"ViewLayer.Combined.A", f16, {}}, {"ViewLayer.Combined.B", f16, {}},
        {"ViewLayer.Combined.G", f16, {}}, {"ViewLayer.Combined.R", f16, {}},
        {"ViewLayer.Depth.Z", f32, {}},    {"ViewLayer.DiffCol.B", f16, {}},
        {"ViewLayer.DiffCol.G", f16, {}},  {"ViewLayer.DiffCol.R", f16, {}},
        {"ViewLayer.IndexOB.X", f32, {}},  {"ViewLayer.Normal.X", f32, {}},
        {"ViewLayer.Normal.Y", f32, {}},   {"ViewLayer.Normal.Z", f32, {}},
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const RenderedBox* hit = nullptr;
            for (const RenderedBox& b : boxes)
                if (x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1)
                    hit = &b;
            const double values[] = {1.0,
                                     hit ? kBoxBlue : kSkyBlue,
                                     hit ? kBoxGreen : kSkyGreen,
                                     hit ? kBoxRed : kSkyRed,
                                     hit ? hit->depth : kSkyDepth,
                                     0.9,
                                     0.8,
                                     0.7,
                                     hit ? static_cast<double>(hit->index) : 0.0,
                                     0.0,
                                     0.0,
                                     1.0};
            for (size_t i = 0; i < c.size(); ++i)
                c[i].values.push_back(values[i]);
        }
    return c;
}

inline void writeRendererFrame(const std::string& path, int width, int height,
                               const std::vector<RenderedBox>& boxes) {
    writeChannels(path, width, height, rendererChannels(width, height, boxes));
}

} // namespace testsupport
