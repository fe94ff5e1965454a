#include "orvit/passes/passes.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/images/image_input.h"
#include "orvit/passes/channels.h"
#include "orvit/scene/frame_pattern.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <system_error>
#include <unordered_map>

namespace orvit::app {
namespace {

using standin::inQuotes;

std::string sizeText(int32_t w, int32_t h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

// A pass's file, opened, with its header read. Passes that name the same
// file share one opened image.
struct OpenPass {
    std::string role; // "colour pass", ...
    std::string path;
    std::shared_ptr<ImageInput> input;

    std::string where() const { return role + " " + inQuotes(path, '\''); }
    [[noreturn]] void fail(const std::string& what) const { throw AppError(where() + ": " + what); }

    const std::string& channelName(int c) const { return input->channels()[c].name; }
    SampleType channelType(int c) const { return input->channels()[c].type; }
    int channelCount() const { return static_cast<int>(input->channels().size()); }

    std::vector<std::string> channelNames() const {
        std::vector<std::string> names;
        for (const ImageChannel& c : input->channels())
            names.push_back(c.name);
        return names;
    }

    PassHeader header() const {
        return {input->width(), input->height(), channelNames(), input->textAttributes(),
                input->indexed()};
    }

    // The Cryptomatte layer whose type name is `name`, readable.
    CryptomatteLayer layer(const std::string& name) const {
        for (CryptomatteLayer& layer : cryptomatteLayers(input->textAttributes(), channelNames()))
            if (layer.name == name)
                return layer;
        fail("no Cryptomatte " + inQuotes(name, '\''));
    }

    // The channel named `name`; a failure naming the file's channels if none.
    int channel(const std::string& name) const {
        const int c = input->channelNamed(name);
        if (c < 0)
            fail(missingChannel(name, channelNames()));
        return c;
    }

    // The one channel recognised for `pass` among several; a failure listing
    // the file's channels when there is none or more than one.
    std::vector<int> recognised(PassRole pass) const {
        std::vector<int> chosen;
        for (const std::string& name :
             recogniseChannels(pass, channelNames(), where(), channelKey(pass)))
            chosen.push_back(channel(name));
        return chosen;
    }
};

using OpenFiles = std::map<std::string, std::shared_ptr<ImageInput>>;

OpenPass openPass(const std::string& role, const std::string& path, OpenFiles& open) {
    OpenPass pass{role, path, nullptr};
    auto known = open.find(path);
    if (known != open.end()) {
        pass.input = known->second;
        return pass;
    }
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        pass.fail("no such file");
    try {
        pass.input = openImage(path);
    } catch (const ImageError& e) {
        pass.fail(std::string("cannot read: ") + e.what());
    }
    open[path] = pass.input;
    return pass;
}

// The channels a pass reads, chosen from the file's header.
struct ColourChoice {
    std::array<int, 4> channels; // red, green, blue, alpha (-1: none)
};

// The colour channels: those named, else those recognised, else the one
// channel of a grey file. Never a channel merely for its place in the file.
ColourChoice chooseColour(const OpenPass& pass, const ColourChannels& names) {
    ColourChoice choice{{-1, -1, -1, -1}};
    if (!names.empty() && !takesColourChannels(names.size()))
        pass.fail("colour channels must be 3 or 4 names");
    std::vector<int> chosen;
    if (!names.empty()) {
        for (const std::string& name : names)
            chosen.push_back(pass.channel(name));
    } else if (pass.channelCount() == 1) {
        chosen = {0, 0, 0}; // grey
    } else {
        chosen = pass.recognised(PassRole::Colour);
    }
    std::copy(chosen.begin(), chosen.end(), choice.channels.begin());
    return choice;
}

// The special pass's channel (-1: an indexed image's indices, which are its
// special values; its colours are not) and, for a Cryptomatte, its layer,
// whose rank-0 id channel is the channel.
struct SpecialChoice {
    int channel = -1;
    std::string layer;
};

SpecialChoice chooseSpecial(const OpenPass& pass, const std::string& name,
                            const std::string& cryptomatte) {
    const SpecialSource source =
        findSpecialSource(pass.header(), name, cryptomatte, pass.where(),
                          channelKey(PassRole::Special), "passes.cryptomatte");
    if (source.indices)
        return {};
    if (source.cryptomatte.empty())
        return {pass.channel(source.channel), ""};
    const int c = pass.channel(pass.layer(source.cryptomatte).levels[0][0]);
    if (pass.channelType(c) != SampleType::Float)
        pass.fail("channel " + inQuotes(pass.channelName(c), '\'') + " of Cryptomatte " +
                  inQuotes(source.cryptomatte, '\'') + " has type " +
                  sampleTypeName(pass.channelType(c)) + "; its ids must be 32-bit float");
    return {c, source.cryptomatte};
}

// The depth pass's channel: `name`, else the one recognised, else the
// file's only channel.
int chooseDepth(const OpenPass& pass, const std::string& name) {
    const int c = !name.empty()              ? pass.channel(name)
                  : pass.channelCount() == 1 ? 0
                                             : pass.recognised(PassRole::Depth).front();
    if (!isFloating(pass.channelType(c)))
        pass.fail("channel " + inQuotes(pass.channelName(c), '\'') + " has type " +
                  sampleTypeName(pass.channelType(c)) + "; depth must be floating point");
    return c;
}

// An integer channel's samples scaled to 0..1 (floating ones as they are),
// clamped and rounded to bytes; 8-bit ones as they are.
std::vector<uint8_t> unitBytes(const OpenPass& pass, int c, const Plane& plane) {
    if (!plane.bytes.empty())
        return plane.bytes;
    const float scale = static_cast<float>(1.0 / unitScale(pass.channelType(c)));
    std::vector<uint8_t> out(plane.floats.size());
    for (size_t p = 0; p < out.size(); ++p)
        out[p] = unitToByte(scale == 1.0f ? plane.floats[p] : plane.floats[p] * scale);
    return out;
}

// Samples `first` to `first + count` of a channel as floats of 0..1 for
// integer types (floating ones as they are) into every `stride`-th element of
// `to`.
void unitFloats(const OpenPass& pass, int c, const Plane& plane, size_t first, size_t count,
                float* to, size_t stride) {
    const float scale = static_cast<float>(1.0 / unitScale(pass.channelType(c)));
    if (plane.bytes.empty())
        for (size_t p = 0; p < count; ++p)
            to[p * stride] = plane.floats[first + p] * scale;
    else
        for (size_t p = 0; p < count; ++p)
            to[p * stride] = plane.bytes[first + p] * (1.0f / 255.0f);
}

// Rows of float colour made into bytes at a time: the transform's
// interleaved copy stays a band, not a second frame beside the planes read.
constexpr size_t kColourBandRows = 64;

// `value` over the pixels of `window` in a plane `width` pixels wide.
void fillWindow(std::vector<uint8_t>& plane, int32_t width, const PixelWindow& window,
                uint8_t value) {
    for (int32_t y = window.y0; y < window.y1; ++y)
        std::fill_n(plane.data() + size_t(y) * width + window.x0, window.x1 - window.x0, value);
}

// Integer colour is display-referred already and only scaled to bytes;
// floating colour is linear light, premultiplied by its alpha, and goes
// through `transform`.
ColourPlanes colourPlanes(const OpenPass& pass, const ColourChoice& choice,
                          const std::array<const Plane*, 4>& planes,
                          const ColourTransform& transform) {
    ColourPlanes out;
    out.width = pass.input->width();
    out.height = pass.input->height();
    const size_t n = pass.input->pixelCount();
    bool floating = false;
    for (int i = 0; i < 3; ++i)
        floating = floating || isFloating(pass.channelType(choice.channels[i]));
    std::vector<uint8_t>* const targets[3] = {&out.red, &out.green, &out.blue};
    if (floating) {
        out.colourSpace = transform.colourSpace();
        for (std::vector<uint8_t>* target : targets)
            target->resize(n);
        const bool withAlpha = choice.channels[3] >= 0;
        const size_t band = kColourBandRows * std::max<size_t>(size_t(out.width), 1);
        std::vector<float> rgb, alpha;
        for (size_t first = 0; first < n; first += band) {
            const size_t count = std::min(band, n - first);
            rgb.resize(count * 3);
            for (int i = 0; i < 3; ++i)
                unitFloats(pass, choice.channels[i], *planes[i], first, count, rgb.data() + i, 3);
            if (withAlpha) {
                alpha.resize(count);
                unitFloats(pass, choice.channels[3], *planes[3], first, count, alpha.data(), 1);
            }
            transform.toBytes(rgb, withAlpha ? alpha.data() : nullptr, out.red.data() + first,
                              out.green.data() + first, out.blue.data() + first);
        }
    } else {
        out.colourSpace = kEightBitColourSpace;
        for (int i = 0; i < 3; ++i)
            *targets[i] = unitBytes(pass, choice.channels[i], *planes[i]);
    }
    if (choice.channels[3] >= 0) {
        out.alpha = unitBytes(pass, choice.channels[3], *planes[3]);
    } else {
        // Without alpha the stored pixels are opaque and the rest empty.
        out.alpha.assign(n, 0);
        fillWindow(out.alpha, out.width, pass.input->covered(choice.channels[0]), uint8_t{255});
    }
    return out;
}

// A Cryptomatte's surfaces by their ids.
std::unordered_map<uint32_t, uint8_t> surfaceIds(const std::vector<SurfaceEntry>& surfaces) {
    std::unordered_map<uint32_t, uint8_t> values;
    for (const SurfaceEntry& surface : surfaces)
        values.emplace(surfaceId(surface), static_cast<uint8_t>(surface.special));
    return values;
}

SpecialPlane specialPlane(const OpenPass& pass, const SpecialChoice& choice, const Plane& plane,
                          const std::vector<SurfaceEntry>& surfaces) {
    const int c = choice.channel;
    SpecialPlane out;
    out.width = pass.input->width();
    out.height = pass.input->height();
    if (!choice.layer.empty()) {
        out.cryptomatte = choice.layer;
        out.values = rankZeroValues(plane.floats, surfaceIds(surfaces), &out.surfaceIdsHeld);
        return out;
    }
    if (!plane.bytes.empty()) {
        out.values = plane.bytes;
        return out;
    }
    // Every other type arrives as a float of the stored value, exactly
    // enough to tell 0..255 from the rest.
    out.values.assign(plane.floats.size(), 0);
    for (size_t i = 0; i < plane.floats.size(); ++i) {
        const double value = plane.floats[i];
        const double rounded = std::round(value);
        if (!(rounded >= 0.0 && rounded <= 255.0)) {
            std::ostringstream line;
            line << "channel " << inQuotes(pass.channelName(c), '\'') << " holds " << value
                 << " at pixel (" << i % out.width << ", " << i / out.width
                 << "), outside the special values 0..255";
            pass.fail(line.str());
        }
        out.values[i] = static_cast<uint8_t>(rounded);
    }
    return out;
}

// Takes the plane's floats: the depth is the last pass made from a read.
DepthPlane depthPlane(const OpenPass& pass, int c, Plane& plane, double farFrom) {
    DepthPlane out;
    out.width = pass.input->width();
    out.height = pass.input->height();
    out.depths = std::move(plane.floats);
    // Where the file stores no depth nothing is near.
    const PixelWindow in = pass.input->covered(c);
    for (int32_t y = 0; y < out.height; ++y)
        for (int32_t x = 0; x < out.width; ++x) {
            float& d = out.depths[size_t(y) * size_t(out.width) + size_t(x)];
            const bool stored = x >= in.x0 && x < in.x1 && y >= in.y0 && y < in.y1;
            if (!stored || !(static_cast<double>(d) < farFrom))
                d = kHostFarDepth;
        }
    return out;
}

// Reads what each pass chose of one file, in one decode: `wanted` lists the
// channels (-1 the palette's indices) and gets their planes.
class FileRead {
  public:
    void want(const OpenPass& pass, int channel) {
        auto& list = wanted_[pass.input.get()];
        if (std::find(list.roles.begin(), list.roles.end(), pass.role) == list.roles.end())
            list.roles.push_back(pass.role);
        list.path = pass.path;
        if (std::find(list.channels.begin(), list.channels.end(), channel) == list.channels.end())
            list.channels.push_back(channel);
    }

    void readAll() {
        for (auto& [input, list] : wanted_) {
            std::vector<int> channels;
            for (int c : list.channels)
                if (c >= 0)
                    channels.push_back(c);
            try {
                const bool indices = channels.size() < list.channels.size();
                std::vector<Plane> planes =
                    input->read(channels, indices ? &list.planes[-1].bytes : nullptr);
                for (size_t i = 0; i < channels.size(); ++i)
                    list.planes[channels[i]] = std::move(planes[i]);
            } catch (const ImageError& e) {
                // The file is damaged (cut short, say) for every pass it holds.
                std::string roles = list.roles.front();
                for (size_t i = 1; i < list.roles.size(); ++i)
                    roles += (i + 1 < list.roles.size() ? ", " : " and ") + list.roles[i];
                throw AppError(roles + " " + inQuotes(list.path, '\'') +
                               ": cannot read the pixels: " + e.what());
            }
        }
    }

    Plane& plane(const OpenPass& pass, int channel) {
        return wanted_[pass.input.get()].planes[channel];
    }

  private:
    struct Wanted {
        std::vector<std::string> roles; // "colour pass", ... each once
        std::string path;
        std::vector<int> channels;
        std::map<int, Plane> planes;
    };
    std::map<ImageInput*, Wanted> wanted_;
};

// The colour channels `choice` names, asked of `read` before it reads...
void wantColour(FileRead& read, const OpenPass& pass, const ColourChoice& choice) {
    for (int c : choice.channels)
        if (c >= 0)
            read.want(pass, c);
}

// ... and made into the frame's colour planes after.
ColourPlanes colourFrom(FileRead& read, const OpenPass& pass, const ColourChoice& choice,
                        const ColourTransform& transform) {
    std::array<const Plane*, 4> planes{};
    for (int i = 0; i < 4; ++i)
        if (choice.channels[i] >= 0)
            planes[i] = &read.plane(pass, choice.channels[i]);
    return colourPlanes(pass, choice, planes, transform);
}

void checkSize(const OpenPass& pass, const OpenPass& colour) {
    const ImageInput& a = *pass.input;
    const ImageInput& b = *colour.input;
    if (a.width() != b.width() || a.height() != b.height())
        throw AppError(pass.where() + " is " + sizeText(a.width(), a.height()) + " but " +
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
    const auto fail = [&](const std::string& what) { throw AppError(where + ": " + what); };
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
            fail("Cryptomatte " + inQuotes(layer.name, '\'') + ": " + layer.problem);
        return SpecialSource{"", layer.name, false};
    };
    const std::string declared = standin::joined(
        layers, [](const CryptomatteLayer& layer) { return inQuotes(layer.name, '\''); });
    if (!cryptomatte.empty()) {
        for (const CryptomatteLayer& layer : layers)
            if (layer.name == cryptomatte)
                return layerNamed(layer);
        fail("no Cryptomatte " + inQuotes(cryptomatte, '\'') + " (" +
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
        fail("channel " + inQuotes(undeclared.front(), '\'') +
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
    const std::string what = !layer.empty() ? "the Cryptomatte " + inQuotes(layer, '\'')
                             : offers.size() > 1 && objects[offers[0]]
                                 ? "a Cryptomatte object layer"
                                 : "a Cryptomatte";
    if (offers.size() > 1)
        throw AppError("special pass: both " + files[offers[0]].where + " and " +
                       files[offers[1]].where + " declare " + what + "; leave one file out" +
                       (layer.empty() ? ", or pick with --cryptomatte NAME" : ""));
    if (offers.empty() && !layer.empty())
        throw AppError("--cryptomatte " + inQuotes(layer, '\'') +
                       ": no file declares that Cryptomatte");
    return offers.empty() ? -1 : offers[0];
}

ColourPlanes readColourPass(const std::string& path, const ColourChannels& channels,
                            const ColourTransform& transform) {
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
                             const std::vector<SurfaceEntry>& surfaces) {
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
    } catch (const AppError& e) {
        out.manifestProblem = special.where() + ": " + e.what();
    }
    std::set<std::string> named;
    for (const auto& entry : out.names)
        if (!named.insert(entry.first).second)
            special.fail("the manifest of Cryptomatte " + inQuotes(layer, '\'') + " names " +
                         inQuotes(entry.first, '\'') + " twice");
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

FramePasses readFramePasses(const PassFiles& files, int frame, const ColourTransform& transform,
                            const std::vector<SurfaceEntry>& surfaces) {
    OpenFiles open;
    const OpenPass colour =
        openPass(passName(PassRole::Colour), framePath(files.colour, frame), open);
    const OpenPass special =
        openPass(passName(PassRole::Special), framePath(files.special, frame), open);
    checkSize(special, colour);
    std::optional<OpenPass> depth;
    if (!files.depth.empty())
        depth = openPass(passName(PassRole::Depth), framePath(files.depth, frame), open);
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

void addRankZeroObjects(const RankZeroAndDepth& passes, HeldObjects& held) {
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

} // namespace orvit::app
