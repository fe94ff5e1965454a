#include "orvit/farm/farm_plan.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/files/paths.h"
#include "orvit/files/shell_quote.h"
#include "orvit/files/whole_io.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvit::app {
namespace {

// Seconds of work a task should get at least: Slurm takes a second or more
// to start each task, which a shorter task would not pay back.
constexpr double kTaskSeconds = 10.0;
// Read, filter and write per megapixel, on the fast side of what
// bench_render measures, so that tasks come out longer rather than shorter.
constexpr double kSecondsPerMegapixel = 0.15;
// Slurm's default MaxArraySize allows task indices 0 to 1000.
constexpr int kMaxTasks = 1001;
// The largest MaxArraySize Slurm takes.
constexpr int64_t kMaxArrayTasks = 4000001;

} // namespace

std::vector<FrameRange> splitRange(FrameRange range, int size) {
    std::vector<FrameRange> chunks;
    for (int64_t first = range.first; first <= range.last; first += size)
        chunks.push_back({static_cast<int>(first),
                          static_cast<int>(std::min<int64_t>(first + size - 1, range.last))});
    return chunks;
}

std::string numberRuns(const std::vector<int>& numbers, const std::string& separator) {
    std::string text;
    for (size_t i = 0; i < numbers.size();) {
        size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        if (!text.empty())
            text += separator;
        text += std::to_string(numbers[i]);
        if (j > i)
            text += "-" + std::to_string(numbers[j]);
        i = j + 1;
    }
    return text;
}

int defaultChunk(int64_t pixelsPerFrame, int frames, int cpus) {
    const double frameSeconds =
        static_cast<double>(pixelsPerFrame) * 1e-6 * kSecondsPerMegapixel / std::max(cpus, 1);
    int chunk = frameSeconds > 0.0
                    ? static_cast<int>(std::min(std::ceil(kTaskSeconds / frameSeconds), 1e9))
                    : frames;
    chunk =
        std::clamp(std::max(chunk, (frames + kMaxTasks - 1) / kMaxTasks), 1, std::max(frames, 1));
    // The same number of tasks with chunks of even size, so that no task
    // holds up the job with more frames than the others.
    const int tasks = (frames + chunk - 1) / chunk;
    return std::max(1, (frames + tasks - 1) / tasks);
}

FarmFiles farmFiles(const std::string& pattern) {
    // The whole file name, its #### as it is: outputs that differ in any
    // byte ("shot_####.png", "shot.####.png") never share a jobs file.
    const fs::path path(pattern);
    std::string name = path.filename().string();
    if (name.empty())
        name = "frames";
    return FarmFiles{(path.parent_path() / "farm").string(), name};
}

std::string FarmFiles::logs() const {
    std::string pattern;
    for (char c : folder + "/" + name)
        pattern += c == '%' ? std::string("%%") : std::string(1, c);
    return pattern + ".%A_%a.log";
}

std::vector<FrameRange> planTasks(FrameRange range, int chunk, const std::vector<int>& missing,
                                  const std::vector<int>& held) {
    std::vector<FrameRange> tasks;
    size_t m = 0, h = 0;
    for (const FrameRange& c : splitRange(range, chunk)) {
        // Runs of frames between held ones, each trimmed to its missing frames.
        FrameRange run{0, -1};
        auto close = [&] {
            if (run.first <= run.last)
                tasks.push_back(run);
            run = {0, -1};
        };
        while (m < missing.size() && missing[m] <= c.last) {
            const int frame = missing[m++];
            if (frame < c.first)
                continue;
            while (h < held.size() && held[h] < frame) {
                if (held[h] >= run.first && run.first <= run.last)
                    close();
                ++h;
            }
            if (h < held.size() && held[h] == frame) {
                close();
                continue;
            }
            if (run.first > run.last)
                run.first = frame;
            run.last = frame;
        }
        close();
    }
    return tasks;
}

