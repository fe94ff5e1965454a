// The plan of an array job: the range cut into chunks (chunk i is array task
// i), the files beside the output, the batch script and sbatch's arguments,
// and what Slurm's commands answer. No process is run here.
#pragma once

#include "orvit/scene/frame_pattern.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvit::app {

// "A-B".
std::string rangeText(FrameRange range);

// ---- Chunks, missing frames, the array ----

// The range cut into chunks of `size` frames from its first; the last chunk
// may be shorter. Chunk i is array task i.
std::vector<FrameRange> splitRange(FrameRange range, int size);

// Frames of `range` whose image under `pattern` is not there. An image is
// written under a temporary name and renamed when finished, so an existing
// file is a whole image.
std::vector<int> missingFrames(const std::string& pattern, FrameRange range);

// Ascending numbers as runs: "4, 7-9" for frames, "0,2-3" for sbatch's
// --array (with `separator` ",").
std::string numberRuns(const std::vector<int>& numbers, const std::string& separator = ", ");

// Frames per task that give each task several seconds of work, from the
// frame's size in pixels and the task's CPUs (which render that many frames
// at once); at least 1 and at most the range, large enough that the range
// needs no more than Slurm's default 1001 array tasks, and even: the range in
// as few tasks, split as equally as may be.
int defaultChunk(int64_t pixelsPerFrame, int frames, int cpus = 1);

// ---- Files beside the output ----

struct FarmFiles {
    std::string folder; // <output folder>/farm
    std::string name;   // the output's file name without its frame number
    std::string script() const { return folder + "/" + name + ".sbatch"; }
    std::string jobs() const { return folder + "/" + name + ".jobs"; }
    // Slurm's log file pattern: %A the job, %a the task, and a '%' of the
    // path doubled, so that Slurm takes it as it is.
    std::string logs() const;
    std::string log(const std::string& job, int task) const {
        return folder + "/" + name + "." + job + "_" + std::to_string(task) + ".log";
    }
};
// `pattern` must be a whole path.
FarmFiles farmFiles(const std::string& pattern);

// What each task runs. Tasks start in the farm folder, perhaps on another
// node: every path is whole and normalised.
struct BatchJob {
    std::string program; // the orvit program
    std::string scene;
    std::string output; // pattern
    FrameRange range;
    int chunk;
    FarmFiles files;
    int cpus = 1; // per task, each rendering a frame at once
};

// The batch script: a POSIX shell script whose task SLURM_ARRAY_TASK_ID
// renders chunk SLURM_ARRAY_TASK_ID of the range. An AppError for a path
// that holds a line break (it would end the script's comment line and run as
// a command) and for a farm folder holding a backslash (Slurm then keeps the
// log names' %A and %a as they are).
std::string batchScript(const BatchJob& job);

// sbatch's arguments (without the program) that submit the script as an
// array of the given tasks, job.cpus CPUs each, logs in the farm folder.
std::vector<std::string> sbatchArguments(const BatchJob& job, const std::vector<int>& tasks,
                                         const std::string& partition);

// One submission, one line in the jobs file: "JOB FIRST LAST CHUNK".
struct SubmittedJob {
    std::string id;
    FrameRange range;
    int chunk;
};
void recordJob(const std::string& path, const SubmittedJob& job);
// The jobs in the order submitted; lines that do not read are passed over.
std::vector<SubmittedJob> readJobs(const std::string& path);

// ---- Slurm's answers ----

// The job id from `sbatch --parsable` ("ID" or "ID;CLUSTER").
std::string parseJobId(const std::string& sbatchOutput);

struct TaskState {
    int task;
    std::string state;  // Slurm's: PENDING, RUNNING, COMPLETED, FAILED, CANCELLED, ...
    std::string reason; // empty when Slurm gives none
};
// Lines "TASK STATE REASON" from `squeue -h -r -t all -o "%K %T %r"`, ordered
// by task; lines of other forms are passed over.
std::vector<TaskState> parseTaskStates(const std::string& squeueOutput);

} // namespace orvit::app
