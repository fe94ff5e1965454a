// Files and folders that an ending signal (SIGTERM, SIGINT, SIGHUP: a user's
// Ctrl-C, a scheduler's cancel) removes before the process ends as that
// signal would have ended it: the temporary file of a write under way, the
// private folder of a run. A signal the process ignores or handles itself is
// left so.
#pragma once

#include <csignal>
#include <string>

namespace orvit::files {

// The signals that end a process by default and that a user or a scheduler
// sends to stop it (a cancelled farm task gets SIGTERM).
inline constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

class RemovedOnSignal {
  public:
    // From now until this object goes, an ending signal removes `path`: a
    // file, or a folder once the files registered with it are gone. Paths of
    // 4096 bytes or more, and registrations past 16 at once, are not kept.
    explicit RemovedOnSignal(const std::string& path);
    ~RemovedOnSignal();
    RemovedOnSignal(const RemovedOnSignal&) = delete;
    RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

  private:
    int slot_ = -1;
};

} // namespace orvit::files