namespace {

// Why an sbatch option may not come through --sbatch; each named by its
// long name and, where it has one, its letter.
struct Refused {
    const char* name;
    char letter;
    const char* why;
};
constexpr const char* kSetsIt = "";
const Refused kRefused[] = {
    {"array", 'a', kSetsIt},
    {"output", 'o', kSetsIt},
    {"error", 'e', kSetsIt},
    {"input", 'i', kSetsIt},
    {"chdir", 'D', kSetsIt},
    {"job-name", 'J', kSetsIt},
    {"parsable", 0, kSetsIt},
    {"open-mode", 0, kSetsIt},
    {"ntasks", 'n', kSetsIt},
    {"cpus-per-task", 'c', " (use its --cpus)"},
    {"partition", 'p', " (use its --partition)"},
    {"time", 't', " (use its --time)"},
    {"mem", 0, " (use its --mem)"},
    {"requeue", 0, " (use its --requeue)"},
    {"no-requeue", 0, " (use its --no-requeue)"},
    {"wrap", 0, "it changes what a task runs"},
    {"export", 0, "it changes what a task runs"},
    {"export-file", 0, "it changes what a task runs"},
    {"get-user-env", 0, "it changes what a task runs"},
    {"container", 0, "it changes what a task runs"},
    {"uid", 0, "it changes what a task runs"},
    {"gid", 0, "it changes what a task runs"},
    {"clusters", 'M', "orvit farm follows its jobs on the cluster squeue answers for"},
    {"wait", 'W', "submit would wait until the job ends"},
    {"test-only", 0, "sbatch would then submit nothing"},
    {"help", 'h', "sbatch would then submit nothing"},
    {"usage", 0, "sbatch would then submit nothing"},
    {"version", 'V', "sbatch would then submit nothing"},
};

// sbatch's one-letter options, and whether each takes a value.
struct Letter {
    char letter;
    bool value;
};
const Letter kLetters[] = {
    {'a', true}, {'A', true},  {'b', true},  {'B', true},  {'c', true},  {'C', true},  {'d', true},
    {'D', true}, {'e', true},  {'F', true},  {'G', true},  {'h', false}, {'H', false}, {'i', true},
    {'J', true}, {'k', false}, {'L', true},  {'m', true},  {'M', true},  {'n', true},  {'N', true},
    {'o', true}, {'O', false}, {'p', true},  {'q', true},  {'Q', false}, {'s', false}, {'S', true},
    {'t', true}, {'v', false}, {'V', false}, {'W', false}, {'w', true},  {'x', true},
};

// sbatch's long options that take no value, or one only after '=': any
// other, given without '=', would take the next argument (the script) as
// its value.
const char* const kLongFlags[] = {
    "contiguous", "exclusive",  "hold",          "ignore-pbs", "nice",
    "no-kill",    "overcommit", "oversubscribe", "propagate",  "quiet",
    "reboot",     "spread-job", "use-min-nodes", "verbose",
};

} // namespace

void checkSbatchOption(const std::string& option) {
    auto refuse = [&](const std::string& why) {
        throw AppError("--sbatch '" + option + "': " + why);
    };
    for (unsigned char c : option)
        if (c < 0x20 || c == 0x7f)
            refuse("an option with a control character cannot go to sbatch");
    if (option.size() < 2 || option[0] != '-' || option == "--")
        refuse("not an sbatch option (write it as --sbatch=--name=value)");
    const auto refused = [&](const Refused& r) {
        refuse(*r.why == '\0' || *r.why == ' '
                   ? std::string("orvit farm sets --") + r.name + " itself" + r.why
                   : std::string("--") + r.name + ": " + r.why);
    };
    if (option[1] == '-') {
        // A long option, as getopt reads it: any unambiguous start of its
        // name, the value after '='. A start that could be a refused one
        // is refused: sbatch would take it so or find it ambiguous.
        const size_t equals = option.find('=');
        const std::string name = option.substr(2, equals - 2);
        if (name.empty())
            refuse("not an sbatch option (write it as --sbatch=--name=value)");
        for (const Refused& r : kRefused)
            if (std::string(r.name).rfind(name, 0) == 0)
                refused(r);
        if (equals == std::string::npos &&
            std::none_of(std::begin(kLongFlags), std::end(kLongFlags),
                         [&](const char* flag) { return std::string(flag).rfind(name, 0) == 0; }))
            refuse("give its value after '=' (--" + name +
                   "=VALUE), or sbatch takes the next argument as its value");
        return;
    }
    // Short options, as getopt reads a bundle: letters without a value one
    // after another, and a letter that takes a value takes the rest.
    for (size_t i = 1; i < option.size(); ++i) {
        const char c = option[i];
        const auto letter = std::find_if(std::begin(kLetters), std::end(kLetters),
                                         [&](const Letter& l) { return l.letter == c; });
        if (letter == std::end(kLetters))
            refuse(std::string("sbatch has no option -") + c);
        for (const Refused& r : kRefused)
            if (r.letter == c)
                refused(r);
        if (letter->value) {
            if (i + 1 == option.size())
                refuse(std::string("give -") + c + "'s value in the same argument (-" + c +
                       "VALUE), or sbatch takes the next argument as its value");
            return;
        }
    }
}

