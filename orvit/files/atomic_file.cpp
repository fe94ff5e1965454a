#include "orvit/files/atomic_file.h"

#include "orvit/core/host_error.h"
#include "orvit/files/owned_fd.h"
#include "orvit/files/paths.h"
#include "orvit/files/removed_on_signal.h"
#include "orvit/files/temporary_files.h"
#include "orvit/files/whole_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvit::files {
namespace {

// Flushes the file or folder at `path` to disk.
bool flushToDisk(const fs::path& path, int flags) {
    OwnedFd fd(open(path.c_str(), flags | O_CLOEXEC));
    const bool ok = fd && fsync(fd.get()) == 0;
    return fd.close() && ok;
}

} // namespace

std::string whyNotReplaceable(const std::string& path) {
    struct stat s {};
    if (stat(path.c_str(), &s) != 0 || S_ISREG(s.st_mode))
        return "";
    if (S_ISDIR(s.st_mode))
        return "a folder of that name exists";
    return std::string("it is ") + notRegularKind(s.st_mode) + ", not a regular file";
}

void writeAtomically(const std::string& path, const std::string& what,
                     const std::function<void(const std::string& temporary)>& fill,
                     const TemporaryNamer& name) {
    const fs::path target = finalTarget(path);
    fs::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    const std::string why = whyNotReplaceable(target.string());
    if (!why.empty())
        throw core::AppError(what + ": " + why);
    if (!fs::is_directory(folder, ec))
        throw core::AppError(what + ": no folder '" + folder.string() + "'");

    // Same folder, so that the rename stays on one file system; same
    // extension, so that a writer that goes by it picks the same format.
    TemporaryFile temporary(target.string(), what, name);
    try {
        fill(temporary.path().string());
    } catch (const std::exception&) {
        // A writer's library may say only "Write Error": a full disk is
        // named as such.
        const int error = errno;
        struct statvfs space {};
        if (error == ENOSPC || error == EDQUOT ||
            (statvfs(folder.c_str(), &space) == 0 &&
             (geteuid() == 0 ? space.f_bfree : space.f_bavail) == 0))
            throw core::AppError(what + ": no space left on the disk of '" + folder.string() + "'");
        throw;
    }
    if (!flushToDisk(temporary.path(), O_RDONLY))
        throw core::AppError(what + ": cannot flush '" + temporary.path().string() +
                             "' to disk: " + std::strerror(errno));
    struct stat old {};
    if (stat(target.c_str(), &old) == 0 &&
        chmod(temporary.path().c_str(), old.st_mode & 07777) != 0)
        throw core::AppError(what + ": cannot keep its permissions: " + std::strerror(errno));
    fs::rename(temporary.path(), target, ec);
    if (ec)
        throw core::AppError(what +
                             ": cannot rename the finished file into place: " + ec.message());
    temporary.keep();
    // The rename itself lasts once the folder is on disk.
    flushToDisk(folder, O_RDONLY | O_DIRECTORY);
}

void writeAtomically(const std::string& path, const std::string& what, std::string_view content,
                     const TemporaryNamer& name) {
    writeAtomically(
        path, what,
        [&](const std::string& temporary) {
            OwnedFd fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
            if (!fd)
                throw core::AppError(what + ": cannot make '" + temporary +
                                     "': " + std::strerror(errno));
            if (!writeWhole(fd.get(), content.data(), content.size()) || !fd.close())
                throw core::AppError(what + ": writing '" + temporary +
                                     "' failed: " + std::strerror(errno));
        },
        name);
}

} // namespace orvit::files
