#include "orvit/sequence/worker_pool.h"

#include "orvit/core/host_error.h"
#include "orvit/files/process_runner.h"
#include "orvit/files/removed_on_signal.h"
#include "orvit/files/whole_io.h"
#include "orvit/images/image_input.h"
#include "orvit/scene/frame_pattern.h"
#include "orvit/sequence/scene_render.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvit::sequence {
namespace {

// ---- Messages between the parent and its workers ----

// frame, ok, text length, id count (-1: the special pass is no Cryptomatte)
constexpr size_t kHeaderSize = 4 * sizeof(int32_t);

void sendResult(int fd, const WorkerResult& r) {
    const int32_t header[4] = {r.frame, r.ok ? 1 : 0, static_cast<int32_t>(r.text.size()),
                               r.cryptomatte ? static_cast<int32_t>(r.ids.size()) : -1};
    std::string message(reinterpret_cast<const char*>(header), kHeaderSize);
    message += r.text;
    if (!r.ids.empty())
        message.append(reinterpret_cast<const char*>(r.ids.data()),
                       r.ids.size() * sizeof(uint32_t));
    files::writeWhole(fd, message.data(), message.size());
}

// The length of the whole message at the front of `buffer`: header, text
// and ids.
size_t messageLength(const std::string& buffer) {
    int32_t header[4];
    std::memcpy(header, buffer.data(), kHeaderSize);
    return kHeaderSize + static_cast<size_t>(header[2]) +
           static_cast<size_t>(std::max(header[3], 0)) * sizeof(uint32_t);
}

// Waits for one whole message on `fd`; false when the pipe ends first.
bool readResult(int fd, WorkerResult* result) {
    std::string buffer(kHeaderSize, '\0');
    if (!files::readWhole(fd, buffer.data(), kHeaderSize))
        return false;
    buffer.resize(messageLength(buffer));
    if (!files::readWhole(fd, buffer.data() + kHeaderSize, buffer.size() - kHeaderSize))
        return false;
    *result = std::move(takeResults(buffer).front());
    return true;
}

// ---- Signals ----

// The workers, for the handler below: only plain values, which a handler may
// read.
pid_t gWorkers[kMaxWorkers];
volatile std::sig_atomic_t gWorkerCount = 0;
volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void stopWorkers(int signal) {
    gStopSignal = signal;
    for (std::sig_atomic_t i = 0; i < gWorkerCount; ++i)
        kill(gWorkers[i], signal);
}

} // namespace

