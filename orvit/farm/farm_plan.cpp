#include "orvit/farm/farm_plan.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/files/shell_quote.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    const fs::path path(pattern);
    std::string name = path.filename().string();
    const FrameMark mark = frameMark(name);
    if (mark.found()) {
        const size_t begin = mark.begin;
        name.erase(begin, mark.end - begin);
        // Of the separators on both sides of the number, one stays:
        // "glow.####.png" and "glow_####.png" both give "glow.png".
        auto separator = [](char c) { return c == '.' || c == '_' || c == '-'; };
        if (begin > 0 && begin < name.size() && separator(name[begin]) &&
            separator(name[begin - 1]))
            name.erase(begin - 1, 1);
    }
    const auto start = name.find_first_not_of("._-");
    name = start == std::string::npos ? "frames" : name.substr(start);
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

void checkSbatchOption(const std::string& option) {
    auto refuse = [&](const std::string& why) {
        throw AppError("--sbatch '" + option + "': " + why);
    };
    for (unsigned char c : option)
        if (c < 0x20 || c == 0x7f)
            refuse("an option with a control character cannot go to sbatch");
    if (option.size() < 2 || option[0] != '-' || option == "--")
        refuse("not an sbatch option (write it as --sbatch=--name=value)");
    // Options orvit sets itself, with orvit's own option for it where it has
    // one; and those that would keep sbatch from giving a job id at once.
    struct Owned {
        const char* name;
        char letter;
        const char* use;
    };
    static const Owned owned[] = {{"array", 'a', ""},
                                  {"output", 'o', ""},
                                  {"error", 'e', ""},
                                  {"input", 'i', ""},
                                  {"chdir", 'D', ""},
                                  {"parsable", 0, ""},
                                  {"wrap", 0, ""},
                                  {"open-mode", 0, ""},
                                  {"ntasks", 'n', ""},
                                  {"cpus-per-task", 'c', "--cpus"},
                                  {"partition", 'p', "--partition"},
                                  {"time", 't', "--time"},
                                  {"mem", 0, "--mem"},
                                  {"requeue", 0, "--requeue"},
                                  {"no-requeue", 0, "--no-requeue"},
                                  {"wait", 'W', ""},
                                  {"test-only", 0, ""},
                                  {"help", 'h', ""},
                                  {"usage", 0, ""},
                                  {"version", 'V', ""}};
    const bool isLong = option[1] == '-';
    const std::string name = isLong ? option.substr(2, option.find('=') - 2) : "";
    for (const Owned& o : owned) {
        // Slurm takes any unambiguous start of a long option's name.
        const bool same = isLong ? std::string(o.name).rfind(name, 0) == 0 && !name.empty()
                                 : o.letter != 0 && option[1] == o.letter;
        if (same)
            refuse(std::string("orvit farm sets --") + o.name + " itself" +
                   (*o.use ? std::string(" (use its ") + o.use + ")" : ""));
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
    std::ofstream out(path, std::ios::app);
    out << job.id << " tasks";
    for (const FrameRange& t : job.tasks)
        out << " " << rangeText(t);
    out << "\n";
    if (!out.flush())
        throw AppError("farm jobs file '" + path + "': cannot write: " + std::strerror(errno));
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
    std::ifstream in(path);
    std::string line;
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
            if (good && !job.tasks.empty())
                jobs.push_back(job);
            continue;
        }
        FrameRange whole;
        int chunk = 0;
        std::string rest;
        std::istringstream older(second);
        if (older >> whole.first && fields >> whole.last >> chunk && !(fields >> rest) &&
            chunk > 0 && whole.first <= whole.last) {
            job.tasks = splitRange(whole, chunk);
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
        const size_t bar = id.find('_');
        if (bar == std::string::npos || !isNumber(id.substr(0, bar), 20) ||
            !isNumber(id.substr(bar + 1)) || state.empty())
            continue;
        // "CANCELLED by 0": the state alone.
        state = state.substr(0, state.find(' '));
        runs.push_back({id.substr(0, bar), std::atoi(id.c_str() + bar + 1), state,
                        nodes == "None assigned" ? "" : nodes});
    }
    return runs;
}

} // namespace orvit::app
