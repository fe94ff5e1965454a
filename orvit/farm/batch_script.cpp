#include "orvit/farm/batch_script.h"

#include "orvit/core/host_error.h"
#include "orvit/farm/sbatch_options.h"
#include "orvit/files/shell_quote.h"

#include <sstream>

namespace orvit::farm {

std::string batchScript(const BatchJob& job) {
    const std::pair<const char*, const std::string*> paths[] = {
        {"program", &job.program}, {"scene", &job.scene}, {"output", &job.output}};
    for (const auto& [role, path] : paths)
        if (path->find('\n') != std::string::npos) {
            std::string shown;
            for (char c : *path)
                shown += c == '\n' ? std::string("\\n") : std::string(1, c);
            throw core::AppError(std::string(role) + " '" + shown +
                                 "': a path with a line break cannot go into a batch script");
        }
    if ((job.files.folder + job.files.name).find('\\') != std::string::npos)
        throw core::AppError("output '" + job.output + "': its logs would go to '" +
                             job.files.folder +
                             "', and Slurm cannot name a log on a path with a backslash");
    std::ostringstream s;
    s << "#!/bin/sh\n"
      << "# Frames of " << job.scene << " in " << job.tasks.size() << " tasks\n"
      << "# of a Slurm array job, submitted by orvit farm submit: each task renders\n"
      << "# the frames listed for it and leaves those whose image is already there.\n"
      << ": \"${SLURM_ARRAY_TASK_ID:?runs as a task of a Slurm array job}\"\n"
      << "case $SLURM_ARRAY_TASK_ID in\n";
    for (size_t i = 0; i < job.tasks.size(); ++i)
        s << i << ") frames=" << scene::rangeText(job.tasks[i]) << " ;;\n";
    s << "*) echo \"orvit farm: task $SLURM_ARRAY_TASK_ID is not one of this job's\" >&2; exit 1 "
         ";;\n"
      << "esac\n"
      // Slurm appends every run of a task to one log: this line tells them
      // apart, and farm status reads it back.
      << "node=${SLURMD_NODENAME:-$(hostname)}\n"
      << "echo \"orvit farm: job ${SLURM_ARRAY_JOB_ID:-?} task $SLURM_ARRAY_TASK_ID run "
         "${SLURM_RESTART_COUNT:-0} on node $node at $(date -u +%Y-%m-%dT%H:%M:%S): frames "
         "$frames\"\n"
      << "program=" << files::shellQuoted(job.program) << "\n"
      << "if [ ! -x \"$program\" ]; then\n"
      << "  echo \"orvit farm: node $node has no program '$program': install orvit there at "
         "the same path, or share its folder\" >&2\n"
      << "  exit 127\n"
      << "fi\n"
      << "exec \"$program\" render " << files::shellQuoted(job.scene)
      << " --frames \"$frames\" --output " << files::shellQuoted(job.output)
      << " --skip-existing --jobs " << job.cpus << "\n";
    return s.str();
}

std::vector<std::string> sbatchArguments(const BatchJob& job, const SlurmOptions& options) {
    // On the command line rather than as #SBATCH lines, where a path with a
    // space would be cut.
    std::string array = "--array=0";
    if (job.tasks.size() > 1)
        array += "-" + std::to_string(job.tasks.size() - 1);
    if (options.throttle > 0)
        array += "%" + std::to_string(options.throttle);
    std::vector<std::string> args = {"--parsable",
                                     array,
                                     "--job-name=orvit-" + job.files.name,
                                     "--output=" + job.files.logs(),
                                     "--open-mode=append",
                                     "--chdir=" + job.files.folder,
                                     "--ntasks=1",
                                     "--cpus-per-task=" + std::to_string(job.cpus),
                                     options.requeue ? "--requeue" : "--no-requeue"};
    if (!options.partition.empty())
        args.push_back("--partition=" + options.partition);
    if (!options.time.empty())
        args.push_back("--time=" + options.time);
    if (!options.memory.empty())
        args.push_back("--mem=" + options.memory);
    for (const std::string& option : options.extra) {
        checkSbatchOption(option);
        args.push_back(option);
    }
    args.push_back(job.files.script());
    return args;
}

std::vector<TaskRun> parseTaskRuns(const std::string& log) {
    std::vector<TaskRun> runs;
    std::istringstream lines(log);
    std::string line;
    const std::string prefix = "orvit farm: job ";
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) != 0)
            continue;
        std::istringstream fields(line.substr(prefix.size()));
        std::string job, taskWord, task, runWord, onWord, nodeWord, atWord;
        TaskRun run;
        if (fields >> job >> taskWord >> task >> runWord >> run.run >> onWord >> nodeWord >>
                run.node >> atWord >> run.started &&
            taskWord == "task" && runWord == "run" && onWord == "on" && atWord == "at") {
            if (!run.started.empty() && run.started.back() == ':')
                run.started.pop_back();
            runs.push_back(run);
        }
    }
    return runs;
}

} // namespace orvit::farm
