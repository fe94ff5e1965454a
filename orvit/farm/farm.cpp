#include "orvit/farm/farm.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/farm/batch_script.h"
#include "orvit/farm/farm_plan.h"
#include "orvit/farm/jobs_file.h"
#include "orvit/farm/sbatch_options.h"
#include "orvit/farm/slurm_answers.h"
#include "orvit/files/atomic_file.h"
#include "orvit/files/paths.h"
#include "orvit/files/process_runner.h"
#include "orvit/files/temporary_files.h"
#include "orvit/images/image_input.h"
#include "orvit/scene/scene_file.h"
#include "orvit/sequence/scene_render.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;

namespace orvit::farm {
namespace {

// Frame size assumed when the first frame's colour pass cannot be read.
constexpr int64_t kFallbackPixels = 1920 * 1080;
// How long --replace waits for cancelled tasks to end: Slurm's default
// KillWait (30 s) between the signal and the kill, and some to spare.
constexpr int kCancelWaitSeconds = 60;

// Pixels of one frame, from the header of its colour pass.
int64_t framePixels(const std::string& colourPass) {
    try {
        return static_cast<int64_t>(images::openImage(colourPass)->pixelCount());
    } catch (const images::ImageError&) {
        return kFallbackPixels;
    }
}

// The request read, with the output pattern made whole for the nodes.
sequence::Sequence readFarmSequence(const FarmRequest& request) {
    sequence::Sequence s = sequence::readSequence(request);
    s.output = files::wholePath(s.output);
    return s;
}

// The jobs of the jobs file that render frames of `range`.
std::vector<SubmittedJob> jobsFor(const FarmFiles& files, scene::FrameRange range) {
    std::vector<SubmittedJob> jobs = readJobs(files.jobs());
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [&](const SubmittedJob& j) {
                                  return std::none_of(j.tasks.begin(), j.tasks.end(),
                                                      [&](const scene::FrameRange& t) {
                                                          return t.last >= range.first &&
                                                                 t.first <= range.last;
                                                      });
                              }),
               jobs.end());
    return jobs;
}

// The images of the frames of `ranges`.
std::vector<std::string> framePaths(const std::string& pattern,
                                    const std::vector<scene::FrameRange>& ranges) {
    std::vector<std::string> paths;
    for (const scene::FrameRange& r : ranges)
        for (int frame = r.first; frame <= r.last; ++frame)
            paths.push_back(scene::framePath(pattern, frame));
    return paths;
}

// Ascending frames as ranges of one frame each.
std::vector<scene::FrameRange> ranges(const std::vector<int>& frames) {
    std::vector<scene::FrameRange> r;
    for (int frame : frames)
        r.push_back({frame, frame});
    return r;
}

// "2 unfinished files of writers that are gone: .a.tmp-..., .b.tmp-...".
std::string unfinishedText(const std::vector<std::string>& paths) {
    return std::to_string(paths.size()) +
           (paths.size() > 1 ? " unfinished files of writers that are gone: "
                             : " unfinished file of a writer that is gone: ") +
           core::joined(paths,
                        [](const std::string& p) { return fs::path(p).filename().string(); });
}

// A task's log, or nothing where there is none yet (a pending task's).
std::string logText(const std::string& path) {
    struct stat s {};
    if (lstat(path.c_str(), &s) != 0 && errno == ENOENT)
        return "";
    return files::readRegularFile(path, "task log '" + path + "'", files::kTaskLogLimit);
}

std::string slurmCommand(const std::string& name) {
    const std::string path = files::findOnPath(name);
    if (path.empty())
        throw core::AppError("no '" + name + "' on the PATH: orvit farm needs Slurm's commands");
    return path;
}

// "41,42" for Slurm's -j.
std::string jobIds(const std::vector<SubmittedJob>& jobs) {
    return core::joined(
        jobs, [](const SubmittedJob& job) { return job.id; }, ",");
}

// The runs of every task as Slurm's accounting keeps them (a requeued task's
// earlier runs among them), where the cluster keeps accounting; none where
// it keeps none or sacct fails, since squeue and the logs tell the rest.
std::vector<AccountedRun> accountedRuns(const std::vector<SubmittedJob>& jobs) {
    const std::string sacct = files::findOnPath("sacct");
    if (sacct.empty())
        return {};
    const files::ProgramResult run = files::runProgram(
        {sacct, "-n", "-P", "-D", "-X", "-j", jobIds(jobs), "-o", "JobID,State,NodeList"});
    return run.exitCode == 0 ? parseAccountedRuns(run.out) : std::vector<AccountedRun>{};
}

