// Which channels of a multi-channel image file hold which pass, found from
// the names renderers give them. A pass is only ever taken from a channel
// named for it or recognised for it: a file where none or several channels
// could be the pass is an error listing the file's channels, never a guess.
//
// Names are compared without case. A name is split at its last dot into the
// pass part and the channel part ("ViewLayer.Combined.R": pass part
// "ViewLayer.Combined", channel "R"); the last component of the pass part is
// the pass name ("Combined"), anything before it a layer prefix.
//
//   colour   R, G, B (and A) with no pass part, or with a pass name of
//            Combined, Image, beauty, rgba, rgb, C, Ci, color or colour;
//            grey: Y (and A) the same way
//   special  a channel called, or whose pass name is, IndexOB, object_index,
//            objectindex, object_id, objectid, VRayObjectID, VRayRenderID or id
//   depth    Z or depth on its own; a channel called depth; a channel whose
//            pass name is Depth or Z; VRayZDepth, ZDepth or z_depth on its own,
//            or as a pass name with a channel Z, Y or R (grey in each)
#pragma once

#include <string>
#include <vector>

namespace orvit::passes {

enum class PassRole { Colour, Special, Depth };

// "colour pass", "special pass", "depth pass".
const char* passName(PassRole role);

// The scene key that names the channels of a pass ("passes.special_channel").
const char* channelKey(PassRole role);

// The channels that could hold the pass, in file order. A colour candidate
// is red, green, blue and, when present, alpha (grey: its one channel three
// times); the others are one channel each.
std::vector<std::vector<std::string>> channelCandidates(PassRole role,
                                                        const std::vector<std::string>& channels);

// The one candidate for the pass among `channels` less those `taken` by
// other passes; an AppError naming `where`, listing the file's channels and
// telling the user to pick with `pickWith` when there is none or more than
// one.
std::vector<std::string> recogniseChannels(PassRole role, const std::vector<std::string>& channels,
                                           const std::string& where, const std::string& pickWith,
                                           const std::vector<std::string>& taken = {});

// True for a depth channel that its renderer remaps by default (V-Ray's
// VRayZDepth, between its depth black and depth white), not distances.
bool remappedDepth(const std::string& channel);

// "(the file has R, G, B, A)".
std::string fileChannelsNote(const std::vector<std::string>& channels);

// "no channel 'X' (the file has ...)" when `name` is not among `channels`;
// empty when it is.
std::string missingChannel(const std::string& name, const std::vector<std::string>& channels);

} // namespace orvit::passes
