#include "standin/app/paths.h"

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace orvit::app {

std::string wholePath(const std::string& path) {
    return fs::absolute(path).lexically_normal().string();
}

FileIdentity fileIdentity(const std::string& path) {
    FileIdentity id;
    struct stat s {};
    if (stat(path.c_str(), &s) == 0) {
        id.exists = true;
        id.device = s.st_dev;
        id.inode = s.st_ino;
        return id;
    }
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(path), ec);
    id.path = ec ? wholePath(path) : resolved.string();
    return id;
}

} // namespace orvit::app