// Every task Slurm knows of `jobs`; none when it knows none of them. An
// AppError naming squeue and its message when squeue fails otherwise (the
// controller cannot be reached, say): that is no answer about the jobs.
std::vector<SlurmTask> queryTasks(const std::vector<SubmittedJob>& jobs) {
    const files::ProgramResult run = files::runProgram(
        {slurmCommand("squeue"), "-h", "-r", "-t", "all", "-j", jobIds(jobs), "-O", kSqueueFormat});
    if (run.exitCode != 0) {
        const std::string message = core::firstLine(run.err.empty() ? run.out : run.err);
        // squeue's answer for one job id it does not know.
        if (message.find("Invalid job id specified") != std::string::npos)
            return {};
        throw core::AppError("squeue failed (exit " + std::to_string(run.exitCode) +
                             "): " + (message.empty() ? "no message" : message));
    }
    return parseSlurmTasks(run.out);
}

// A task of a submitted job, with what Slurm knows of it when it does.
struct FarmTask {
    const SubmittedJob* job;
    int task;
    scene::FrameRange frames;
    const SlurmTask* slurm; // null when Slurm no longer knows it
    bool mayRender() const { return slurm && !taskIsOver(slurm->state); }
    std::string name() const { return job->id + "_" + std::to_string(task); }
};

std::vector<FarmTask> farmTasks(const std::vector<SubmittedJob>& jobs,
                                const std::vector<SlurmTask>& known) {
    std::vector<FarmTask> tasks;
    for (const SubmittedJob& job : jobs)
        for (size_t i = 0; i < job.tasks.size(); ++i) {
            const auto it = std::find_if(known.begin(), known.end(), [&](const SlurmTask& t) {
                return t.job == job.id && t.task == static_cast<int>(i);
            });
            tasks.push_back(
                {&job, static_cast<int>(i), job.tasks[i], it == known.end() ? nullptr : &*it});
        }
    return tasks;
}

// "PENDING (BeginTime), starts 2026-12-07T23:45:01" or "RUNNING on n2".
std::string stateText(const SlurmTask& t) {
    std::string text = t.state;
    if (!t.reason.empty())
        text += " (" + t.reason + ")";
    if (t.state == "PENDING" && !t.start.empty())
        text += ", starts " + t.start;
    if (t.state == "RUNNING" && !t.nodes.empty())
        text += " on " + t.nodes;
    return text;
}

// Cancels `tasks` and waits until Slurm has them all over, so that none is
// still writing when their frames are submitted again.
void cancelTasks(const std::vector<FarmTask>& tasks, const std::vector<SubmittedJob>& jobs) {
    std::vector<std::string> args = {slurmCommand("scancel")};
    for (const FarmTask& t : tasks)
        args.push_back(t.name());
    const files::ProgramResult run = files::runProgram(args);
    if (run.exitCode != 0)
        throw core::AppError("scancel failed (exit " + std::to_string(run.exitCode) + "): " +
                             core::firstLine(run.err.empty() ? run.out : run.err, "no message"));
    for (int tries = 0; tries < kCancelWaitSeconds * 4; ++tries) {
        const std::vector<SlurmTask> known = queryTasks(jobs);
        const std::vector<FarmTask> now = farmTasks(jobs, known);
        if (std::none_of(now.begin(), now.end(), [&](const FarmTask& t) {
                return t.mayRender() && std::any_of(tasks.begin(), tasks.end(),
                                                    [&](auto& c) { return c.name() == t.name(); });
            }))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    throw core::AppError("the cancelled tasks have not ended after " +
                         std::to_string(kCancelWaitSeconds) + " s: submit again once they have");
}

} // namespace

