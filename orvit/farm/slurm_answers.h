// What Slurm's commands answer: sbatch's job id, squeue's tasks and sacct's
// runs, read without trusting their form.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace orvit::farm {

// Digits only, at most `most` of them: a job id (20) or a task index (9).
bool isSlurmNumber(const std::string& text, size_t most = 9);

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

} // namespace orvit::farm
