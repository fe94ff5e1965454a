#include "orvit/farm/farm.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/farm/farm_plan.h"
#include "orvit/farm/process_runner.h"
#include "orvit/files/atomic_file.h"
#include "orvit/files/paths.h"
#include "orvit/images/image_input.h"
#include "orvit/scene/scene_file.h"
#include "orvit/sequence/scene_render.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace orvit::app {
namespace {

// Frame size assumed when the first frame's colour pass cannot be read.
constexpr int64_t kFallbackPixels = 1920 * 1080;

// Pixels of one frame, from the header of its colour pass.
int64_t framePixels(const std::string& colourPass) {
    try {
        return static_cast<int64_t>(openImage(colourPass)->pixelCount());
    } catch (const ImageError&) {
        return kFallbackPixels;
    }
}

// The request's scene, range and whole output pattern, checked.
struct Sequence {
    SceneFile scene;
    FrameRange range;
    std::string output;
};

Sequence readSequence(const FarmRequest& request) {
    Sequence s;
    s.scene = parseSceneFile(request.scene);
    s.range = request.frames.empty() ? FrameRange{s.scene.first, s.scene.last}
                                     : parseFrameRange(request.frames);
    s.output = wholePath(request.output.empty() ? s.scene.output : request.output);
    checkOneImagePerFrame(s.output, s.range);
    return s;
}

} // namespace

void farmSubmit(const FarmRequest& request, const std::string& program,
                const std::string& builtModule) {
    const Sequence s = readSequence(request);
    checkOutputSparesInputs(s.scene, s.output, s.range);
    if (s.range.first < 0)
        throw AppError("frames " + rangeText(s.range) +
                       ": farm tasks take frame numbers from 0 (--frames)");
    const int total = s.range.last - s.range.first + 1;
    if (request.chunk < 0)
        throw AppError("--chunk " + std::to_string(request.chunk) +
                       ": a task needs 1 frame or more");
    if (request.cpus < 1)
        throw AppError("--cpus " + std::to_string(request.cpus) + ": a task needs 1 CPU or more");
    const std::string sbatch = findOnPath("sbatch");
    if (sbatch.empty())
        throw AppError("no 'sbatch' on the PATH: orvit farm needs Slurm's commands");

    // The module and its settings are checked here, not in every task.
    { const SceneRenderer renderer(s.scene, builtModule); }
    const FarmFiles files = farmFiles(s.output);
    const std::vector<int> missing = missingFrames(s.output, s.range);
    if (missing.empty()) {
        std::printf("frames %s of %s are all done: nothing to submit\n", rangeText(s.range).c_str(),
                    s.scene.path.c_str());
        return;
    }
    const int chunk = request.chunk > 0
                          ? request.chunk
                          : defaultChunk(framePixels(framePath(s.scene.passes.colour, missing[0])),
                                         total, request.cpus);
    const std::vector<FrameRange> chunks = splitRange(s.range, chunk);
    std::vector<int> tasks;
    for (size_t i = 0, m = 0; i < chunks.size(); ++i) {
        while (m < missing.size() && missing[m] < chunks[i].first)
            ++m;
        if (m < missing.size() && missing[m] <= chunks[i].last)
            tasks.push_back(static_cast<int>(i));
    }

    // Tasks start in the farm folder: every path they are given is whole.
    const BatchJob job{wholePath(program), wholePath(s.scene.path), s.output, s.range, chunk, files,
                       request.cpus};
    const std::string script = batchScript(job);
    prepareOutputFolder(s.output);
    std::error_code ec;
    fs::create_directories(files.folder, ec);
    if (ec)
        throw AppError("farm folder '" + files.folder + "' cannot be made: " + ec.message());
    writeAtomically(files.script(), "batch script '" + files.script() + "'", script);
    std::vector<std::string> args = sbatchArguments(job, tasks, request.partition);
    args.insert(args.begin(), sbatch);
    const ProgramResult run = runProgram(args);
    if (run.exitCode != 0) {
        throw AppError("sbatch refused the job (exit " + std::to_string(run.exitCode) + "): " +
                       standin::firstLine(run.err.empty() ? run.out : run.err, "no message"));
    }
    const std::string id = parseJobId(run.out);
    recordJob(files.jobs(), {id, s.range, chunk});

    std::printf("submitted job %s: frames %s of %s, %d per task, %zu of %zu tasks (%zu frames "
                "missing)\n",
                id.c_str(), rangeText(s.range).c_str(), s.scene.path.c_str(), chunk, tasks.size(),
                chunks.size(), missing.size());
    std::printf("images  %s\n", s.output.c_str());
    std::printf("logs    %s\n", files.log(id, tasks.front()).c_str());
    if (tasks.size() > 1)
        std::printf("        ... to %s\n", files.log(id, tasks.back()).c_str());
    std::printf("script  %s\n", files.script().c_str());
}

