#include "orvit/passes/channels.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/images/image_input.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace orvit::passes {
namespace {

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

bool oneOf(const std::string& name, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(),
                       [&](const char* n) { return sameName(name, n); });
}

// A channel name cut at its last dot.
struct NameParts {
    std::string passPart; // empty when the name has no dot
    std::string passName; // the last component of passPart
    std::string channel;
};

NameParts split(const std::string& name) {
    NameParts parts;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        parts.channel = name;
        return parts;
    }
    parts.passPart = name.substr(0, dot);
    parts.channel = name.substr(dot + 1);
    const size_t passDot = parts.passPart.rfind('.');
    parts.passName =
        passDot == std::string::npos ? parts.passPart : parts.passPart.substr(passDot + 1);
    return parts;
}

const std::initializer_list<const char*> kColourPasses = {
    "Combined", "Image", "beauty", "rgba", "rgb", "C", "Ci", "color", "colour"};
const std::initializer_list<const char*> kObjectIndexNames = {
    "IndexOB",  "Object Index", "object_index", "objectindex", "object_id",
    "objectid", "VRayObjectID", "id",           "VRayRenderID"};
// Depth passes stored as grey in every channel: one channel serves.
const std::initializer_list<const char*> kGreyDepthNames = {"VRayZDepth", "ZDepth", "z_depth"};

bool isSpecial(const NameParts& p) {
    return oneOf(p.channel, kObjectIndexNames) || oneOf(p.passName, kObjectIndexNames);
}

bool isDepth(const NameParts& p) {
    return (p.passPart.empty() && sameName(p.channel, "Z")) || sameName(p.channel, "depth") ||
           oneOf(p.passName, {"Depth", "Z"}) ||
           (p.passPart.empty() && oneOf(p.channel, kGreyDepthNames)) ||
           (oneOf(p.passName, kGreyDepthNames) &&
            (oneOf(p.channel, {"Z", "Y"}) || images::colourLetter(p.channel) == 'R'));
}

// The channel of `group` (a pass part) called `letter` (R, G, B, A, each
// also spelt out, or Y), or empty.
std::string member(const std::vector<std::string>& channels, const std::string& group,
                   char letter) {
    for (const std::string& name : channels) {
        const NameParts p = split(name);
        if (p.passPart == group &&
            (letter == 'Y' ? sameName(p.channel, "Y") : images::colourLetter(p.channel) == letter))
            return name;
    }
    return {};
}

std::vector<std::vector<std::string>> colourCandidates(const std::vector<std::string>& channels) {
    std::vector<std::string> groups;
    for (const std::string& name : channels) {
        const NameParts p = split(name);
        const bool colourPass = p.passPart.empty() || oneOf(p.passName, kColourPasses);
        if (colourPass && std::find(groups.begin(), groups.end(), p.passPart) == groups.end())
            groups.push_back(p.passPart);
    }
    std::vector<std::vector<std::string>> out;
    for (const std::string& group : groups) {
        const std::string r = member(channels, group, 'R'), g = member(channels, group, 'G'),
                          b = member(channels, group, 'B'), y = member(channels, group, 'Y'),
                          a = member(channels, group, 'A');
        std::vector<std::string> candidate;
        if (!r.empty() && !g.empty() && !b.empty())
            candidate = {r, g, b};
        else if (!y.empty())
            candidate = {y, y, y};
        else
            continue;
        if (!a.empty())
            candidate.push_back(a);
        out.push_back(candidate);
    }
    return out;
}

using core::joined;

// In PassRole's order.
const char* const kPassNames[] = {"colour pass", "special pass", "depth pass"};
const char* const kChannelKeys[] = {"passes.colour_channels", "passes.special_channel",
                                    "passes.depth_channel"};

} // namespace

const char* passName(PassRole role) {
    return kPassNames[static_cast<int>(role)];
}

const char* channelKey(PassRole role) {
    return kChannelKeys[static_cast<int>(role)];
}

std::vector<std::vector<std::string>> channelCandidates(PassRole role,
                                                        const std::vector<std::string>& channels) {
    if (role == PassRole::Colour)
        return colourCandidates(channels);
    std::vector<std::vector<std::string>> out;
    for (const std::string& name : channels) {
        const NameParts p = split(name);
        if (role == PassRole::Special ? isSpecial(p) : isDepth(p))
            out.push_back({name});
    }
    return out;
}

bool remappedDepth(const std::string& channel) {
    const NameParts p = split(channel);
    return sameName(p.passPart.empty() ? p.channel : p.passName, "VRayZDepth");
}

std::string fileChannelsNote(const std::vector<std::string>& channels) {
    return "(the file has " + core::joined(channels) + ")";
}

std::string missingChannel(const std::string& name, const std::vector<std::string>& channels) {
    if (std::find(channels.begin(), channels.end(), name) != channels.end())
        return {};
    return "no channel " + core::inQuotes(name, '\'') + " " + fileChannelsNote(channels);
}

std::vector<std::string> recogniseChannels(PassRole role, const std::vector<std::string>& channels,
                                           const std::string& where, const std::string& pickWith,
                                           const std::vector<std::string>& taken) {
    std::vector<std::string> free;
    for (const std::string& name : channels)
        if (std::find(taken.begin(), taken.end(), name) == taken.end())
            free.push_back(name);
    const std::vector<std::vector<std::string>> found = channelCandidates(role, free);
    if (found.size() == 1)
        return found.front();
    const std::string what = role == PassRole::Colour    ? "the colour"
                             : role == PassRole::Special ? "an object index"
                                                         : "a depth";
    std::string why;
    if (found.empty()) {
        why = "no channel is recognised as " + what;
    } else {
        why = std::to_string(found.size()) + " could be " + what + ":";
        for (size_t i = 0; i < found.size(); ++i)
            why += (i ? " or " : " ") + core::joined(found[i]);
    }
    throw core::AppError(where + ": " + why + " " + fileChannelsNote(channels) + "; pick with " +
                         pickWith);
}

} // namespace orvit::passes
