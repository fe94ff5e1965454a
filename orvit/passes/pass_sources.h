// Which of a renderer's files holds each pass, found from their channel
// names: renderers often write colour, object index and depth to files of
// their own. A pass comes from the one file where a channel is named or
// recognised for it (channels.h); two files offering it is an error naming
// both, never a choice. The colour and special passes must be found; the
// depth is optional, since only the Depth modes read it.
#pragma once

#include "orvit/passes/channels.h"

#include <string>
#include <vector>

namespace orvit::passes {

// One pass file: what messages call it, and its channel names.
struct PassFileChannels {
    std::string where; // "frame 1 'render/id_0001.exr'"
    std::vector<std::string> channels;
};

// Channels named on the command line; empty: recognised by their names.
struct NamedChannels {
    std::vector<std::string> colour; // 3 or 4 names
    std::string special;
    std::string depth;
    // Whether the special pass is looked for; else its file is -1.
    bool findSpecial = true;
    // A file that gives the special pass otherwise (by a Cryptomatte), and so
    // need offer no channel; -1: none.
    int specialFile = -1;
    // How the user picks each pass's channels ("--special-channel NAME").
    std::string pickColour, pickSpecial, pickDepth;
};

struct PassSource {
    int file = -1;                     // index into the files; -1: none holds the pass
    std::vector<std::string> channels; // colour: 3 or 4, the others 1
};

struct PassSources {
    PassSource colour, special, depth;
};

// The file and channels of each pass. Every failure is an AppError of one
// line: a named channel no file has, a pass offered by several files (both
// named) or several channels of one, a colour or special pass found nowhere,
// or a file that offers no pass at all.
PassSources findPassSources(const std::vector<PassFileChannels>& files, const NamedChannels& named);

} // namespace orvit::passes
