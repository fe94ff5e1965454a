// The steps of reading a frame's passes that passes.cpp, pass_choice.cpp and
// pass_planes.cpp share: a pass's opened file, the channels chosen from its
// header, and the one decode of each file.
#pragma once

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/images/image_input.h"
#include "orvit/passes/channels.h"
#include "orvit/passes/passes.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvit::passes {

// A pass's file, opened, with its header read. Passes that name the same
// file share one opened image.
struct OpenPass {
    std::string role; // "colour pass", ...
    std::string path;
    std::shared_ptr<images::ImageInput> input;

    std::string where() const { return role + " " + core::inQuotes(path, '\''); }
    [[noreturn]] void fail(const std::string& what) const {
        throw core::AppError(where() + ": " + what);
    }

    const std::string& channelName(int c) const { return input->channels()[c].name; }
    images::SampleType channelType(int c) const { return input->channels()[c].type; }
    int channelCount() const { return static_cast<int>(input->channels().size()); }

    std::vector<std::string> channelNames() const {
        std::vector<std::string> names;
        for (const images::ImageChannel& c : input->channels())
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
        fail("no Cryptomatte " + core::inQuotes(name, '\''));
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

using OpenFiles = std::map<std::string, std::shared_ptr<images::ImageInput>>;

OpenPass openPass(const std::string& role, const std::string& path, OpenFiles& open);

// The channels a pass reads, chosen from the file's header.
struct ColourChoice {
    std::array<int, 4> channels; // red, green, blue, alpha (-1: none)
};

// The special pass's channel (-1: an indexed image's indices, which are its
// special values; its colours are not) and, for a Cryptomatte, its layer,
// whose rank-0 id channel is the channel.
struct SpecialChoice {
    int channel = -1;
    std::string layer;
};

// The colour channels: those named, else those recognised, else the one
// channel of a grey file. Never a channel merely for its place in the file.
ColourChoice chooseColour(const OpenPass& pass, const ColourChannels& names);

SpecialChoice chooseSpecial(const OpenPass& pass, const std::string& name,
                            const std::string& cryptomatte);

// The depth pass's channel: `name`, else the one recognised, else the
// file's only channel.
int chooseDepth(const OpenPass& pass, const std::string& name);

SpecialPlane specialPlane(const OpenPass& pass, const SpecialChoice& choice,
                          const images::Plane& plane,
                          const std::vector<scene::SurfaceEntry>& surfaces);

// Takes the plane's floats: the depth is the last pass made from a read.
DepthPlane depthPlane(const OpenPass& pass, int c, images::Plane& plane, double farFrom);

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
                std::vector<images::Plane> planes =
                    input->read(channels, indices ? &list.planes[-1].bytes : nullptr);
                for (size_t i = 0; i < channels.size(); ++i)
                    list.planes[channels[i]] = std::move(planes[i]);
            } catch (const images::ImageError& e) {
                // The file is damaged (cut short, say) for every pass it holds.
                std::string roles = list.roles.front();
                for (size_t i = 1; i < list.roles.size(); ++i)
                    roles += (i + 1 < list.roles.size() ? ", " : " and ") + list.roles[i];
                throw core::AppError(roles + " " + core::inQuotes(list.path, '\'') +
                                     ": cannot read the pixels: " + e.what());
            }
        }
    }

    images::Plane& plane(const OpenPass& pass, int channel) {
        return wanted_[pass.input.get()].planes[channel];
    }

  private:
    struct Wanted {
        std::vector<std::string> roles; // "colour pass", ... each once
        std::string path;
        std::vector<int> channels;
        std::map<int, images::Plane> planes;
    };
    std::map<images::ImageInput*, Wanted> wanted_;
};

// The colour channels `choice` names, asked of `read` before it reads...
void wantColour(FileRead& read, const OpenPass& pass, const ColourChoice& choice);

// ... and made into the frame's colour planes after.
ColourPlanes colourFrom(FileRead& read, const OpenPass& pass, const ColourChoice& choice,
                        const images::ColourTransform& transform);

} // namespace orvit::passes
