// What a pass file's header tells before its pixels are read: enough to
// choose which file and channels hold each pass.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orvit::passes {

// A pass file's size and channel names, in the order the reader keeps them,
// and its header's text attributes.
struct PassHeader {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<std::string> channels;
    std::map<std::string, std::string> attributes;
    bool indexed = false; // a palette image
};

// The header of `path`; an AppError naming `role` and the file when it
// cannot be read.
PassHeader readPassHeader(const std::string& role, const std::string& path);

// One of the files a frame's passes are in: what messages call it, and its
// header.
struct PassFile {
    std::string where; // "frame 1 'render/id_0001.exr'"
    PassHeader header;
};

// "frame 1 'a.exr' has R, G, B; frame 1 'b.exr' has Z".
std::string everyFilesChannels(const std::vector<PassFile>& files);

} // namespace orvit::passes
