// What an array job's tasks run: the batch script and sbatch's arguments
// that submit it, and the line each run of a task writes to its log.
#pragma once

#include "orvit/farm/farm_plan.h"

#include <string>
#include <vector>

namespace orvit::farm {

// The cluster's own options for a job.
struct SlurmOptions {
    std::string partition;          // empty: the cluster's default
    std::string time;               // --time, empty: the partition's default
    std::string memory;             // --mem, empty: the partition's default
    int throttle = 0;               // tasks running at once, 0: no limit
    bool requeue = true;            // Slurm restarts a task whose node was lost
    std::vector<std::string> extra; // other sbatch options, one argument each
};

// What each task runs. Tasks start in the farm folder, perhaps on another
// node: every path is whole and normalised.
struct BatchJob {
    std::string program; // the orvit program tasks run
    std::string scene;
    std::string output;                   // pattern
    std::vector<scene::FrameRange> tasks; // task i renders tasks[i]
    FarmFiles files;
    int cpus = 1; // per task, each rendering a frame at once
};

// The batch script: a POSIX shell script whose task SLURM_ARRAY_TASK_ID
// renders the frames listed for it. Each run of a task first writes a line
// naming the job, the task, the run (Slurm's restart count) and the node, and
// a node without the program says so in one line. An AppError for a path
// that holds a line break (it would end the script's comment line and run as
// a command) and for a farm folder holding a backslash (Slurm then keeps the
// log names' %A and %a as they are).
std::string batchScript(const BatchJob& job);

// sbatch's arguments (without the program) that submit the script as an
// array of job.tasks.size() tasks, job.cpus CPUs each, each task's runs
// appended to one log in the farm folder.
std::vector<std::string> sbatchArguments(const BatchJob& job, const SlurmOptions& options);

// The first line of a task's run, as the batch script writes it, read back.
struct TaskRun {
    int run = 0;
    std::string node;
    std::string started;
};
// The runs recorded in a task's log, in order.
std::vector<TaskRun> parseTaskRuns(const std::string& log);

} // namespace orvit::farm