std::string batchScript(const BatchJob& job) {
    const std::pair<const char*, const std::string*> paths[] = {
        {"program", &job.program}, {"scene", &job.scene}, {"output", &job.output}};
    for (const auto& [role, path] : paths)
        if (path->find('\n') != std::string::npos) {
            std::string shown;
            for (char c : *path)
                shown += c == '\n' ? std::string("\\n") : std::string(1, c);
            throw AppError(std::string(role) + " '" + shown +
                           "': a path with a line break cannot go into a batch script");
        }
    if ((job.files.folder + job.files.name).find('\\') != std::string::npos)
        throw AppError("output '" + job.output + "': its logs would go to '" + job.files.folder +
                       "', and Slurm cannot name a log on a path with a backslash");
    std::ostringstream s;
    s << "#!/bin/sh\n"
      << "# Frames of " << job.scene << " in " << job.tasks.size() << " tasks\n"
      << "# of a Slurm array job, submitted by orvit farm submit: each task renders\n"
      << "# the frames listed for it and leaves those whose image is already there.\n"
      << ": \"${SLURM_ARRAY_TASK_ID:?runs as a task of a Slurm array job}\"\n"
      << "case $SLURM_ARRAY_TASK_ID in\n";
    for (size_t i = 0; i < job.tasks.size(); ++i)
        s << i << ") frames=" << rangeText(job.tasks[i]) << " ;;\n";
    s << "*) echo \"orvit farm: task $SLURM_ARRAY_TASK_ID is not one of this job's\" >&2; exit 1 "
         ";;\n"
      << "esac\n"
      // Slurm appends every run of a task to one log: this line tells them
      // apart, and farm status reads it back.
      << "node=${SLURMD_NODENAME:-$(hostname)}\n"
      << "echo \"orvit farm: job ${SLURM_ARRAY_JOB_ID:-?} task $SLURM_ARRAY_TASK_ID run "
         "${SLURM_RESTART_COUNT:-0} on node $node at $(date -u +%Y-%m-%dT%H:%M:%S): frames "
         "$frames\"\n"
      << "program=" << shellQuoted(job.program) << "\n"
      << "if [ ! -x \"$program\" ]; then\n"
      << "  echo \"orvit farm: node $node has no program '$program': install orvit there at "
         "the same path, or share its folder\" >&2\n"
      << "  exit 127\n"
      << "fi\n"
      << "exec \"$program\" render " << shellQuoted(job.scene) << " --frames \"$frames\" --output "
      << shellQuoted(job.output) << " --skip-existing --jobs " << job.cpus << "\n";
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

void recordJob(const std::string& path, const SubmittedJob& job) {
    std::string line = job.id + " tasks";
    for (const FrameRange& t : job.tasks)
        line += " " + rangeText(t);
    line += "\n";
    // Opened as the inputs are: a pipe or a device there is refused, never
    // waited on.
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat s {};
    std::string why = fd < 0 ? std::strerror(errno) : "";
    if (fd >= 0 && fstat(fd, &s) == 0 && !S_ISREG(s.st_mode))
        why = std::string("it is ") + notRegularKind(s.st_mode) + ", not a regular file";
    else if (fd >= 0 && !writeWhole(fd, line.data(), line.size()))
        why = std::strerror(errno);
    if (fd >= 0 && close(fd) != 0 && why.empty())
        why = std::strerror(errno);
    if (!why.empty())
        throw AppError("farm jobs file '" + path + "': cannot write: " + why);
}

namespace {

bool isNumber(const std::string& text, size_t most = 9) {
    return !text.empty() && text.size() <= most &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// "A-B" of frames that may be negative.
bool readRange(const std::string& text, FrameRange* range) {
    std::istringstream in(text);
    char dash = 0;
    std::string rest;
    return in >> range->first >> dash >> range->last && dash == '-' && !(in >> rest) &&
           range->first <= range->last;
}

} // namespace

std::vector<SubmittedJob> readJobs(const std::string& path) {
    std::vector<SubmittedJob> jobs;
    struct stat s {};
    if (lstat(path.c_str(), &s) != 0 && errno == ENOENT)
        return jobs;
    std::istringstream in(readRegularFile(path, "farm jobs file '" + path + "'", kJobsFileLimit));
    std::string line;
    // The file's older lines are expanded into tasks: all its lines together
    // give no more than Slurm's largest array, however they are damaged.
    int64_t tasksLeft = kMaxArrayTasks;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        SubmittedJob job;
        std::string second;
        if (!(fields >> job.id >> second) || !isNumber(job.id, 20))
            continue;
        if (second == "tasks") {
            std::string range;
            bool good = true;
            while (good && fields >> range) {
                FrameRange r;
                good = readRange(range, &r);
                job.tasks.push_back(r);
            }
            if (good && !job.tasks.empty()) {
                tasksLeft -= static_cast<int64_t>(job.tasks.size());
                jobs.push_back(job);
            }
            continue;
        }
        FrameRange whole;
        int chunk = 0;
        std::string rest;
        std::istringstream older(second);
        if (older >> whole.first && fields >> whole.last >> chunk && !(fields >> rest) &&
            chunk > 0 && whole.first <= whole.last &&
            (int64_t{whole.last} - whole.first) / chunk < tasksLeft) {
            job.tasks = splitRange(whole, chunk);
            tasksLeft -= static_cast<int64_t>(job.tasks.size());
            jobs.push_back(job);
        }
    }
    return jobs;
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

std::string parseJobId(const std::string& sbatchOutput) {
    std::string id = standin::firstLine(sbatchOutput);
    id = id.substr(0, id.find(';'));
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
        throw AppError("sbatch gave no job id: '" + standin::firstLine(sbatchOutput) + "'");
    return id;
}

// The reason last: it may hold spaces and commas.
const char* const kSqueueFormat =
    "ArrayJobID:|,ArrayTaskID:|,State:|,RestartCnt:|,StartTime:|,NodeList:|,Reason:|";

std::vector<SlurmTask> parseSlurmTasks(const std::string& squeueOutput) {
    std::vector<SlurmTask> tasks;
    std::istringstream lines(squeueOutput);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (int i = 0; i < 6; ++i) {
            const size_t bar = line.find('|', start);
            if (bar == std::string::npos)
                break;
            fields.push_back(standin::trimmed(std::string_view(line).substr(start, bar - start)));
            start = bar + 1;
        }
        if (fields.size() < 6 || !isNumber(fields[0], 20) || !isNumber(fields[1]) ||
            !isNumber(fields[3]) || fields[2].empty())
            continue;
        SlurmTask t;
        t.job = fields[0];
        t.task = std::atoi(fields[1].c_str());
        t.state = fields[2];
        t.restarts = std::atoi(fields[3].c_str());
        t.start = fields[4] == "N/A" || fields[4] == "Unknown" ? "" : fields[4];
        t.nodes = fields[5] == "(null)" ? "" : fields[5];
        std::string reason = line.substr(start);
        if (!reason.empty() && reason.back() == '|')
            reason.pop_back();
        t.reason = standin::trimmed(reason);
        if (t.reason == "None")
            t.reason.clear();
        tasks.push_back(t);
    }
    std::sort(tasks.begin(), tasks.end(), [](const SlurmTask& a, const SlurmTask& b) {
        return a.job.size() != b.job.size() ? a.job.size() < b.job.size()
               : a.job != b.job             ? a.job < b.job
                                            : a.task < b.task;
    });
    return tasks;
}

bool taskIsOver(const std::string& state) {
    // Slurm's final states; any other (PENDING, RUNNING, REQUEUED, SUSPENDED,
    // COMPLETING, a state of a later Slurm) may still render.
    static const char* const over[] = {"COMPLETED",     "FAILED",       "CANCELLED", "TIMEOUT",
                                       "NODE_FAIL",     "PREEMPTED",    "BOOT_FAIL", "DEADLINE",
                                       "OUT_OF_MEMORY", "SPECIAL_EXIT", "REVOKED"};
    for (const char* s : over)
        if (state == s)
            return true;
    return false;
}

std::vector<AccountedRun> parseAccountedRuns(const std::string& sacctOutput) {
    std::vector<AccountedRun> runs;
    std::istringstream lines(sacctOutput);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, state, nodes;
        if (!std::getline(fields, id, '|') || !std::getline(fields, state, '|'))
            continue;
        std::getline(fields, nodes, '|');
        // "CANCELLED by 0": the state alone.
        state = state.substr(0, state.find(' '));
        const size_t bar = id.find('_');
        if (bar == std::string::npos || !isNumber(id.substr(0, bar), 20) ||
            !isNumber(id.substr(bar + 1)) || state.empty())
            continue;
        runs.push_back({id.substr(0, bar), std::atoi(id.c_str() + bar + 1), state,
                        nodes == "None assigned" ? "" : nodes});
    }
    return runs;
}

} // namespace orvit::app