void farmSubmit(const FarmRequest& request, const std::string& program,
                const std::string& builtModule) {
    const sequence::Sequence s = readFarmSequence(request);
    sequence::checkOutputSparesInputs(s.scene, s.output, s.range);
    if (s.range.first < 0)
        throw core::AppError("frames " + scene::rangeText(s.range) +
                             ": farm tasks take frame numbers from 0 (--frames)");
    const int total = s.range.last - s.range.first + 1;
    if (request.chunk < 0)
        throw core::AppError("--chunk " + std::to_string(request.chunk) +
                             ": a task needs 1 frame or more");
    if (request.cpus < 1)
        throw core::AppError("--cpus " + std::to_string(request.cpus) +
                             ": a task needs 1 CPU or more");
    for (const std::string& option : request.slurm.extra)
        checkSbatchOption(option);
    const std::string sbatch = slurmCommand("sbatch");

    // The module and its settings are checked here, not in every task.
    { const sequence::SceneRenderer renderer(s.scene, builtModule); }
    const FarmFiles files = farmFiles(s.output);
    std::vector<int> missing = scene::missingFrames(s.output, s.range);
    auto allDone = [&] {
        if (missing.empty())
            std::printf("frames %s of %s are all done: nothing to submit\n",
                        scene::rangeText(s.range).c_str(), s.scene.path.c_str());
        return missing.empty();
    };
    if (allDone())
        return;

    // Frames that a task of an earlier job may still render (a running task,
    // or one Slurm requeued after its node was lost) are not submitted again.
    const std::vector<SubmittedJob> earlier = jobsFor(files, s.range);
    const std::vector<SlurmTask> known =
        earlier.empty() ? std::vector<SlurmTask>{} : queryTasks(earlier);
    std::vector<FarmTask> holding;
    for (const FarmTask& t : farmTasks(earlier, known))
        if (t.mayRender())
            holding.push_back(t);
    if (request.replace && !holding.empty()) {
        cancelTasks(holding, earlier);
        std::printf("cancelled %zu task%s of earlier jobs\n", holding.size(),
                    holding.size() > 1 ? "s" : "");
        holding.clear();
        // What they finished before they ended is not rendered again.
        missing = scene::missingFrames(s.output, s.range);
        if (allDone())
            return;
    }
    std::vector<int> held;
    for (const FarmTask& t : holding)
        for (int f = std::max(t.frames.first, s.range.first);
             f <= std::min(t.frames.last, s.range.last); ++f)
            held.push_back(f);
    std::sort(held.begin(), held.end());
    held.erase(std::unique(held.begin(), held.end()), held.end());

    const int chunk =
        request.chunk > 0
            ? request.chunk
            : defaultChunk(framePixels(scene::framePath(s.scene.passes.colour, missing[0])), total,
                           request.cpus);
    const std::vector<scene::FrameRange> tasks = planTasks(s.range, chunk, missing, held);
    for (const FarmTask& t : holding)
        std::printf("held    frames %s by task %d of job %s: %s\n",
                    scene::rangeText(t.frames).c_str(), t.task, t.job->id.c_str(),
                    core::printableLine(stateText(*t.slurm)).c_str());
    if (tasks.empty()) {
        std::printf("nothing to submit: the tasks above hold every missing frame (--replace "
                    "cancels them and submits their frames now)\n");
        return;
    }

    // Tasks start in the farm folder: every path they are given is whole.
    const BatchJob job{files::wholePath(program),
                       files::wholePath(s.scene.path),
                       s.output,
                       tasks,
                       files,
                       request.cpus};
    const std::string script = batchScript(job);
    std::vector<std::string> args = sbatchArguments(job, request.slurm);
    args.insert(args.begin(), sbatch);
    sequence::prepareOutputFolder(s.output);
    std::error_code ec;
    fs::create_directories(files.folder, ec);
    if (ec)
        throw core::AppError("farm folder '" + files.folder + "' cannot be made: " + ec.message());
    files::writeAtomically(files.script(), "batch script '" + files.script() + "'", script);
    // What writers now gone (a lost node's task, a killed one) left of the
    // frames the new tasks render; another host's only when no task for this
    // output may still run there.
    const std::vector<std::string> removed = files::removeStaleTemporaries(
        framePaths(s.output, tasks),
        holding.empty() ? files::OtherHosts::Finished : files::OtherHosts::MayBeWriting);
    const files::ProgramResult run = files::runProgram(args);
    if (run.exitCode != 0) {
        throw core::AppError(
            "sbatch refused the job (exit " + std::to_string(run.exitCode) +
            "): " + core::firstLine(run.err.empty() ? run.out : run.err, "no message"));
    }
    const std::string id = parseJobId(run.out);
    recordJob(files.jobs(), {id, tasks});

    size_t frames = 0;
    for (const scene::FrameRange& t : tasks)
        frames += static_cast<size_t>(t.last - t.first + 1);
    std::printf("submitted job %s: frames %s of %s, %d per task, %zu task%s (%zu frames "
                "missing%s)\n",
                id.c_str(), scene::rangeText(s.range).c_str(), s.scene.path.c_str(), chunk,
                tasks.size(), tasks.size() > 1 ? "s" : "", missing.size(),
                held.empty() ? "" : ", the held ones left out");
    if (!removed.empty())
        std::printf("removed %s\n", unfinishedText(removed).c_str());
    std::printf("images  %s\n", s.output.c_str());
    std::printf("logs    %s\n", files.log(id, 0).c_str());
    if (tasks.size() > 1)
        std::printf("        ... to %s\n",
                    files.log(id, static_cast<int>(tasks.size()) - 1).c_str());
    std::printf("script  %s\n", files.script().c_str());
}

