// The temporary files orvit writes beside a file before renaming them over
// it. Each names its owner (host and process), so that what a killed writer
// left, on this host or on a farm node sharing the folder, is recognised as
// such and removed, and nothing else is.
#pragma once

#include "orvit/files/removed_on_signal.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvit::files {

// The file `path` finally names: each symlink on the way replaced by what it
// points to. Past 40 links (a loop), the last one reached.
std::string finalTarget(const std::string& path);

// A new name for a temporary file of `target` (a path already followed
// through its symlinks), in the same folder and with the same extension:
// ".STEM.tmp-HOST-PID-RANDOM.EXT". The writer creates it exclusively
// (O_EXCL), so that two writers, even on two hosts sharing the folder, never
// open the same file, and takes another name if it exists.
std::string temporaryName(const std::string& target);

// How a temporary name is given: temporaryName, or a test's own.
using TemporaryNamer = std::function<std::string(const std::string& target)>;

// A new empty temporary file of `target` (a path already followed through
// its symlinks) under a name `name` gives, made exclusively (a name that
// exists is never opened: another is asked for). It is removed on every way
// out but keep(), a signal that ends the process included: its name is given
// to the signal handler before the file exists, so that no moment is left
// where a signal could leave it. An AppError "WHAT: cannot make a temporary
// file in 'FOLDER': REASON" when none can be made.
class TemporaryFile {
  public:
    TemporaryFile(const std::string& target, const std::string& what,
                  const TemporaryNamer& name = temporaryName);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    void keep() { keep_ = true; }

  private:
    std::filesystem::path path_;
    std::optional<RemovedOnSignal> onSignal_;
    bool keep_ = false;
};

// Whether process `pid` of this host may still write: one that belongs to
// another user may; one that has ended but is not yet reaped (a zombie)
// writes no more.
bool processExists(int pid);

// This host's name as temporary files carry it.
std::string temporaryHostName();

// Who may still be writing a temporary file made on another host.
enum class OtherHosts {
    MayBeWriting, // keep their files: a task elsewhere may be writing them
    Finished,     // the caller knows no task of the scene still runs anywhere
};

// The temporary files of `targets` that removeStaleTemporaries removes, found
// and left as they are.
std::vector<std::string> staleTemporaries(const std::vector<std::string>& targets,
                                          OtherHosts others);

// Removes the temporary files of `targets` (each followed through its
// symlinks, as the writer does) whose writer is gone: those made on this host
// by a process that no longer exists, and, with OtherHosts::Finished, those
// made on any other host. Nothing else is touched: not the targets, not other
// files, not the temporary files of other targets or of live processes (nor
// of a child not yet waited for). Returns the paths removed, in the order of
// `targets`; a file that cannot be removed is left and not returned.
std::vector<std::string> removeStaleTemporaries(const std::vector<std::string>& targets,
                                                OtherHosts others);

} // namespace orvit::files
