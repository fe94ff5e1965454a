#include "orvit/passes/passes.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/images/image_input.h"
#include "orvit/passes/channels.h"
#include "orvit/scene/frame_pattern.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <system_error>

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

// The special pass's channel: `name`, else -1 for the indices of an indexed
// image, which are its special values (its colours are not), else the one
// recognised, else the file's only channel.
int chooseSpecial(const OpenPass& pass, const std::string& name) {
    if (!name.empty())
        return pass.channel(name);
    if (pass.input->indexed())
        return -1;
    return pass.channelCount() == 1 ? 0 : pass.recognised(PassRole::Special).front();
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

// Integer colour is display-referred already and only scaled to bytes;
// floating colour is linear light and goes through `transform`.
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
        std::vector<float> rgb(n * 3);
        for (int i = 0; i < 3; ++i) {
            const Plane& plane = *planes[i];
            const float scale =
                static_cast<float>(1.0 / unitScale(pass.channelType(choice.channels[i])));
            if (plane.bytes.empty())
                for (size_t p = 0; p < n; ++p)
                    rgb[p * 3 + i] = plane.floats[p] * scale;
            else
                for (size_t p = 0; p < n; ++p)
                    rgb[p * 3 + i] = plane.bytes[p] * (1.0f / 255.0f);
            targets[i]->resize(n);
        }
        transform.toBytes(rgb, out.red.data(), out.green.data(), out.blue.data());
    } else {
        out.colourSpace = kEightBitColourSpace;
        for (int i = 0; i < 3; ++i)
            *targets[i] = unitBytes(pass, choice.channels[i], *planes[i]);
    }
    if (choice.channels[3] >= 0)
        out.alpha = unitBytes(pass, choice.channels[3], *planes[3]);
    else
        out.alpha.assign(n, 255);
    return out;
}

SpecialPlane specialPlane(const OpenPass& pass, int c, const Plane& plane) {
    SpecialPlane out;
    out.width = pass.input->width();
    out.height = pass.input->height();
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
DepthPlane depthPlane(const OpenPass& pass, Plane& plane, double farFrom) {
    DepthPlane out;
    out.width = pass.input->width();
    out.height = pass.input->height();
    out.depths = std::move(plane.floats);
    for (float& d : out.depths)
        if (!(static_cast<double>(d) < farFrom))
            d = kHostFarDepth;
    return out;
}

// Reads what each pass chose of one file, in one decode: `wanted` lists the
// channels (-1 the palette's indices) and gets their planes.
class FileRead {
  public:
    void want(const OpenPass& pass, int channel) {
        auto& list = wanted_[pass.input.get()];
        list.pass = pass;
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
                list.pass.fail(
                    "cannot read channel " +
                    inQuotes(channels.empty() ? "index" : list.pass.channelName(channels[0]),
                             '\'') +
                    (channels.size() > 1 ? " and on" : "") + ": " + e.what());
            }
        }
    }

    Plane& plane(const OpenPass& pass, int channel) {
        return wanted_[pass.input.get()].planes[channel];
    }

  private:
    struct Wanted {
        OpenPass pass;
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

PassHeader readPassHeader(const std::string& role, const std::string& path) {
    OpenFiles open;
    const OpenPass pass = openPass(role, path, open);
    return {pass.input->width(), pass.input->height(), pass.channelNames()};
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

SpecialPlane readSpecialPass(const std::string& path, const std::string& channel) {
    OpenFiles open;
    const OpenPass pass = openPass(passName(PassRole::Special), path, open);
    const int c = chooseSpecial(pass, channel);
    FileRead read;
    read.want(pass, c);
    read.readAll();
    return specialPlane(pass, c, read.plane(pass, c));
}

DepthPlane readDepthPass(const std::string& path, const std::string& channel, double farFrom) {
    OpenFiles open;
    const OpenPass pass = openPass(passName(PassRole::Depth), path, open);
    const int c = chooseDepth(pass, channel);
    FileRead read;
    read.want(pass, c);
    read.readAll();
    return depthPlane(pass, read.plane(pass, c), farFrom);
}

SpecialAndDepth readSpecialAndDepth(const std::string& path, const std::string& specialChannel,
                                    const std::string& depthChannel, double farFrom) {
    OpenFiles open;
    const OpenPass special = openPass(passName(PassRole::Special), path, open);
    const OpenPass depth = openPass(passName(PassRole::Depth), path, open);
    const int s = chooseSpecial(special, specialChannel);
    const int d = chooseDepth(depth, depthChannel);
    FileRead read;
    read.want(special, s);
    read.want(depth, d);
    read.readAll();
    return {specialPlane(special, s, read.plane(special, s)),
            depthPlane(depth, read.plane(depth, d), farFrom)};
}

FramePasses readFramePasses(const PassFiles& files, int frame, const ColourTransform& transform) {
    OpenFiles open;
    const OpenPass colour =
        openPass(passName(PassRole::Colour), framePath(files.colour, frame), open);
    const OpenPass special =
        openPass(passName(PassRole::Special), framePath(files.special, frame), open);
    checkSize(special, colour);
    const OpenPass depth = openPass(passName(PassRole::Depth), framePath(files.depth, frame), open);
    checkSize(depth, colour);

    const ColourChoice colourChoice = chooseColour(colour, files.colourChannels);
    const int specialChoice = chooseSpecial(special, files.specialChannel);
    const int depthChoice = chooseDepth(depth, files.depthChannel);
    FileRead read;
    wantColour(read, colour, colourChoice);
    read.want(special, specialChoice);
    read.want(depth, depthChoice);
    read.readAll();

    FramePasses passes;
    passes.colour = colourFrom(read, colour, colourChoice, transform);
    passes.special = specialPlane(special, specialChoice, read.plane(special, specialChoice));
    passes.depth = depthPlane(depth, read.plane(depth, depthChoice), files.farDepth);
    return passes;
}

} // namespace orvit::app
