#include "orvit/sequence/sequence.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/files/paths.h"
#include "orvit/files/process_runner.h"
#include "orvit/files/temporary_files.h"
#include "orvit/files/whole_io.h"
#include "orvit/passes/passes.h"
#include "orvit/scene/scene_file.h"
#include "orvit/sequence/progress.h"
#include "orvit/sequence/scene_render.h"
#include "orvit/sequence/worker_pool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <poll.h>
#include <sched.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvit::sequence {
namespace {

using Clock = std::chrono::steady_clock;

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
void warnOfSurfacesNotHeld(const scene::SceneFile& scene, scene::FrameRange range, bool allRendered,
                           const std::set<uint32_t>& held) {
    for (const scene::SurfaceEntry& surface : scene.surfaces)
        if (!held.count(passes::surfaceId(surface)))
            std::fprintf(stderr,
                         "orvit: warning: surface %s is in no pixel of the Cryptomatte of %s "
                         "%s ('%s'): it glows nothing\n",
                         core::printableLine(scene::surfaceLabel(surface)).c_str(),
                         allRendered ? "frames" : "the frames rendered of",
                         scene::rangeText(range).c_str(), scene.passes.special.c_str());
}

} // namespace

std::string renderSequence(const RenderRequest& request, const std::string& builtModule) {
    Sequence sequence = readSequence(request);
    scene::SceneFile& scene = sequence.scene;
    if (!request.module.empty())
        scene.module = request.module;
    const scene::FrameRange range = sequence.range;
    const std::string& pattern = sequence.output;
    checkOutputSparesInputs(scene, pattern, range);
    if (request.jobs < 0)
        throw core::AppError("--jobs " + std::to_string(request.jobs) + ": give 1 worker or more");
    const fs::path folder = fs::path(pattern).parent_path();
    const std::string outputFolder = files::wholePath(folder.empty() ? "." : folder.string());

    const int total = range.last - range.first + 1;
    std::vector<int> missing;
    if (request.skipExisting)
        missing = scene::missingFrames(pattern, range);
    std::deque<int> queue;
    std::map<int, std::string> skipped;
    for (int frame = range.first; frame <= range.last; ++frame) {
        if (!request.skipExisting || std::binary_search(missing.begin(), missing.end(), frame))
            queue.push_back(frame);
        else
            skipped[frame] = "frame " + std::to_string(frame) + "  already there -> " +
                             scene::framePath(pattern, frame) + "\n";
    }
    if (queue.empty()) {
        std::printf("rendering %s, frames %s: every image is already there\n", scene.path.c_str(),
                    scene::rangeText(range).c_str());
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
    WorkerPool pool;
    std::string modulePath;
    try {
        modulePath = pool.start(jobs, scene, builtModule, pattern, std::max(1, cpus / jobs));
    } catch (const core::AppError&) {
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
        outputs.push_back(scene::framePath(pattern, frame));
    // What writers killed earlier left of these frames (another host's file
    // may be a farm task's write under way).
    files::removeStaleTemporaries(outputs, files::OtherHosts::MayBeWriting);
    std::printf("rendering %s, frames %s, with %s, %d worker%s\n", scene.path.c_str(),
                scene::rangeText(range).c_str(), modulePath.c_str(), jobs, jobs == 1 ? "" : "s");
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
    WorkerResult failure;
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
        if (!failed && !queue.empty() && stopSignal() == 0) {
            const int32_t frame = queue.front();
            if (files::writeWhole(w.commands.get(), &frame, sizeof frame)) {
                queue.pop_front();
                w.frame = frame;
                return;
            }
        }
        w.commands.close();
    };
    for (WorkerPool::Worker& w : pool.workers())
        handOut(w);

    while (stopSignal() == 0) {
        std::vector<pollfd> fds;
        std::vector<WorkerPool::Worker*> polled;
        for (WorkerPool::Worker& w : pool.workers())
            if (w.results) {
                fds.push_back({w.results.get(), POLLIN, 0});
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
            const ssize_t n = read(w.results.get(), chunk, sizeof chunk);
            if (n < 0)
                continue;
            if (n > 0) {
                w.buffer.append(chunk, static_cast<size_t>(n));
                for (WorkerResult& r : takeResults(w.buffer)) {
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
            w.results.close();
            w.commands.close();
            if (w.frame >= 0 && stopSignal() == 0) {
                const int status = files::waitForChild(w.pid);
                w.pid = -1;
                // A worker killed mid-write could not remove its temporary file.
                files::removeStaleTemporaries({scene::framePath(pattern, w.frame)},
                                              files::OtherHosts::MayBeWriting);
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
    if (stopSignal() != 0) {
        pool.end();
        lines.flush(true);
        std::fprintf(stderr,
                     "orvit: stopped by signal %d with %d of %d frames written; run the same "
                     "command with --skip-existing to render the rest\n",
                     stopSignal(), rendered, total - static_cast<int>(skipped.size()));
        std::fflush(stderr);
        removeEmptyFolders(madeFolders);
        pool.endIfStopped();
    }
    lines.flush(true);
    if (failed)
        throw core::AppError(failure.text);
    bar.summary(rendered, seconds);
    if (cryptomatte)
        warnOfSurfacesNotHeld(scene, range, skipped.empty(), held);
    return outputFolder;
}

} // namespace orvit::sequence
