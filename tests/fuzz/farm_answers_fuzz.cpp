// Reads the fuzzer's bytes as each answer the farm takes from Slurm (sbatch's
// job id, squeue's and sacct's lines), as a task's log and as the farm's jobs
// file (a file in memory), and as an --sbatch option. Any bytes give what
// each reader promises, or one AppError whose message is one line; any other
// exception escapes and counts as a finding.
//
// Seeds (corpus/farm_answers_fuzz/):
//   squeue.txt      squeue's lines in the farm's format: pending, running,
//                   requeued, a reason with spaces and commas
//   sacct.txt       sacct's runs, a cancelled one and an array's pending part
//   jobs.txt        a jobs file: tasks, the older form, a damaged line
//   log.txt         a task's log of two runs, with lines between
//   sbatch.txt      sbatch's "ID;CLUSTER"
//   sacct-state-only-blank.txt
//                   a sacct line whose state is a blank and more: no state
//                   once cut at the blank (found by this target)
#include "orvit/core/host_error.h"
#include "orvit/farm/batch_script.h"
#include "orvit/farm/farm_plan.h"
#include "orvit/farm/jobs_file.h"
#include "orvit/farm/sbatch_options.h"
#include "orvit/farm/slurm_answers.h"
#include "tests/fuzz/memory_file.h"

#include <cstdint>
#include <string>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool isNumber(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

void checkLine(const std::string& message) {
    check(!message.empty());
    for (const char c : message)
        check(c != '\n' && c != '\r' && c != '\0');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orvit::core;
    using namespace orvit::farm;
    using namespace orvit::scene;
    static fuzzing::MemoryFile file("farm_answers_fuzz");
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::vector<SlurmTask> tasks = parseSlurmTasks(text);
    for (size_t i = 0; i < tasks.size(); ++i) {
        check(isNumber(tasks[i].job) && tasks[i].task >= 0 && !tasks[i].state.empty());
        check(tasks[i].restarts >= 0);
        if (i > 0)
            check(tasks[i - 1].job.size() < tasks[i].job.size() ||
                  (tasks[i - 1].job.size() == tasks[i].job.size() &&
                   (tasks[i - 1].job < tasks[i].job ||
                    (tasks[i - 1].job == tasks[i].job && tasks[i - 1].task <= tasks[i].task))));
    }
    for (const AccountedRun& run : parseAccountedRuns(text))
        check(isNumber(run.job) && run.task >= 0 && !run.state.empty() &&
              run.state.find(' ') == std::string::npos);
    for (const TaskRun& run : parseTaskRuns(text))
        check(!run.node.empty());
    try {
        check(isNumber(parseJobId(text)));
    } catch (const AppError& e) {
        checkLine(e.what());
    }
    try {
        checkSbatchOption(text);
        check(text.size() >= 2 && text[0] == '-');
    } catch (const AppError& e) {
        checkLine(e.what());
    }

    file.assign(data, size);
    try {
        for (const SubmittedJob& job : readJobs(file.path())) {
            check(isNumber(job.id) && !job.tasks.empty());
            for (const FrameRange& t : job.tasks)
                check(0 <= t.first && t.first <= t.last && t.last <= orvit::scene::kLastFrame);
        }
    } catch (const AppError& e) {
        checkLine(e.what());
    }
    return 0;
}
