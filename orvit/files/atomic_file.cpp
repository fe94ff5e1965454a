#include "orvit/files/atomic_file.h"

#include "orvit/core/host_error.h"
#include "orvit/files/removed_on_signal.h"
#include "orvit/files/whole_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvit::app {
namespace {

// Removes the temporary file on every way out but success, a signal that
// ends the process included.
class TemporaryFile {
  public:
    explicit TemporaryFile(fs::path path) : path_(std::move(path)), onSignal_(path_.string()) {}
    ~TemporaryFile() {
        if (!keep_) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const fs::path& path() const { return path_; }
    void keep() { keep_ = true; }

  private:
    fs::path path_;
    RemovedOnSignal onSignal_;
    bool keep_ = false;
};

// The file `path` finally names: each symlink on the way replaced by what it
// points to. Past 40 links (a loop), the last one reached.
fs::path realTarget(const fs::path& path) {
    fs::path target = path;
    std::error_code ec;
    for (int links = 0; links < 40 && fs::is_symlink(target, ec); ++links) {
        const fs::path next = fs::read_symlink(target, ec);
        if (ec)
            break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target.lexically_normal();
}

// Flushes the file or folder at `path` to disk.
bool flushToDisk(const fs::path& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

} // namespace

void writeAtomically(const std::string& path, const std::string& what,
                     const std::function<void(const std::string& temporary)>& fill) {
    const fs::path target = realTarget(path);
    fs::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    if (fs::is_directory(target, ec))
        throw AppError(what + ": a folder of that name exists");
    if (!fs::is_directory(folder, ec))
        throw AppError(what + ": no folder '" + folder.string() + "'");

    // Same folder, so that the rename stays on one file system; same
    // extension, so that a writer that goes by it picks the same format.
    TemporaryFile temporary(folder / ("." + target.stem().string() + ".tmp" +
                                      std::to_string(getpid()) + target.extension().string()));
    fill(temporary.path().string());
    if (!flushToDisk(temporary.path(), O_RDONLY))
        throw AppError(what + ": cannot flush '" + temporary.path().string() +
                       "' to disk: " + std::strerror(errno));
    struct stat old {};
    if (stat(target.c_str(), &old) == 0 &&
        chmod(temporary.path().c_str(), old.st_mode & 07777) != 0)
        throw AppError(what + ": cannot keep its permissions: " + std::strerror(errno));
    fs::rename(temporary.path(), target, ec);
    if (ec)
        throw AppError(what + ": cannot rename the finished file into place: " + ec.message());
    temporary.keep();
    // The rename itself lasts once the folder is on disk.
    flushToDisk(folder, O_RDONLY | O_DIRECTORY);
}

void writeAtomically(const std::string& path, const std::string& what, std::string_view content) {
    writeAtomically(path, what, [&](const std::string& temporary) {
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            throw AppError(what + ": cannot make '" + temporary + "': " + std::strerror(errno));
        if (!writeWhole(fd, content.data(), content.size())) {
            const int error = errno;
            close(fd);
            throw AppError(what + ": writing '" + temporary + "' failed: " + std::strerror(error));
        }
        if (close(fd) != 0)
            throw AppError(what + ": writing '" + temporary + "' failed: " + std::strerror(errno));
    });
}

} // namespace orvit::app
