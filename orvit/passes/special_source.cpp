#include "orvit/passes/special_source.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/passes/channels.h"
#include "orvit/passes/cryptomatte.h"

#include <algorithm>
#include <optional>

namespace orvit::passes {
namespace {

using core::inQuotes;
using core::joined;

std::string quoted(const std::string& text) {
    return inQuotes(text, '\'');
}

bool has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The layers that may give the special pass when none is named: the object
// layers, else every layer.
std::vector<const CryptomatteLayer*> candidates(const std::vector<CryptomatteLayer>& layers) {
    std::vector<const CryptomatteLayer*> objects, all;
    for (const CryptomatteLayer& layer : layers) {
        all.push_back(&layer);
        if (isObjectLayer(layer.name))
            objects.push_back(&layer);
    }
    return objects.empty() ? all : objects;
}

class SpecialFinder {
  public:
    SpecialFinder(const std::vector<PassFile>& files, const SpecialRequest& request)
        : files_(files), request_(request) {
        for (const PassFile& file : files)
            layers_.push_back(cryptomatteLayers(file.header.attributes, file.header.channels));
    }

    SpecialSource find() const {
        if (!request_.channel.empty() && !request_.cryptomatte.empty())
            throw core::AppError(request_.pickChannel + " and " + request_.pickLayer +
                                 " both give the special pass; give one");
        if (!request_.channel.empty())
            return namedChannel();
        if (!request_.cryptomatte.empty())
            return namedLayer();
        if (files_.size() == 1 && files_[0].header.indexed)
            return {0, "", "", true, {}};
        if (files_.size() == 1 && files_[0].header.channels.size() == 1)
            return {0, files_[0].header.channels.front(), "", false, {}};
        if (auto index = indexChannel())
            return *index;
        if (auto layer = candidateLayer())
            return *layer;
        for (size_t i = 0; i < files_.size(); ++i) {
            const std::vector<std::string> undeclared =
                undeclaredCryptomatte(files_[i].header.channels);
            if (!undeclared.empty())
                fail(i, "channel " + quoted(undeclared.front()) +
                            " looks like a Cryptomatte's, but no metadata cryptomatte/KEY/name "
                            "declares it (lost when a frame is saved from a frame buffer or by a "
                            "tool that drops the header); pick an object index with " +
                            request_.pickChannel);
        }
        if (files_.size() == 1)
            recogniseChannels(PassRole::Special, files_[0].header.channels, files_[0].where,
                              request_.pickChannel, request_.otherPasses);
        throw core::AppError("no file has a channel recognised as an object index (" +
                             everyFilesChannels(files_) + "); pick with " + request_.pickChannel);
    }

  private:
    [[noreturn]] void fail(size_t file, const std::string& what) const {
        throw core::AppError(files_[file].where + ": " + what);
    }

    // The file's channels that no other pass is named for or takes.
    std::vector<std::string> freeChannels(size_t file) const {
        std::vector<std::string> names;
        for (const std::string& name : files_[file].header.channels)
            if (!has(request_.otherPasses, name))
                names.push_back(name);
        return names;
    }

    std::string declared(size_t file) const {
        return joined(layers_[file],
                      [](const CryptomatteLayer& layer) { return quoted(layer.name); });
    }

    // Layer `name` of file `file`, readable.
    SpecialSource layerOf(size_t file, const std::string& name) const {
        SpecialSource source{static_cast<int>(file), "", name, false, {}};
        for (const CryptomatteLayer& layer : layers_[file]) {
            if (layer.name != name)
                source.otherLayers.push_back(layer.name);
            else if (!layer.problem.empty())
                fail(file, "Cryptomatte " + quoted(name) + ": " + layer.problem);
        }
        return source;
    }

    SpecialSource namedChannel() const {
        const std::string& name = request_.channel;
        std::vector<size_t> having;
        for (size_t i = 0; i < files_.size(); ++i)
            if (has(files_[i].header.channels, name))
                having.push_back(i);
        if (having.empty() && files_.size() == 1)
            fail(0, missingChannel(name, files_[0].header.channels));
        if (having.empty())
            throw core::AppError("no file has the channel " + quoted(name) +
                                 " of the special pass (" + everyFilesChannels(files_) + ")");
        if (having.size() > 1)
            throw core::AppError("special pass: both " + files_[having[0]].where + " (" + name +
                                 ") and " + files_[having[1]].where + " (" + name +
                                 ") offer it; leave one file out");
        return {static_cast<int>(having[0]), name, "", false, {}};
    }

