// Paths as the host compares and hands them on.
#pragma once

#include <string>

namespace orvit::app {

// `path` whole (from the working folder) and normalised: no "." or ".."
// steps, no doubled separators. Symlinks are kept as they are.
std::string wholePath(const std::string& path);

} // namespace orvit::app
