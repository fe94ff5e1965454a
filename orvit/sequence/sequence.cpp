#include "orvit/sequence/sequence.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/files/paths.h"
#include "orvit/files/process_runner.h"
#include "orvit/files/removed_on_signal.h"
#include "orvit/files/temporary_files.h"
#include "orvit/files/whole_io.h"
#include "orvit/images/image_input.h"
#include "orvit/passes/passes.h"
#include "orvit/scene/scene_file.h"
#include "orvit/sequence/scene_render.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <poll.h>
#include <sched.h>
#include <set>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvit::app {
namespace {

using Clock = std::chrono::steady_clock;

// ---- Messages between the parent and its workers ----
//
// The parent writes a frame number (int32) to a worker's command pipe; the
// worker answers on its result pipe with the frame, whether it succeeded, a
// text (the summary lines, or the one-line failure) and, for a Cryptomatte,
// the ids of the scene's surfaces the frame holds, lengths first. A closed
// command pipe tells the worker to end.

struct Result {
    int32_t frame = 0;
    bool ok = false;
    std::string text;
    bool cryptomatte = false;
    std::vector<uint32_t> ids;
};

// frame, ok, text length, id count (-1: the special pass is no Cryptomatte)
constexpr size_t kHeaderSize = 4 * sizeof(int32_t);

void sendResult(int fd, const Result& r) {
    const int32_t header[4] = {r.frame, r.ok ? 1 : 0, static_cast<int32_t>(r.text.size()),
                               r.cryptomatte ? static_cast<int32_t>(r.ids.size()) : -1};
    std::string message(reinterpret_cast<const char*>(header), kHeaderSize);
    message += r.text;
    if (!r.ids.empty())
        message.append(reinterpret_cast<const char*>(r.ids.data()),
                       r.ids.size() * sizeof(uint32_t));
    writeWhole(fd, message.data(), message.size());
}

// The length of the whole message at the front of `buffer`: header, text
// and ids.
size_t messageLength(const std::string& buffer) {
    int32_t header[4];
    std::memcpy(header, buffer.data(), kHeaderSize);
    return kHeaderSize + static_cast<size_t>(header[2]) +
           static_cast<size_t>(std::max(header[3], 0)) * sizeof(uint32_t);
}

// Takes the whole messages at the front of `buffer`.
std::vector<Result> takeResults(std::string& buffer) {
    std::vector<Result> results;
    while (buffer.size() >= kHeaderSize) {
        const size_t length = messageLength(buffer);
        if (buffer.size() < length)
            break;
        int32_t header[4];
        std::memcpy(header, buffer.data(), kHeaderSize);
        Result r{header[0], header[1] != 0, buffer.substr(kHeaderSize, header[2]), header[3] >= 0,
                 std::vector<uint32_t>(std::max(header[3], 0))};
        if (!r.ids.empty())
            std::memcpy(r.ids.data(), buffer.data() + kHeaderSize + header[2],
                        r.ids.size() * sizeof(uint32_t));
        results.push_back(std::move(r));
        buffer.erase(0, length);
    }
    return results;
}

// Waits for one whole message on `fd`; false when the pipe ends first.
bool readResult(int fd, Result* result) {
    std::string buffer(kHeaderSize, '\0');
    if (!readWhole(fd, buffer.data(), kHeaderSize))
        return false;
    buffer.resize(messageLength(buffer));
    if (!readWhole(fd, buffer.data() + kHeaderSize, buffer.size() - kHeaderSize))
        return false;
    *result = std::move(takeResults(buffer).front());
    return true;
}

// ---- Signals ----

// The workers, for the handler below: only plain values, which a handler may
// read.
constexpr size_t kMaxWorkers = 1024;
pid_t gWorkers[kMaxWorkers];
volatile std::sig_atomic_t gWorkerCount = 0;
volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void stopWorkers(int signal) {
    gStopSignal = signal;
    for (std::sig_atomic_t i = 0; i < gWorkerCount; ++i)
        kill(gWorkers[i], signal);
}

// While it lives, a stop signal reaches every worker and is remembered, so
// that the parent can wait for them before it ends by the same signal; and a
// worker's closed pipe is an error to write to, not the end of the parent.
class SignalsToWorkers {
  public:
    SignalsToWorkers() {
        struct sigaction forward {};
        forward.sa_handler = stopWorkers;
        sigemptyset(&forward.sa_mask);
        for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
            sigaction(kEndingSignals[i], nullptr, &previous_[i]);
            // A signal the process ignores is left ignored, and so are its workers.
            if (previous_[i].sa_handler != SIG_IGN)
                sigaction(kEndingSignals[i], &forward, nullptr);
        }
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &previousPipe_);
    }
    ~SignalsToWorkers() { restore(); }
    SignalsToWorkers(const SignalsToWorkers&) = delete;
    SignalsToWorkers& operator=(const SignalsToWorkers&) = delete;

    // The dispositions from before, as a worker starts with them.
    void restore() const {
        for (size_t i = 0; i < std::size(kEndingSignals); ++i)
            sigaction(kEndingSignals[i], &previous_[i], nullptr);
        sigaction(SIGPIPE, &previousPipe_, nullptr);
    }

  private:
    struct sigaction previous_[std::size(kEndingSignals)];
    struct sigaction previousPipe_;
};

