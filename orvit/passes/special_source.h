// Where a frame's special pass comes from, in one file or across the files a
// renderer writes a frame's passes to. The rules, first match wins:
//   named      the channel named for it, in the one file that has it; or the
//              Cryptomatte layer named for it (by its type name), in the one
//              file that declares it; never both
//   one file   a palette image's indices, else the file's only channel
//   index      the one channel recognised as an object index (channels.h),
//              never one named for another pass
//   layer      the one Cryptomatte layer that may give it: of each file its
//              object layers, else its every layer (renderers name layers
//              after a render element: "cryptomatte", "uCryptoWildcard");
//              files with an object layer come before those without
// A pass found nowhere, or offered by two files or two channels or layers of
// one, is an AppError of one line naming the files and how to pick. So is a
// layer that cannot be read, and rank channels that no metadata declares.
#pragma once

#include "orvit/passes/pass_header.h"

#include <string>
#include <vector>

namespace orvit::passes {

struct SpecialRequest {
    std::string channel;     // named; empty: found
    std::string cryptomatte; // named; empty: found
    // Channels named or taken for the colour and depth passes.
    std::vector<std::string> otherPasses;
    // How the user picks a channel and a layer ("--special-channel NAME",
    // "passes.cryptomatte").
    std::string pickChannel, pickLayer;
};

struct SpecialSource {
    int file = -1;           // into the files
    std::string channel;     // empty for a Cryptomatte or the indices
    std::string cryptomatte; // the layer whose rank-0 objects name surfaces
    bool indices = false;    // a palette image's indices
    // The file's other Cryptomatte layers, when a layer gives the pass.
    std::vector<std::string> otherLayers;
};

SpecialSource findSpecialSource(const std::vector<PassFile>& files, const SpecialRequest& request);

} // namespace orvit::passes
