// Frame passes read from image files: colour, special and depth planes of one
// frame, row-major, one element per pixel.
#pragma once

#include "module/abi/frame_access.h"
#include "orvit/images/colour_transform.h"
#include "orvit/scene/scene_file.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvit::app {

struct ColourPlanes {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> red, green, blue, alpha;
    std::string colourSpace; // of the bytes: the transform's, or 8-bit's
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

// A pass file's size and channel names, in the order the reader keeps them.
struct PassHeader {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<std::string> channels;
};
PassHeader readPassHeader(const std::string& role, const std::string& path);

// Names of the colour channels to read; an empty list takes the channels
// recognised as colour (channels.h), or the one channel of a grey file.
// Three names read no alpha; a fourth names the alpha channel.
using ColourChannels = std::vector<std::string>;

// 8-bit channels are taken as they are, other integer channels scaled to 8
// bits; floating colour channels (linear light) become bytes through
// `transform`, and alpha is clamped to 0..1 and rounded to 8 bits. Without
// alpha every pixel gets 255.
ColourPlanes readColourPass(const std::string& path, const ColourChannels& channels,
                            const ColourTransform& transform = ColourTransform());

// One channel rounded to a byte: integer channels by value, floating ones
// rounded to nearest; a value outside 0..255 or not a number is refused. The
// channel is `channel`, else an indexed (palette) image's indices, else the
// channel recognised as an object index, else the file's only channel.
SpecialPlane readSpecialPass(const std::string& path, const std::string& channel);

// One floating-point channel: `channel`, else the one recognised as depth,
// else the file's only channel. Depths at or beyond `farFrom`, and those
// that are not numbers, become the host's far depth.
DepthPlane readDepthPass(const std::string& path, const std::string& channel, double farFrom);

// The special and depth passes held by one file, as the functions above read
// them, in one decode.
struct SpecialAndDepth {
    SpecialPlane special;
    DepthPlane depth;
};
SpecialAndDepth readSpecialAndDepth(const std::string& path, const std::string& specialChannel,
                                    const std::string& depthChannel, double farFrom);

// The three passes of frame `frame`, read as the functions above read them,
// after checking that the special and depth passes are the colour pass's
// size. A file that holds several passes is opened and decoded once.
struct FramePasses {
    ColourPlanes colour;
    SpecialPlane special;
    DepthPlane depth;
};
FramePasses readFramePasses(const PassFiles& files, int frame, const ColourTransform& transform);

} // namespace orvit::app
