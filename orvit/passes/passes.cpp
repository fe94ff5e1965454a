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

std::vector<const CryptomatteLayer*>
unnamedCandidates(const std::vector<CryptomatteLayer>& layers) {
    std::vector<const CryptomatteLayer*> objects, all;
    for (const CryptomatteLayer& layer : layers) {
        all.push_back(&layer);
        if (isObjectLayer(layer.name))
            objects.push_back(&layer);
    }
    return objects.empty() ? all : objects;
}

PassHeader readPassHeader(const std::string& role, const std::string& path) {
    OpenFiles open;
    return openPass(role, path, open).header();
}

SpecialSource findSpecialSource(const PassHeader& header, const std::string& channel,
                                const std::string& cryptomatte, const std::string& where,
                                const std::string& pickChannel, const std::string& pickLayer) {
    const auto fail = [&](const std::string& what) { throw core::AppError(where + ": " + what); };
    if (!channel.empty()) {
        const std::string missing = missingChannel(channel, header.channels);
        if (!missing.empty())
            fail(missing);
        return {channel, "", false};
    }
    const std::vector<CryptomatteLayer> layers =
        cryptomatteLayers(header.attributes, header.channels);
    const auto layerNamed = [&](const CryptomatteLayer& layer) {
        if (!layer.problem.empty())
            fail("Cryptomatte " + core::inQuotes(layer.name, '\'') + ": " + layer.problem);
        return SpecialSource{"", layer.name, false};
    };
    const std::string declared = core::joined(
        layers, [](const CryptomatteLayer& layer) { return core::inQuotes(layer.name, '\''); });
    if (!cryptomatte.empty()) {
        for (const CryptomatteLayer& layer : layers)
            if (layer.name == cryptomatte)
                return layerNamed(layer);
        fail("no Cryptomatte " + core::inQuotes(cryptomatte, '\'') + " (" +
             (declared.empty() ? "the file declares none" : "the file has " + declared) + ")");
    }
    if (header.indexed)
        return {"", "", true};
    if (header.channels.size() == 1)
        return {header.channels.front(), "", false};
    if (!channelCandidates(PassRole::Special, header.channels).empty())
        return {recogniseChannels(PassRole::Special, header.channels, where, pickChannel).front(),
                "", false};
    const std::vector<const CryptomatteLayer*> candidates = unnamedCandidates(layers);
    if (candidates.size() == 1)
        return layerNamed(*candidates.front());
    if (candidates.size() > 1)
        fail(std::to_string(candidates.size()) + " Cryptomatte " +
             (isObjectLayer(candidates.front()->name) ? "object layers" : "layers") +
             " could be the special pass (" + declared + "); pick with " + pickLayer);
    const std::vector<std::string> undeclared = undeclaredCryptomatte(header.channels);
    if (!undeclared.empty())
        fail("channel " + core::inQuotes(undeclared.front(), '\'') +
             " looks like a Cryptomatte's, but no metadata cryptomatte/KEY/name declares it "
             "(lost when a frame is saved from a frame buffer or by a tool that drops the "
             "header); pick an object index with " +
             pickChannel);
    return {
        recogniseChannels(PassRole::Special, header.channels, where,
                          pickChannel + (declared.empty() ? ""
                                                          : ", or a Cryptomatte (the file has " +
                                                                declared + ") with " + pickLayer))
            .front(),
        "", false};
}

int cryptomatteFile(const std::vector<PassHeader>& headers,
                    const std::vector<PassFileChannels>& files, const std::string& layer) {
    const bool indexChannel =
        std::any_of(files.begin(), files.end(), [](const PassFileChannels& f) {
            return !channelCandidates(PassRole::Special, f.channels).empty();
        });
    if (layer.empty() && indexChannel)
        return -1;
    std::vector<int> offers;
    std::vector<bool> objects; // each file's candidates are object layers
    for (size_t i = 0; i < headers.size(); ++i) {
        const std::vector<CryptomatteLayer> layers =
            cryptomatteLayers(headers[i].attributes, headers[i].channels);
        const std::vector<const CryptomatteLayer*> candidates = unnamedCandidates(layers);
        const bool offered =
            layer.empty() ? !candidates.empty()
                          : std::any_of(layers.begin(), layers.end(),
                                        [&](const CryptomatteLayer& l) { return l.name == layer; });
        if (offered)
            offers.push_back(static_cast<int>(i));
        objects.push_back(!candidates.empty() && isObjectLayer(candidates.front()->name));
    }
    // Files that declare an object layer come before those that declare
    // others only.
    if (layer.empty() && std::count(objects.begin(), objects.end(), true) > 0)
        offers.erase(
            std::remove_if(offers.begin(), offers.end(), [&](int i) { return !objects[i]; }),
            offers.end());
    const std::string what = !layer.empty() ? "the Cryptomatte " + core::inQuotes(layer, '\'')
                             : offers.size() > 1 && objects[offers[0]]
                                 ? "a Cryptomatte object layer"
                                 : "a Cryptomatte";
    if (offers.size() > 1)
        throw core::AppError("special pass: both " + files[offers[0]].where + " and " +
                             files[offers[1]].where + " declare " + what + "; leave one file out" +
                             (layer.empty() ? ", or pick with --cryptomatte NAME" : ""));
    if (offers.empty() && !layer.empty())
        throw core::AppError("--cryptomatte " + core::inQuotes(layer, '\'') +
                             ": no file declares that Cryptomatte");
    return offers.empty() ? -1 : offers[0];
}

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
    RankZeroAndDepth out;
    // The ids are the objects: a manifest only names them, and one that
    // cannot be read leaves them unnamed. One that names an object twice
    // would name two objects alike.
    try {
        out.names =
            layerNames(special.layer(layer), std::filesystem::path(path).parent_path().string());
    } catch (const core::AppError& e) {
        out.manifestProblem = special.where() + ": " + e.what();
    }
    std::set<std::string> named;
    for (const auto& entry : out.names)
        if (!named.insert(entry.first).second)
            special.fail("the manifest of Cryptomatte " + core::inQuotes(layer, '\'') + " names " +
                         core::inQuotes(entry.first, '\'') + " twice");
    FileRead read;
    read.want(special, s.channel);
    if (depth)
        read.want(*depth, d);
    read.readAll();
    const std::vector<float>& ids = read.plane(special, s.channel).floats;
    out.ids.resize(ids.size());
    std::transform(ids.begin(), ids.end(), out.ids.begin(), idBits);
    out.width = special.input->width();
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

void addRankZeroObjects(const RankZeroAndDepth& passes, scene::HeldObjects& held) {
    std::unordered_map<uint32_t, const std::string*> named;
    for (const auto& [name, id] : passes.names)
        named.emplace(id, &name);
    uint32_t last = 0;
    for (const uint32_t id : passes.ids) {
        if (id == 0 || id == last)
            continue;
        last = id;
        const auto found = named.find(id);
        std::string& name = held[id];
        if (name.empty() && found != named.end())
            name = *found->second;
    }
}

std::vector<std::string> namesNotHashed(const CryptomatteNames& names) {
    std::vector<std::string> differ;
    for (const auto& [name, id] : names)
        if (id != cryptomatteId(name))
            differ.push_back(name);
    return differ;
}

} // namespace orvit::passes