    SpecialSource namedLayer() const {
        const std::string& name = request_.cryptomatte;
        std::vector<size_t> having;
        for (size_t i = 0; i < files_.size(); ++i)
            if (std::any_of(layers_[i].begin(), layers_[i].end(),
                            [&](const CryptomatteLayer& layer) { return layer.name == name; }))
                having.push_back(i);
        if (having.empty() && files_.size() == 1)
            fail(0, "no Cryptomatte " + quoted(name) + " (" +
                        (layers_[0].empty() ? "the file declares none"
                                            : "the file has " + declared(0)) +
                        ")");
        if (having.empty()) {
            std::vector<std::string> each;
            for (size_t i = 0; i < files_.size(); ++i)
                each.push_back(files_[i].where +
                               (layers_[i].empty() ? " declares none" : " has " + declared(i)));
            throw core::AppError("no file declares the Cryptomatte " + quoted(name) + " (" +
                                 joined(each, std::string_view("; ")) + ")");
        }
        if (having.size() > 1)
            throw core::AppError("special pass: both " + files_[having[0]].where + " and " +
                                 files_[having[1]].where + " declare the Cryptomatte " +
                                 quoted(name) + "; leave one file out");
        return layerOf(having[0], name);
    }

    std::optional<SpecialSource> indexChannel() const {
        std::vector<SpecialSource> offers;
        for (size_t i = 0; i < files_.size(); ++i) {
            const std::vector<std::string> names = freeChannels(i);
            if (!channelCandidates(PassRole::Special, names).empty())
                offers.push_back(
                    {static_cast<int>(i),
                     recogniseChannels(PassRole::Special, files_[i].header.channels,
                                       files_[i].where, request_.pickChannel, request_.otherPasses)
                         .front(),
                     "",
                     false,
                     {}});
        }
        if (offers.size() > 1)
            throw core::AppError(
                "special pass: both " + files_[offers[0].file].where + " (" + offers[0].channel +
                ") and " + files_[offers[1].file].where + " (" + offers[1].channel +
                ") offer it; leave one file out, or pick with " + request_.pickChannel);
        if (offers.empty())
            return std::nullopt;
        return offers.front();
    }

    std::optional<SpecialSource> candidateLayer() const {
        std::vector<size_t> offers, objects;
        for (size_t i = 0; i < files_.size(); ++i) {
            const auto found = candidates(layers_[i]);
            if (found.empty())
                continue;
            offers.push_back(i);
            if (isObjectLayer(found.front()->name))
                objects.push_back(i);
        }
        // Files that declare an object layer come before those that declare
        // others only.
        if (!objects.empty())
            offers = objects;
        if (offers.size() > 1)
            throw core::AppError(
                "special pass: both " + files_[offers[0]].where + " and " +
                files_[offers[1]].where + " declare " +
                (objects.empty() ? "a Cryptomatte" : "a Cryptomatte object layer") +
                "; leave one file out, or pick with " + request_.pickLayer);
        if (offers.empty())
            return std::nullopt;
        const auto found = candidates(layers_[offers[0]]);
        if (found.size() > 1)
            fail(offers[0],
                 std::to_string(found.size()) + " Cryptomatte " +
                     (objects.empty() ? "layers" : "object layers") +
                     " could be the special pass (" +
                     joined(found,
                            [](const CryptomatteLayer* layer) { return quoted(layer->name); }) +
                     "); pick with " + request_.pickLayer);
        return layerOf(offers[0], found.front()->name);
    }

    const std::vector<PassFile>& files_;
    const SpecialRequest& request_;
    std::vector<std::vector<CryptomatteLayer>> layers_; // each file's
};

} // namespace

SpecialSource findSpecialSource(const std::vector<PassFile>& files, const SpecialRequest& request) {
    return SpecialFinder(files, request).find();
}

} // namespace orvit::passes
