#include "orvit/files/paths.h"

#include "orvit/core/host_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvit::files {

const char* notRegularKind(unsigned mode) {
    return S_ISDIR(mode)                    ? "a folder"
           : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
           : S_ISFIFO(mode)                 ? "a named pipe"
           : S_ISSOCK(mode)                 ? "a socket"
                                            : "not a file";
}

OwnedFd openRegular(const std::string& path, std::string* why) {
    OwnedFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        *why = errno == ENOENT || errno == ENOTDIR
                   ? std::string("does not exist")
                   : "cannot be read: " + std::string(std::strerror(errno));
        return fd;
    }
    struct stat s {};
    if (fstat(fd.get(), &s) != 0 || !S_ISREG(s.st_mode)) {
        *why = std::string("is ") + notRegularKind(s.st_mode) + ", not a regular file";
        return OwnedFd();
    }
    return fd;
}

std::string wholePath(const std::string& path) {
    return fs::absolute(path).lexically_normal().string();
}

FileIdentity fileIdentity(const std::string& path) {
    FileIdentity id;
    // Where `path` does not resolve yet, the file it will reach once its
    // missing folders are made: the longest existing prefix resolved, the
    // rest applied lexically ("new/../render" is "render"), and that result
    // resolved again, since it may pass through existing folders and links
    // the first pass never reached.
    std::string resolved = path;
    for (int pass = 0; pass < 3; ++pass) {
        struct stat s {};
        if (stat(resolved.c_str(), &s) == 0) {
            id.exists = true;
            id.device = s.st_dev;
            id.inode = s.st_ino;
            return id;
        }
        std::error_code ec;
        const fs::path next = fs::weakly_canonical(fs::absolute(resolved), ec);
        if (ec || next == resolved)
            break;
        resolved = next.string();
    }
    id.path = wholePath(resolved);
    return id;
}

std::string whyUnreadable(const std::string& path) {
    std::string why;
    openRegular(path, &why);
    return why;
}

namespace {

[[noreturn]] void refuseSize(const std::string& what, uint64_t size, ReadLimit limit) {
    throw core::AppError(what + ": is " + std::to_string(size) + " bytes, more than the " +
                         std::to_string(limit.bytes >> 20) + " MiB orvit reads from " + limit.kind);
}

} // namespace

std::string readRegularFile(const std::string& path, const std::string& what, ReadLimit limit) {
    std::string why;
    const OwnedFd fd = openRegular(path, &why);
    if (!fd)
        throw core::AppError(what + ": " + why);
    struct stat s {};
    if (fstat(fd.get(), &s) == 0 && static_cast<uint64_t>(s.st_size) > limit.bytes)
        refuseSize(what, static_cast<uint64_t>(s.st_size), limit);
    return readToEnd(fd.get(), what, limit);
}

std::string readToEnd(int fd, const std::string& what, ReadLimit limit) {
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
            // A file that grows while it is read is held to the limit too.
            if (text.size() > limit.bytes)
                refuseSize(what, text.size(), limit);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            throw core::AppError(what + ": cannot be read: " + std::strerror(errno));
        }
    }
    return text;
}

} // namespace orvit::files