void farmStatus(const FarmRequest& request) {
    const sequence::Sequence s = readFarmSequence(request);
    const int total = s.range.last - s.range.first + 1;
    const std::vector<int> missing = scene::missingFrames(s.output, s.range);
    std::printf("frames %s of %s -> %s\n", scene::rangeText(s.range).c_str(), s.scene.path.c_str(),
                s.output.c_str());
    std::printf("done     %d of %d\n", total - static_cast<int>(missing.size()), total);
    std::printf("missing  %s\n", missing.empty() ? "none" : scene::framesText(missing).c_str());

    const FarmFiles files = farmFiles(s.output);
    const std::vector<SubmittedJob> jobs = jobsFor(files, s.range);
    const std::vector<SlurmTask> known = jobs.empty() ? std::vector<SlurmTask>{} : queryTasks(jobs);
    const std::vector<FarmTask> tasks = farmTasks(jobs, known);
    const std::vector<AccountedRun> accounted =
        known.empty() ? std::vector<AccountedRun>{} : accountedRuns(jobs);
    std::vector<std::string> gone;
    std::vector<int> held;
    for (const SubmittedJob& job : jobs) {
        std::map<std::string, int> counts;
        for (const FarmTask& t : tasks)
            if (t.job == &job && t.slurm)
                ++counts[t.slurm->state];
        if (counts.empty()) {
            gone.push_back(job.id);
            continue;
        }
        const std::string summary = core::joined(counts, [](const auto& stateCount) {
            return std::to_string(stateCount.second) + " " + stateCount.first;
        });
        std::printf("job %s  %zu task%s: %s\n", job.id.c_str(), job.tasks.size(),
                    job.tasks.size() > 1 ? "s" : "", summary.c_str());
        for (const FarmTask& t : tasks) {
            if (t.job != &job || !t.slurm)
                continue;
            if (t.mayRender())
                for (int f = t.frames.first; f <= t.frames.last; ++f)
                    held.push_back(f);
            // The nodes of every run, from the task's log: Slurm keeps only
            // the last one's.
            const std::string log = files.log(job.id, t.task);
            const std::vector<TaskRun> runs = parseTaskRuns(logText(log));
            std::string nodes = core::joined(runs, [](const TaskRun& r) { return r.node; });
            if (nodes.empty() && t.slurm->state != "RUNNING")
                nodes = t.slurm->nodes;
            // Where Slurm keeps accounting, how each earlier run ended.
            std::vector<const AccountedRun*> earlier;
            for (const AccountedRun& a : accounted)
                if (a.job == job.id && a.task == t.task)
                    earlier.push_back(&a);
            if (!earlier.empty())
                earlier.pop_back();
            if (!earlier.empty()) {
                nodes = core::joined(earlier, [](const AccountedRun* a) {
                    return a->nodes + " (" + a->state + ")";
                });
                if (!t.slurm->nodes.empty())
                    nodes += ", " + t.slurm->nodes;
            }
            const int restarts = std::max({t.slurm->restarts, static_cast<int>(runs.size()) - 1,
                                           static_cast<int>(earlier.size())});
            // Slurm's words and the nodes the log names, escaped as all
            // text from outside is.
            std::printf("  task %-4d frames %-12s %s", t.task, scene::rangeText(t.frames).c_str(),
                        core::printableLine(stateText(*t.slurm)).c_str());
            if (restarts > 0)
                std::printf("; requeued %d time%s", restarts, restarts > 1 ? "s" : "");
            if (!nodes.empty() && (restarts > 0 || t.slurm->state != "RUNNING"))
                std::printf("%s ran on %s", restarts > 0 ? "," : ";",
                            core::printableLine(nodes).c_str());
            if (t.slurm->state != "COMPLETED" && t.slurm->state != "PENDING" &&
                t.slurm->state != "RUNNING")
                std::printf("  log %s", log.c_str());
            std::printf("\n");
        }
    }
    if (!gone.empty()) {
        const std::string ids = core::joined(gone);
        std::printf("job%s %s: no longer known to Slurm\n", gone.size() > 1 ? "s" : "",
                    ids.c_str());
    }
    const std::vector<std::string> stale = files::staleTemporaries(
        framePaths(s.output, ranges(missing)),
        std::any_of(tasks.begin(), tasks.end(), [](const FarmTask& t) { return t.mayRender(); })
            ? files::OtherHosts::MayBeWriting
            : files::OtherHosts::Finished);
    if (!stale.empty())
        std::printf("stale   %s (removed when %s rendered again)\n", unfinishedText(stale).c_str(),
                    stale.size() > 1 ? "their frames are" : "its frame is");
    std::vector<int> orphaned;
    std::sort(held.begin(), held.end());
    std::set_difference(missing.begin(), missing.end(), held.begin(), held.end(),
                        std::back_inserter(orphaned));
    std::fflush(stdout);
    if (!orphaned.empty())
        throw core::AppError("frames " + scene::framesText(orphaned) +
                             " are missing and no task will render them: farm submit renders them");
}

} // namespace orvit::farm
