#include "orvit/passes/pass_sources.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/passes/channels.h"

#include <algorithm>
#include <set>
#include <utility>

namespace orvit::passes {
namespace {

using core::joined;

std::vector<std::string> namesFor(PassRole role, const NamedChannels& named) {
    if (role == PassRole::Colour)
        return named.colour;
    return named.depth.empty() ? std::vector<std::string>{} : std::vector<std::string>{named.depth};
}

const std::string& pickFor(PassRole role, const NamedChannels& named) {
    return role == PassRole::Colour ? named.pickColour : named.pickDepth;
}

class Finder {
  public:
    Finder(const std::vector<PassFile>& files, const NamedChannels& named)
        : files_(files), named_(named) {}

    PassSources find() {
        PassSources found;
        // Named channels first: a channel a pass is named for is no other's.
        if (!named_.special.empty())
            for (int i = 0; i < static_cast<int>(files_.size()); ++i)
                taken_.insert({i, named_.special});
        if (!named_.colour.empty())
            found.colour = take(PassRole::Colour, named(PassRole::Colour));
        if (!named_.depth.empty())
            found.depth = take(PassRole::Depth, named(PassRole::Depth));
        if (named_.colour.empty())
            found.colour = take(PassRole::Colour, recognised(PassRole::Colour));
        std::vector<std::string> others;
        for (const auto& [file, name] : taken_)
            if (name != named_.special)
                others.push_back(name);
        found.special = findSpecialSource(files_, {named_.special, named_.cryptomatte, others,
                                                   named_.pickSpecial, named_.pickLayer});
        if (!found.special.channel.empty())
            taken_.insert({found.special.file, found.special.channel});
        if (named_.depth.empty())
            found.depth = take(PassRole::Depth, recognised(PassRole::Depth));
        for (int i = 0; i < static_cast<int>(files_.size()); ++i)
            if (files_.size() > 1 && found.colour.file != i && found.special.file != i &&
                found.depth.file != i)
                throw core::AppError(files_[i].where +
                                     ": no channel is recognised as a colour, an object index or a "
                                     "depth " +
                                     fileChannelsNote(files_[i].header.channels) +
                                     "; leave the file out, or pick with " + named_.pickColour +
                                     ", " + named_.pickSpecial + " or " + named_.pickDepth);
        return found;
    }

  private:
    // The files that have every channel named for the pass.
    std::vector<PassSource> named(PassRole role) const {
        const std::vector<std::string> names = namesFor(role, named_);
        std::vector<PassSource> offers;
        for (int i = 0; i < static_cast<int>(files_.size()); ++i) {
            const std::vector<std::string>& channels = files_[i].header.channels;
            if (std::all_of(names.begin(), names.end(), [&](const std::string& name) {
                    return std::find(channels.begin(), channels.end(), name) != channels.end();
                }))
                offers.push_back({i, names});
        }
        if (!offers.empty())
            return offers;
        if (files_.size() == 1)
            for (const std::string& name : names)
                if (!missingChannel(name, files_[0].header.channels).empty())
                    throw core::AppError(files_[0].where + ": " +
                                         missingChannel(name, files_[0].header.channels));
        throw core::AppError(std::string("no file has the channels ") + joined(names) + " of the " +
                             passName(role) + " (" + everyFilesChannels(files_) + ")");
    }

    // The files where channels not yet taken are recognised for the pass;
    // several in one file is that file's error.
    std::vector<PassSource> recognised(PassRole role) const {
        std::vector<PassSource> offers;
        for (int i = 0; i < static_cast<int>(files_.size()); ++i) {
            std::vector<std::string> free;
            for (const std::string& name : files_[i].header.channels)
                if (!taken_.count({i, name}))
                    free.push_back(name);
            if (channelCandidates(role, free).empty())
                continue;
            offers.push_back({i, recogniseChannels(role, files_[i].header.channels, files_[i].where,
                                                   pickFor(role, named_), takenIn(i))});
        }
        if (!offers.empty() || role == PassRole::Depth)
            return offers;
        // Renderers that write a Cryptomatte or an index to a file of its
        // own leave the colour to another file.
        const std::string pick = pickFor(role, named_) +
                                 ", or give the file that holds the colour as well "
                                 "(orvit init beauty_####.exr crypto_####.exr)";
        if (files_.size() == 1)
            recogniseChannels(role, files_[0].header.channels, files_[0].where, pick, takenIn(0));
        throw core::AppError("no file has a channel recognised as the colour (" +
                             everyFilesChannels(files_) + "); pick with " + pick);
    }

    // The channels of file `file` that other passes took.
    std::vector<std::string> takenIn(int file) const {
        std::vector<std::string> names;
        for (const auto& [f, name] : taken_)
            if (f == file)
                names.push_back(name);
        return names;
    }

    // The one offer; two files offering the pass is an error naming both.
    PassSource take(PassRole role, const std::vector<PassSource>& offers) {
        if (offers.empty())
            return {};
        if (offers.size() > 1) {
            const PassSource &a = offers[0], &b = offers[1];
            const bool wasNamed = !namesFor(role, named_).empty();
            throw core::AppError(std::string(passName(role)) + ": both " + files_[a.file].where +
                                 " (" + joined(a.channels) + ") and " + files_[b.file].where +
                                 " (" + joined(b.channels) + ") offer it; leave one file out" +
                                 (wasNamed ? "" : ", or pick with " + pickFor(role, named_)));
        }
        for (const std::string& name : offers[0].channels)
            taken_.insert({offers[0].file, name});
        return offers[0];
    }

    const std::vector<PassFile>& files_;
    const NamedChannels& named_;
    std::set<std::pair<int, std::string>> taken_;
};

} // namespace

PassSources findPassSources(const std::vector<PassFile>& files, const NamedChannels& named) {
    return Finder(files, named).find();
}

} // namespace orvit::passes