void farmStatus(const FarmRequest& request) {
    const Sequence s = readSequence(request);
    const int total = s.range.last - s.range.first + 1;
    const std::vector<int> missing = missingFrames(s.output, s.range);
    std::printf("frames %s of %s -> %s\n", rangeText(s.range).c_str(), s.scene.path.c_str(),
                s.output.c_str());
    std::printf("done     %d of %d\n", total - static_cast<int>(missing.size()), total);
    std::printf("missing  %s\n", missing.empty() ? "none" : numberRuns(missing).c_str());

    const FarmFiles files = farmFiles(s.output);
    std::vector<SubmittedJob> jobs = readJobs(files.jobs());
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [&](const SubmittedJob& j) {
                                  return j.range.last < s.range.first ||
                                         j.range.first > s.range.last;
                              }),
               jobs.end());
    if (jobs.empty())
        return;
    const std::string squeue = findOnPath("squeue");
    if (squeue.empty()) {
        std::printf("no 'squeue' on the PATH: the state of the tasks is not known\n");
        return;
    }
    std::vector<std::string> gone;
    for (const SubmittedJob& job : jobs) {
        const ProgramResult run =
            runProgram({squeue, "-h", "-r", "-t", "all", "-j", job.id, "-o", "%K %T %r"});
        const std::vector<TaskState> tasks =
            run.exitCode == 0 ? parseTaskStates(run.out) : std::vector<TaskState>{};
        if (tasks.empty()) {
            gone.push_back(job.id);
            continue;
        }
        const std::vector<FrameRange> chunks = splitRange(job.range, job.chunk);
        std::map<std::string, int> counts;
        for (const TaskState& t : tasks)
            ++counts[t.state];
        std::string summary;
        for (const auto& [state, count] : counts)
            summary += (summary.empty() ? "" : ", ") + std::to_string(count) + " " + state;
        std::printf("job %s  frames %s, %d per task: %s\n", job.id.c_str(),
                    rangeText(job.range).c_str(), job.chunk, summary.c_str());
        for (const TaskState& t : tasks) {
            const std::string frames = t.task >= 0 && static_cast<size_t>(t.task) < chunks.size()
                                           ? rangeText(chunks[static_cast<size_t>(t.task)])
                                           : "?";
            std::printf("  task %-4d frames %-12s %s", t.task, frames.c_str(), t.state.c_str());
            if (!t.reason.empty())
                std::printf(" (%s)", t.reason.c_str());
            if (t.state != "COMPLETED" && t.state != "PENDING" && t.state != "RUNNING")
                std::printf("  log %s", files.log(job.id, t.task).c_str());
            std::printf("\n");
        }
    }
    if (!gone.empty()) {
        std::string ids;
        for (const std::string& id : gone)
            ids += (ids.empty() ? "" : ", ") + id;
        std::printf("job%s %s: no longer known to Slurm\n", gone.size() > 1 ? "s" : "",
                    ids.c_str());
    }
}

} // namespace orvit::app