// ---- The workers ----

// The first message of a worker: the module loaded and the settings taken
// (the module's path as text), or why not.
constexpr int32_t kReady = INT32_MIN;

// Loads the scene's module and settings, says so, then renders the frames
// the parent sends until its command pipe closes or a frame fails. Never
// returns.
[[noreturn]] void workerMain(const SceneFile& scene, const std::string& builtModule,
                             const std::string& pattern, int threads, int commands, int results) {
    setImageThreads(threads);
    std::unique_ptr<SceneRenderer> renderer;
    Result ready{kReady, true, "", false, {}};
    try {
        renderer = std::make_unique<SceneRenderer>(scene, builtModule);
        ready.text = renderer->modulePath();
    } catch (const std::exception& e) {
        ready = {kReady, false, e.what(), false, {}};
    }
    sendResult(results, ready);
    int32_t frame = 0;
    while (renderer && readWhole(commands, &frame, sizeof frame)) {
        Result r{frame, false, "", false, {}};
        try {
            const FrameReport report = renderer->renderFrame(frame, framePath(pattern, frame));
            r.text = frameSummary(report);
            r.cryptomatte = report.cryptomatte;
            r.ids.assign(report.surfaceIdsHeld.begin(), report.surfaceIdsHeld.end());
            r.ok = true;
        } catch (const std::bad_alloc&) {
            r.text = "frame " + std::to_string(frame) + " of scene '" + scene.path +
                     "': not enough memory to render it";
        } catch (const std::exception& e) {
            r.text = e.what();
        }
        sendResult(results, r);
        if (!r.ok)
            break;
    }
    renderer.reset();
    // Not exit(): the buffers and static objects it would flush and destroy
    // are copies of the parent's.
    _exit(0);
}

void closeFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

std::string startFailure() {
    return std::string("cannot start a worker: ") + std::strerror(errno);
}

// The worker processes and their pipes. Its end closes every pipe and waits
// for every worker.
class WorkerPool {
  public:
    struct Worker {
        pid_t pid = -1;
        int commands = -1; // write end
        int results = -1;  // read end
        int frame = -1;    // the frame handed to it and not answered, or -1
        std::string buffer;
    };

    WorkerPool() = default;
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool() { end(); }

    // Closes every pipe, waits for every worker to end and gives the stop
    // signals back their dispositions from before.
    void end() {
        for (Worker& w : workers_) {
            closeFd(w.commands);
            closeFd(w.results);
            if (w.pid > 0)
                waitForChild(w.pid);
            w.pid = -1;
        }
        gWorkerCount = 0;
        signals_.restore();
    }

    // After a stop signal: once every worker has ended (each has the signal
    // too, and leaves whole images only), ends this process as the signal
    // would have ended it.
    void endIfStopped() {
        if (!gStopSignal)
            return;
        const int signal = gStopSignal;
        end();
        raise(signal);
    }

