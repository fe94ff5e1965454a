// Frame passes read from image files: colour, special and depth planes of one
// frame, row-major, one element per pixel.
#pragma once

#include "host/frame_access.h"
#include "standin/app/scene_file.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvit::app {

struct ColourPlanes {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> red, green, blue, alpha;
};

struct SpecialPlane {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> values;
};

struct DepthPlane {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<float> depths;
};

// Names of the colour channels to read; an empty list picks "R", "G", "B"
// (and "A" when present) by name, else the first channels of the file. Three
// names read no alpha; a fourth names the alpha channel.
using ColourChannels = std::vector<std::string>;

// 8-bit channels are taken as they are; other channels are read as floats,
// clamped to 0..1 and rounded to 8 bits. One or two channels are grey (and
// alpha). Without alpha every pixel gets 255.
ColourPlanes readColourPass(const std::string& path, const ColourChannels& channels);

// One channel (`channel`, or the first when empty) rounded to a byte: integer
// channels by value, floating ones rounded to nearest. A value outside 0..255
// or not a number is refused. An indexed (palette) image without `channel`
// gives its indices.
SpecialPlane readSpecialPass(const std::string& path, const std::string& channel);

// One floating-point channel (`channel`, else "Z" when present, else the
// first). Depths at or beyond `farFrom`, and those that are not numbers,
// become the host's far depth.
DepthPlane readDepthPass(const std::string& path, const std::string& channel, double farFrom);

// The three passes of frame `frame`, read as the functions above read them,
// after checking that the special and depth passes are the colour pass's
// size. A file that holds several passes is opened and decoded once.
struct FramePasses {
    ColourPlanes colour;
    SpecialPlane special;
    DepthPlane depth;
};
FramePasses readFramePasses(const PassFiles& files, int frame);

} // namespace orvit::app
