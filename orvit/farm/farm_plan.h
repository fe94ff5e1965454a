// The plan of an array job: the range cut into chunks (chunk i is array task
// i), the files beside the output, the batch script and sbatch's arguments,
// and what Slurm's commands answer. No process is run here.
#pragma once

#include "orvit/scene/frame_pattern.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvit::app {

// ---- Chunks, missing frames, the array ----

// The range cut into chunks of `size` frames from its first; the last chunk
// may be shorter. Chunk i is array task i.
std::vector<FrameRange> splitRange(FrameRange range, int size);

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
    std::string name;   // the output pattern's file name, #### and all
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

// The frames of each new task: the range cut into chunks of `chunk` frames
// from its first, and in each chunk the frames from its first missing one to
// its last, leaving out the frames `held` (ascending) by tasks of earlier
// jobs that are not over, so that no two tasks ever render the same frame.
// A chunk cut by held frames gives a task on each side that misses frames.
std::vector<FrameRange> planTasks(FrameRange range, int chunk, const std::vector<int>& missing,
                                  const std::vector<int>& held);

// The cluster's own options for a job.
struct SlurmOptions {
    std::string partition;          // empty: the cluster's default
    std::string time;               // --time, empty: the partition's default
    std::string memory;             // --mem, empty: the partition's default
    int throttle = 0;               // tasks running at once, 0: no limit
    bool requeue = true;            // Slurm restarts a task whose node was lost
    std::vector<std::string> extra; // other sbatch options, one argument each
};

// An AppError, naming the option, for an `extra` option that orvit sets
// itself (or has an option of its own for), that is no option, or that holds
// a control character; Slurm takes any unambiguous abbreviation of a long
// option, so an abbreviation of one of these is refused as well.
void checkSbatchOption(const std::string& option);

// What each task runs. Tasks start in the farm folder, perhaps on another
// node: every path is whole and normalised.
struct BatchJob {
    std::string program; // the orvit program tasks run
    std::string scene;
    std::string output;            // pattern
    std::vector<FrameRange> tasks; // task i renders tasks[i]
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

// One submission, one line in the jobs file: "JOB tasks A-B C-D ...", the
// frames of task 0, 1, ... in turn.
struct SubmittedJob {
    std::string id;
    std::vector<FrameRange> tasks;
};
void recordJob(const std::string& path, const SubmittedJob& job);
// The jobs in the order submitted, none when the file does not exist; lines
// that do not read are passed over. The older form "JOB FIRST LAST CHUNK"
// reads as tasks of CHUNK frames. An AppError naming the file when it is
// not a regular file (opened without waiting) or larger than kJobsFileLimit.
std::vector<SubmittedJob> readJobs(const std::string& path);

// The first line of a task's run, as the batch script writes it, read back.
struct TaskRun {
    int run = 0;
    std::string node;
    std::string started;
};
// The runs recorded in a task's log, in order.
std::vector<TaskRun> parseTaskRuns(const std::string& log);

// ---- Slurm's answers ----

// The job id from `sbatch --parsable` ("ID" or "ID;CLUSTER").
std::string parseJobId(const std::string& sbatchOutput);

// squeue's format for parseSlurmTasks (-O).
extern const char* const kSqueueFormat;

struct SlurmTask {
    std::string job;
    int task = 0;
    std::string state;  // Slurm's: PENDING, RUNNING, COMPLETED, FAILED, CANCELLED, ...
    std::string reason; // empty when Slurm gives none
    std::string start;  // when it started, or for a pending task when it may start
    std::string nodes;  // empty while pending
    int restarts = 0;   // how often Slurm has started it again
};
// squeue's lines in kSqueueFormat, ordered by job and task; lines of other
// forms are passed over.
std::vector<SlurmTask> parseSlurmTasks(const std::string& squeueOutput);

// A state in which a task will not run again.
bool taskIsOver(const std::string& state);

// One run of a task as Slurm's accounting keeps it.
struct AccountedRun {
    std::string job;
    int task = 0;
    std::string state; // NODE_FAIL, REQUEUED, COMPLETED, ...
    std::string nodes;
};
// Lines "JOB_TASK|STATE|NODES" from `sacct -n -P -D -X -o JobID,State,NodeList`,
// in its order (a task's runs oldest first); lines of other forms, such as
// those of an array's pending part ("42_[3-5]"), are passed over.
std::vector<AccountedRun> parseAccountedRuns(const std::string& sacctOutput);

} // namespace orvit::app