    std::vector<Worker>& workers() { return workers_; }

    // Starts `count` workers and waits until each has its module loaded;
    // returns the module's path. A worker that cannot start its filter
    // throws its failure.
    std::string start(int count, const SceneFile& scene, const std::string& builtModule,
                      const std::string& pattern, int threads) {
        workers_.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count && !gStopSignal; ++i) {
            workers_.push_back(fork(scene, builtModule, pattern, threads));
            gWorkers[i] = workers_.back().pid;
            gWorkerCount = i + 1;
        }
        std::string module;
        for (Worker& w : workers_) {
            Result ready;
            if (!readResult(w.results, &ready) || ready.frame != kReady)
                throw AppError("a worker ended before it loaded the module");
            if (!ready.ok)
                throw AppError(ready.text);
            module = ready.text;
        }
        return module;
    }

  private:
    std::vector<Worker> workers_;
    SignalsToWorkers signals_;

    Worker fork(const SceneFile& scene, const std::string& builtModule, const std::string& pattern,
                int threads) {
        int commands[2], results[2];
        if (pipe(commands) != 0)
            throw AppError(startFailure());
        if (pipe(results) != 0) {
            close(commands[0]);
            close(commands[1]);
            throw AppError(startFailure());
        }
        const pid_t parent = getpid();
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid < 0) {
            for (int fd : {commands[0], commands[1], results[0], results[1]})
                close(fd);
            throw AppError(startFailure());
        }
        if (pid == 0) {
            signals_.restore();
            // A worker does not outlive the parent that hands it frames.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent)
                _exit(1);
            close(commands[1]);
            close(results[0]);
            // The other workers' pipe ends are the parent's: they must close
            // when the parent closes them.
            for (Worker& other : workers_) {
                closeFd(other.commands);
                closeFd(other.results);
            }
            workerMain(scene, builtModule, pattern, threads, commands[0], results[1]);
        }
        close(commands[0]);
        close(results[1]);
        Worker w;
        w.pid = pid;
        w.commands = commands[1];
        w.results = results[0];
        return w;
    }
};

// ---- The parent's view of the sequence ----

// A bar on the terminal while a sequence renders: frames done, frames a
// second and the time left. Nothing when stderr is not a terminal or there
// is one frame.
class ProgressBar {
  public:
    explicit ProgressBar(int total) : total_(total), active_(total > 1 && isatty(2)) {}
    void show(int done, int rendered, double seconds) const {
        if (!active_)
            return;
        const int width = 30;
        const int filled = done * width / total_;
        std::string speed;
        if (rendered > 0 && seconds > 0.0) {
            const double rate = rendered / seconds;
            const int left = static_cast<int>((total_ - done) / rate + 0.5);
            char text[80];
            std::snprintf(text, sizeof text, "  %.2f frames/s  %d:%02d left", rate, left / 60,
                          left % 60);
            speed = text;
        }
        std::fprintf(stderr, "\r[%s%s] %d/%d frames%s\033[K", std::string(filled, '#').c_str(),
                     std::string(width - filled, '.').c_str(), done, total_, speed.c_str());
        std::fflush(stderr);
    }
    // The line left once the sequence is done: what the bar showed last.
    void summary(int rendered, double seconds) const {
        if (active_)
            std::fprintf(stderr, "%d frame%s rendered in %.1f s, %.2f frames/s\n", rendered,
                         rendered == 1 ? "" : "s", seconds,
                         seconds > 0.0 ? rendered / seconds : 0.0);
    }
    void clear() const {
        if (active_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
        }
    }

  private:
    int total_;
    bool active_;
};

// Prints each frame's lines once every frame before it has printed.
class OrderedLines {
  public:
    OrderedLines(int first, const ProgressBar& bar) : next_(first), bar_(bar) {}
    void add(int frame, std::string text) { waiting_[frame] = std::move(text); }
    // Prints what is ready; with `all`, also what waits behind a gap.
    void flush(bool all = false) {
        bool printed = false;
        for (auto it = waiting_.begin(); it != waiting_.end() && (all || it->first == next_);) {
            if (!printed)
                bar_.clear();
            printed = true;
            std::fputs(it->second.c_str(), stdout);
            next_ = it->first + 1;
            it = waiting_.erase(it);
        }
        if (printed)
            std::fflush(stdout);
    }

