// Frame passes read from image files: colour, special and depth planes of one
// frame, row-major, one element per pixel.
#pragma once

#include "module/abi/frame_access.h"
#include "orvit/images/colour_transform.h"
#include "orvit/passes/cryptomatte.h"
#include "orvit/passes/pass_header.h"
#include "orvit/scene/scene_file.h"

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace orvit::passes {

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
    // From a Cryptomatte: its layer, and the ids of the surfaces whose
    // objects some pixel's rank 0 holds.
    std::string cryptomatte;
    std::set<uint32_t> surfaceIdsHeld;
};

struct DepthPlane {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<float> depths;
};

// Names of the colour channels to read; an empty list takes the channels
// recognised as colour (channels.h), or the one channel of a grey file.
// Three names read no alpha; a fourth names the alpha channel.
using ColourChannels = std::vector<std::string>;

// 8-bit channels are taken as they are, other integer channels scaled to 8
// bits; floating colour channels (linear light) become bytes through
// `transform`, and alpha is clamped to 0..1 and rounded to 8 bits. Without
// alpha every pixel gets 255.
ColourPlanes readColourPass(const std::string& path, const ColourChannels& channels,
                            const images::ColourTransform& transform = images::ColourTransform());

// One channel rounded to a byte: integer channels by value, floating ones
// rounded to nearest; a value outside 0..255 or not a number is refused. Or,
// from a Cryptomatte, the value of the surface named as a pixel's rank-0
// object, 0 where it is empty or names none of `surfaces`. The source is
// found by findSpecialSource (special_source.h).
SpecialPlane readSpecialPass(const std::string& path, const std::string& channel,
                             const std::string& cryptomatte = {},
                             const std::vector<scene::SurfaceEntry>& surfaces = {});

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

// The rank-0 objects of Cryptomatte `layer` in `path` (cryptomatte.h:
// rankZeroObjects), with the depth pass in the same decode when
// `depthChannel` names one: orvit init's reading of a frame.
struct RankZeroAndDepth : RankZeroObjects {
    DepthPlane depth; // empty without a depth channel
};
RankZeroAndDepth readRankZeroAndDepth(const std::string& path, const std::string& layer,
                                      const std::string& depthChannel, double farFrom);

// The passes of frame `frame`, read as the functions above read them, after
// checking that the special and depth passes are the colour pass's size. A
// file that holds several passes is opened and decoded once. The depth is
// left empty (0 x 0) when the scene has none, or `files` allows it absent
// and the frame's file has no depth channel.
struct FramePasses {
    ColourPlanes colour;
    SpecialPlane special;
    DepthPlane depth;
};
FramePasses readFramePasses(const scene::PassFiles& files, int frame,
                            const images::ColourTransform& transform,
                            const std::vector<scene::SurfaceEntry>& surfaces = {});

} // namespace orvit::passes
