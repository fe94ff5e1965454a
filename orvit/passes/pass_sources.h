// Which of a renderer's files holds each pass, found from their headers:
// renderers often write colour, object index and depth to files of their
// own. A pass comes from the one file where a channel is named or recognised
// for it (channels.h), the special pass as special_source.h finds it; two
// files offering a pass is an error naming both, never a choice. The colour
// and special passes must be found; the depth is optional, since only the
// Depth modes read it.
#pragma once

#include "orvit/passes/pass_header.h"
#include "orvit/passes/special_source.h"

#include <string>
#include <vector>

namespace orvit::passes {

// Channels and layers named on the command line; empty: recognised.
struct NamedChannels {
    std::vector<std::string> colour; // 3 or 4 names
    std::string special;
    std::string cryptomatte; // the special pass's Cryptomatte layer
    std::string depth;
    // How the user picks each ("--special-channel NAME").
    std::string pickColour, pickSpecial, pickLayer, pickDepth;
};

struct PassSource {
    int file = -1;                     // index into the files; -1: none holds the pass
    std::vector<std::string> channels; // colour: 3 or 4, depth 1
};

struct PassSources {
    PassSource colour;
    SpecialSource special;
    PassSource depth;
};

// The file and channels of each pass. Every failure is an AppError of one
// line: a named channel no file has, a pass offered by several files (both
// named) or several channels of one, a colour or special pass found nowhere,
// or a file that offers no pass at all.
PassSources findPassSources(const std::vector<PassFile>& files, const NamedChannels& named);

} // namespace orvit::passes