  private:
    int next_;
    std::map<int, std::string> waiting_;
    const ProgressBar& bar_;
};

} // namespace

int availableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

namespace {

// A Cryptomatte surface whose id no rendered frame's pixels hold glows
// nothing (a name typed wrongly, an object out of shot): each is named.
void warnOfSurfacesNotHeld(const SceneFile& scene, FrameRange range, bool allRendered,
                           const std::set<uint32_t>& held) {
    for (const SurfaceEntry& surface : scene.surfaces)
        if (!held.count(surfaceId(surface)))
            std::fprintf(stderr,
                         "orvit: warning: surface %s is in no pixel of the Cryptomatte of %s "
                         "%d-%d ('%s'): it glows nothing\n",
                         standin::printableLine(surfaceLabel(surface)).c_str(),
                         allRendered ? "frames" : "the frames rendered of", range.first, range.last,
                         scene.passes.special.c_str());
}

} // namespace

std::string renderSequence(const RenderRequest& request, const std::string& builtModule) {
    Sequence sequence = readSequence(request);
    SceneFile& scene = sequence.scene;
    if (!request.module.empty())
        scene.module = request.module;
    const FrameRange range = sequence.range;
    const std::string& pattern = sequence.output;
    checkOutputSparesInputs(scene, pattern, range);
    if (request.jobs < 0)
        throw AppError("--jobs " + std::to_string(request.jobs) + ": give 1 worker or more");
    const fs::path folder = fs::path(pattern).parent_path();
    const std::string outputFolder = wholePath(folder.empty() ? "." : folder.string());

    const int total = range.last - range.first + 1;
    std::vector<int> missing;
    if (request.skipExisting)
        missing = missingFrames(pattern, range);
    std::deque<int> queue;
    std::map<int, std::string> skipped;
    for (int frame = range.first; frame <= range.last; ++frame) {
        if (!request.skipExisting || std::binary_search(missing.begin(), missing.end(), frame))
            queue.push_back(frame);
        else
            skipped[frame] = "frame " + std::to_string(frame) + "  already there -> " +
                             framePath(pattern, frame) + "\n";
    }
    if (queue.empty()) {
        std::printf("rendering %s, frames %d-%d: every image is already there\n",
                    scene.path.c_str(), range.first, range.last);
        for (const auto& [frame, text] : skipped)
            std::fputs(text.c_str(), stdout);
        return outputFolder;
    }
    // Each worker holds a loaded module and a frame's planes: never more
    // workers than frames.
    const int cpus = availableCpus();
    const int jobs = std::min({request.jobs > 0 ? request.jobs : cpus,
                               static_cast<int>(queue.size()), static_cast<int>(kMaxWorkers)});

    // The workers load the module and its settings before anything is made
    // on disk, so that settings it did not take leave nothing behind. EXR
    // blocks decode on the CPUs the workers leave.
    gStopSignal = 0;
    WorkerPool pool;
    std::string modulePath;
    try {
        modulePath = pool.start(jobs, scene, builtModule, pattern, std::max(1, cpus / jobs));
    } catch (const AppError&) {
        pool.endIfStopped();
        throw;
    }
    pool.endIfStopped();
    const std::vector<std::string> madeFolders = prepareOutputFolder(pattern);
    // A run that ends before it wrote an image leaves no folder it made.
    struct RemoveEmptyMadeFolders {
        const std::vector<std::string>& made;
        ~RemoveEmptyMadeFolders() { removeEmptyFolders(made); }
    } removeEmptyMadeFolders{madeFolders};
    std::vector<std::string> outputs;
    for (const int frame : queue)
        outputs.push_back(framePath(pattern, frame));
    // What writers killed earlier left of these frames (another host's file
    // may be a farm task's write under way).
    removeStaleTemporaries(outputs, OtherHosts::MayBeWriting);
    std::printf("rendering %s, frames %d-%d, with %s, %d worker%s\n", scene.path.c_str(),
                range.first, range.last, modulePath.c_str(), jobs, jobs == 1 ? "" : "s");
    std::fflush(stdout);

    ProgressBar bar(total);
    OrderedLines lines(range.first, bar);
    for (auto& [frame, text] : skipped)
        lines.add(frame, std::move(text));
    lines.flush();
    int done = static_cast<int>(skipped.size());
    int rendered = 0;
    bar.show(done, rendered, 0.0);

    const auto start = Clock::now();
    Result failure;
    bool failed = false;
    bool cryptomatte = false; // some frame's special pass is a Cryptomatte
    std::set<uint32_t> held;  // the ids of surfaces its frames hold
    auto fail = [&](int frame, std::string text) {
        if (!failed || frame < failure.frame)
            failure = {frame, false, std::move(text), false, {}};
        failed = true;
        lines.add(frame, ""); // its line is the error, printed last
    };
    auto handOut = [&](WorkerPool::Worker& w) {
        if (!failed && !queue.empty() && !gStopSignal) {
            const int32_t frame = queue.front();
            if (writeWhole(w.commands, &frame, sizeof frame)) {
                queue.pop_front();
                w.frame = frame;
                return;
            }
        }
        closeFd(w.commands);
    };
    for (WorkerPool::Worker& w : pool.workers())
        handOut(w);

    while (!gStopSignal) {
        std::vector<pollfd> fds;
        std::vector<WorkerPool::Worker*> polled;
        for (WorkerPool::Worker& w : pool.workers())
            if (w.results >= 0) {
                fds.push_back({w.results, POLLIN, 0});
                polled.push_back(&w);
            }
        if (fds.empty())
            break;
        if (poll(fds.data(), fds.size(), -1) < 0)
            continue; // a signal: the loop's test sees a stop
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            WorkerPool::Worker& w = *polled[i];
            char chunk[4096];
            const ssize_t n = read(w.results, chunk, sizeof chunk);
            if (n < 0)
                continue;
            if (n > 0) {
                w.buffer.append(chunk, static_cast<size_t>(n));
                for (Result& r : takeResults(w.buffer)) {
                    w.frame = -1;
                    ++done;
                    if (r.ok) {
                        ++rendered;
                        lines.add(r.frame, std::move(r.text));
                        cryptomatte = cryptomatte || r.cryptomatte;
                        held.insert(r.ids.begin(), r.ids.end());
                    } else {
                        fail(r.frame, std::move(r.text));
                    }
                    lines.flush();
                    bar.show(done, rendered,
                             std::chrono::duration<double>(Clock::now() - start).count());
                    handOut(w);
                }
                continue;
            }
            // The worker ended: after its last frame, or in the middle of one.
            closeFd(w.results);
            closeFd(w.commands);
            if (w.frame >= 0 && !gStopSignal) {
                const int status = waitForChild(w.pid);
                w.pid = -1;
                // A worker killed mid-write could not remove its temporary file.
                removeStaleTemporaries({framePath(pattern, w.frame)}, OtherHosts::MayBeWriting);
                fail(w.frame,
                     "the worker rendering frame " + std::to_string(w.frame) +
                         (WIFSIGNALED(status)
                              ? " was ended by signal " + std::to_string(WTERMSIG(status))
                              : " ended with status " + std::to_string(WEXITSTATUS(status))));
                w.frame = -1;
            }
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    bar.clear();
    if (gStopSignal) {
        pool.end();
        lines.flush(true);
        std::fprintf(stderr,
                     "orvit: stopped by signal %d with %d of %d frames written; run the same "
                     "command with --skip-existing to render the rest\n",
                     static_cast<int>(gStopSignal), rendered,
                     total - static_cast<int>(skipped.size()));
        std::fflush(stderr);
        removeEmptyFolders(madeFolders);
        pool.endIfStopped();
    }
    lines.flush(true);
    if (failed)
        throw AppError(failure.text);
    bar.summary(rendered, seconds);
    if (cryptomatte)
        warnOfSurfacesNotHeld(scene, range, skipped.empty(), held);
    return outputFolder;
}

} // namespace orvit::app