// While it lives, a stop signal reaches every worker and is remembered, so
// that the parent can wait for them before it ends by the same signal; and a
// worker's closed pipe is an error to write to, not the end of the parent.
class SignalsToWorkers {
  public:
    SignalsToWorkers() {
        struct sigaction forward {};
        forward.sa_handler = stopWorkers;
        sigemptyset(&forward.sa_mask);
        for (size_t i = 0; i < std::size(files::kEndingSignals); ++i) {
            sigaction(files::kEndingSignals[i], nullptr, &previous_[i]);
            // A signal the process ignores is left ignored, and so are its workers.
            if (previous_[i].sa_handler != SIG_IGN)
                sigaction(files::kEndingSignals[i], &forward, nullptr);
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
        for (size_t i = 0; i < std::size(files::kEndingSignals); ++i)
            sigaction(files::kEndingSignals[i], &previous_[i], nullptr);
        sigaction(SIGPIPE, &previousPipe_, nullptr);
    }

  private:
    struct sigaction previous_[std::size(files::kEndingSignals)];
    struct sigaction previousPipe_;
};

namespace {

// ---- The workers ----

// The first message of a worker: the module loaded and the settings taken
// (the module's path as text), or why not.
constexpr int32_t kReady = INT32_MIN;

// Loads the scene's module and settings, says so, then renders the frames
// the parent sends until its command pipe closes or a frame fails. Never
// returns.
[[noreturn]] void workerMain(const scene::SceneFile& scene, const std::string& builtModule,
                             const std::string& pattern, int threads, int commands, int results) {
    images::setImageThreads(threads);
    std::unique_ptr<SceneRenderer> renderer;
    WorkerResult ready{kReady, true, "", false, {}};
    try {
        renderer = std::make_unique<SceneRenderer>(scene, builtModule);
        ready.text = renderer->modulePath();
    } catch (const std::exception& e) {
        ready = {kReady, false, e.what(), false, {}};
    }
    sendResult(results, ready);
    int32_t frame = 0;
    while (renderer && files::readWhole(commands, &frame, sizeof frame)) {
        WorkerResult r{frame, false, "", false, {}};
        try {
            const FrameReport report =
                renderer->renderFrame(frame, scene::framePath(pattern, frame));
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

std::string startFailure() {
    return std::string("cannot start a worker: ") + std::strerror(errno);
}

} // namespace

// Takes the whole messages at the front of `buffer`.
std::vector<WorkerResult> takeResults(std::string& buffer) {
    std::vector<WorkerResult> results;
    while (buffer.size() >= kHeaderSize) {
        const size_t length = messageLength(buffer);
        if (buffer.size() < length)
            break;
        int32_t header[4];
        std::memcpy(header, buffer.data(), kHeaderSize);
        WorkerResult r{header[0], header[1] != 0, buffer.substr(kHeaderSize, header[2]),
                       header[3] >= 0, std::vector<uint32_t>(std::max(header[3], 0))};
        if (!r.ids.empty())
            std::memcpy(r.ids.data(), buffer.data() + kHeaderSize + header[2],
                        r.ids.size() * sizeof(uint32_t));
        results.push_back(std::move(r));
        buffer.erase(0, length);
    }
    return results;
}

int stopSignal() {
    return gStopSignal;
}

WorkerPool::WorkerPool() {
    gStopSignal = 0;
    signals_ = std::make_unique<SignalsToWorkers>();
}

WorkerPool::~WorkerPool() {
    end();
}

void WorkerPool::end() {
    for (Worker& w : workers_) {
        w.commands.close();
        w.results.close();
        if (w.pid > 0)
            files::waitForChild(w.pid);
        w.pid = -1;
    }
    gWorkerCount = 0;
    signals_->restore();
}

void WorkerPool::endIfStopped() {
    if (!gStopSignal)
        return;
    const int signal = gStopSignal;
    end();
    raise(signal);
}

std::string WorkerPool::start(int count, const scene::SceneFile& scene,
                              const std::string& builtModule, const std::string& pattern,
                              int threads) {
    workers_.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count && !gStopSignal; ++i) {
        workers_.push_back(fork(scene, builtModule, pattern, threads));
        gWorkers[i] = workers_.back().pid;
        gWorkerCount = i + 1;
    }
    std::string module;
    for (Worker& w : workers_) {
        WorkerResult ready;
        if (!readResult(w.results.get(), &ready) || ready.frame != kReady)
            throw core::AppError("a worker ended before it loaded the module");
        if (!ready.ok)
            throw core::AppError(ready.text);
        module = ready.text;
    }
    return module;
}

WorkerPool::Worker WorkerPool::fork(const scene::SceneFile& scene, const std::string& builtModule,
                                    const std::string& pattern, int threads) {
    files::Pipe commands, results;
    if (!files::makePipe(&commands) || !files::makePipe(&results))
        throw core::AppError(startFailure());
    const pid_t parent = getpid();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw core::AppError(startFailure());
    if (pid == 0) {
        signals_->restore();
        // A worker does not outlive the parent that hands it frames.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        commands.write.close();
        results.read.close();
        // The other workers' pipe ends are the parent's: they must close
        // when the parent closes them.
        for (Worker& other : workers_) {
            other.commands.close();
            other.results.close();
        }
        workerMain(scene, builtModule, pattern, threads, commands.read.get(), results.write.get());
    }
    Worker w;
    w.pid = pid;
    w.commands = std::move(commands.write);
    w.results = std::move(results.read);
    return w;
}

} // namespace orvit::sequence
