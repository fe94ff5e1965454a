// Paths as the host compares and hands them on.
#pragma once

#include "orvit/files/owned_fd.h"

#include <cstdint>
#include <string>
#include <tuple>

namespace orvit::files {

// `path` whole (from the working folder) and normalised: no "." or ".."
// steps, no doubled separators. Symlinks are kept as they are.
std::string wholePath(const std::string& path);

// What makes two paths the same file: the device and inode of the file it
// reaches, or will reach once its missing folders are made (POSIX ".."
// through a folder made later goes back where it came from); where there is
// no such file, its whole path with the symlinks of the folders that exist
// resolved. So "./a/../a/f", "new/../a/f", a hard link and a path through a
// symlinked folder each name the file they reach.
struct FileIdentity {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    std::string path; // when it does not exist

    bool operator<(const FileIdentity& other) const {
        return std::tie(exists, device, inode, path) <
               std::tie(other.exists, other.device, other.inode, other.path);
    }
};
FileIdentity fileIdentity(const std::string& path);

// What a file of stat mode `mode` that is not a regular file is: "a folder",
// "a device", "a named pipe", "a socket".
const char* notRegularKind(unsigned mode);

// The regular file `path` opened for reading (close-on-exec), or none with
// the reason in *why, as whyUnreadable gives it. Opened without waiting, so
// that a pipe with no writer, or a device, is refused rather than waited on.
OwnedFd openRegular(const std::string& path, std::string* why);

// Why `path` cannot be read as a file: "does not exist", "is a named pipe,
// not a regular file" (a folder, or a pipe or a device, which could block or
// never end) or "cannot be read: REASON"; empty when it can.
std::string whyUnreadable(const std::string& path);

// The most bytes orvit reads whole from one kind of file: far above what a
// real one holds, far below what would exhaust memory, so that a wrong file
// (a huge one, a link to /dev/zero) is refused in one line.
struct ReadLimit {
    uint64_t bytes;
    const char* kind; // "a scene file"
};
inline constexpr ReadLimit kSceneFileLimit{16 << 20, "a scene file"};
inline constexpr ReadLimit kSettingsFileLimit{16 << 20, "a settings file"};
inline constexpr ReadLimit kScriptLimit{16 << 20, "a panel script"};
inline constexpr ReadLimit kManifestLimit{64 << 20, "a Cryptomatte manifest"};
inline constexpr ReadLimit kJobsFileLimit{16 << 20, "a farm jobs file"};
inline constexpr ReadLimit kTaskLogLimit{64 << 20, "a farm task's log"};

// The whole of the regular file `path`, checked against `limit` by its size
// before it is read; an AppError "WHAT: WHY" with the reason above when it
// cannot be read, or "WHAT: is N bytes, more than the M MiB orvit reads
// from KIND" when it is too large.
std::string readRegularFile(const std::string& path, const std::string& what, ReadLimit limit);

// The rest of what `fd` (standard input, say) gives, refused alike once it
// passes `limit`.
std::string readToEnd(int fd, const std::string& what, ReadLimit limit);

} // namespace orvit::files
