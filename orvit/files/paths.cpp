#include "orvit/files/paths.h"

#include "orvit/core/host_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvit::app {
namespace {

// The file opened for reading, or -1 with the reason in *why. Opened without
// waiting, so that a pipe is refused rather than waited on.
int openRegular(const std::string& path, std::string* why) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ENOENT || errno == ENOTDIR
                   ? std::string("does not exist")
                   : "cannot be read: " + std::string(std::strerror(errno));
        return -1;
    }
    struct stat s {};
    if (fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
        close(fd);
        *why = "is not a regular file";
        return -1;
    }
    return fd;
}

} // namespace

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

std::string whyUnreadable(const std::string& path) {
    std::string why;
    const int fd = openRegular(path, &why);
    if (fd >= 0)
        close(fd);
    return why;
}

std::string readRegularFile(const std::string& path, const std::string& what) {
    std::string why;
    const int fd = openRegular(path, &why);
    if (fd < 0)
        throw AppError(what + ": " + why);
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int error = errno;
            close(fd);
            throw AppError(what + ": cannot be read: " + std::strerror(error));
        }
    }
    close(fd);
    return text;
}

} // namespace orvit::app
