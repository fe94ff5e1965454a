#include "standin/app/paths.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace orvit::app {

std::string wholePath(const std::string& path) {
    return fs::absolute(path).lexically_normal().string();
}

} // namespace orvit::app
