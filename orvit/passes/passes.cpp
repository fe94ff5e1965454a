#include "orvit/passes/passes.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/images/image_input.h"
#include "orvit/passes/channels.h"
#include "orvit/passes/pass_reading.h"
#include "orvit/scene/frame_pattern.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orvit::passes {
namespace {

using core::inQuotes;

std::string sizeText(int32_t w, int32_t h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

void checkSize(const OpenPass& pass, const OpenPass& colour) {
    const images::ImageInput& a = *pass.input;
    const images::ImageInput& b = *colour.input;
    if (a.width() != b.width() || a.height() != b.height())
        throw core::AppError(pass.where() + " is " + sizeText(a.width(), a.height()) + " but " +
                             colour.where() + " is " + sizeText(b.width(), b.height()));
}

} // namespace

ColourPlanes readColourPass(const std::string& path, const ColourChannels& channels,
                            const images::ColourTransform& transform) {
    OpenFiles open;
    const OpenPass pass = openPass(passName(PassRole::Colour), path, open);
    const ColourChoice choice = chooseColour(pass, channels);
    FileRead read;
    wantColour(read, pass, choice);
    read.readAll();
    return colourFrom(read, pass, choice, transform);
}

SpecialPlane readSpecialPass(const std::string& path, const std::string& channel,
                             const std::string& cryptomatte,
                             const std::vector<scene::SurfaceEntry>& surfaces) {
    OpenFiles open;
    const OpenPass pass = openPass(passName(PassRole::Special), path, open);
    const SpecialChoice choice = chooseSpecial(pass, channel, cryptomatte);
    FileRead read;
    read.want(pass, choice.channel);
    read.readAll();
    return specialPlane(pass, choice, read.plane(pass, choice.channel), surfaces);
}

DepthPlane readDepthPass(const std::string& path, const std::string& channel, double farFrom) {
    OpenFiles open;
    const OpenPass pass = openPass(passName(PassRole::Depth), path, open);
    const int c = chooseDepth(pass, channel);
    FileRead read;
    read.want(pass, c);
    read.readAll();
    return depthPlane(pass, c, read.plane(pass, c), farFrom);
}

SpecialAndDepth readSpecialAndDepth(const std::string& path, const std::string& specialChannel,
                                    const std::string& depthChannel, double farFrom) {
    OpenFiles open;
    const OpenPass special = openPass(passName(PassRole::Special), path, open);
    const OpenPass depth = openPass(passName(PassRole::Depth), path, open);
    const SpecialChoice s = chooseSpecial(special, specialChannel, "");
    const int d = chooseDepth(depth, depthChannel);
    FileRead read;
    read.want(special, s.channel);
    read.want(depth, d);
    read.readAll();
    return {specialPlane(special, s, read.plane(special, s.channel), {}),
            depthPlane(depth, d, read.plane(depth, d), farFrom)};
}

RankZeroAndDepth readRankZeroAndDepth(const std::string& path, const std::string& layer,
                                      const std::string& depthChannel, double farFrom) {
    OpenFiles open;
    const OpenPass special = openPass(passName(PassRole::Special), path, open);
    std::optional<OpenPass> depth;
    if (!depthChannel.empty())
        depth = openPass(passName(PassRole::Depth), path, open);
    const SpecialChoice s = chooseSpecial(special, "", layer);
    const int d = depth ? chooseDepth(*depth, depthChannel) : -1;
    FileRead read;
    read.want(special, s.channel);
    if (depth)
        read.want(*depth, d);
    read.readAll();
    RankZeroAndDepth out{rankZeroObjects(special.layer(layer),
                                         read.plane(special, s.channel).floats,
                                         special.input->width(), path, special.where()),
                         {}};
    if (depth)
        out.depth = depthPlane(*depth, d, read.plane(*depth, d), farFrom);
    return out;
}

FramePasses readFramePasses(const scene::PassFiles& files, int frame,
                            const images::ColourTransform& transform,
                            const std::vector<scene::SurfaceEntry>& surfaces) {
    OpenFiles open;
    const OpenPass colour =
        openPass(passName(PassRole::Colour), scene::framePath(files.colour, frame), open);
    const OpenPass special =
        openPass(passName(PassRole::Special), scene::framePath(files.special, frame), open);
    checkSize(special, colour);
    std::optional<OpenPass> depth;
    if (!files.depth.empty())
        depth = openPass(passName(PassRole::Depth), scene::framePath(files.depth, frame), open);
    if (depth && files.depthMayBeAbsent && depth->channelCount() > 1 &&
        channelCandidates(PassRole::Depth, depth->channelNames()).empty())
        depth.reset();
    if (depth)
        checkSize(*depth, colour);

    const ColourChoice colourChoice = chooseColour(colour, files.colourChannels);
    const SpecialChoice specialChoice =
        chooseSpecial(special, files.specialChannel, files.cryptomatte);
    const int depthChoice = depth ? chooseDepth(*depth, files.depthChannel) : -1;
    FileRead read;
    wantColour(read, colour, colourChoice);
    read.want(special, specialChoice.channel);
    if (depth)
        read.want(*depth, depthChoice);
    read.readAll();

    FramePasses passes;
    passes.colour = colourFrom(read, colour, colourChoice, transform);
    passes.special =
        specialPlane(special, specialChoice, read.plane(special, specialChoice.channel), surfaces);
    if (depth)
        passes.depth =
            depthPlane(*depth, depthChoice, read.plane(*depth, depthChoice), files.farDepth);
    return passes;
}

} // namespace orvit::passes
