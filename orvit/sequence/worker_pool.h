// The worker processes that render a sequence's frames, each with its own
// loaded module, filter and instance, and the messages between them and the
// parent: the parent writes a frame number (int32) to a worker's command
// pipe; the worker answers on its result pipe with the frame, whether it
// succeeded, a text (the summary lines, or the one-line failure) and, for a
// Cryptomatte, the ids of the scene's surfaces the frame holds, lengths
// first. A closed command pipe tells the worker to end.
#pragma once

#include "orvit/files/owned_fd.h"
#include "orvit/scene/scene_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvit::sequence {

// The most workers a pool starts.
constexpr size_t kMaxWorkers = 1024;

// A worker's answer about one frame.
struct WorkerResult {
    int32_t frame = 0;
    bool ok = false;
    std::string text;
    bool cryptomatte = false;
    std::vector<uint32_t> ids;
};

// Takes the whole messages at the front of `buffer`, what a worker's result
// pipe gave so far.
std::vector<WorkerResult> takeResults(std::string& buffer);

// The stop signal (SIGINT, SIGTERM or SIGHUP) that came while a pool lived,
// or 0.
int stopSignal();

class SignalsToWorkers;

// The worker processes and their pipes. While it lives, a stop signal
// reaches every worker and is remembered; its end closes every pipe and
// waits for every worker.
class WorkerPool {
  public:
    struct Worker {
        pid_t pid = -1;
        files::OwnedFd commands; // write end
        files::OwnedFd results;  // read end
        int frame = -1;          // the frame handed to it and not answered, or -1
        std::string buffer;
    };

    WorkerPool();
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Closes every pipe, waits for every worker to end and gives the stop
    // signals back their dispositions from before.
    void end();
    // After a stop signal: once every worker has ended (each has the signal
    // too, and leaves whole images only), ends this process as the signal
    // would have ended it.
    void endIfStopped();

    std::vector<Worker>& workers() { return workers_; }

    // Starts `count` workers, each rendering the frames it is sent into
    // `pattern` with `threads` threads for the image files, and waits until
    // each has its module loaded; returns the module's path. A worker that
    // cannot start its filter throws its failure.
    std::string start(int count, const scene::SceneFile& scene, const std::string& builtModule,
                      const std::string& pattern, int threads);

  private:
    std::vector<Worker> workers_;
    std::unique_ptr<SignalsToWorkers> signals_;

    Worker fork(const scene::SceneFile& scene, const std::string& builtModule,
                const std::string& pattern, int threads);
};

} // namespace orvit::sequence
