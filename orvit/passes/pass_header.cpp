#include "orvit/passes/pass_header.h"

#include "orvit/core/text.h"
#include "orvit/passes/pass_reading.h"

namespace orvit::passes {

PassHeader readPassHeader(const std::string& role, const std::string& path) {
    OpenFiles open;
    return openPass(role, path, open).header();
}

std::string everyFilesChannels(const std::vector<PassFile>& files) {
    return core::joined(
        files,
        [](const PassFile& f) { return f.where + " has " + core::joined(f.header.channels); },
        "; ");
}

} // namespace orvit::passes
