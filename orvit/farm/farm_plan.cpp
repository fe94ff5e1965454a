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

std::string rangeText(FrameRange r) {
    return std::to_string(r.first) + "-" + std::to_string(r.last);
}

std::vector<FrameRange> splitRange(FrameRange range, int size) {
    std::vector<FrameRange> chunks;
    for (int64_t first = range.first; first <= range.last; first += size)
        chunks.push_back({static_cast<int>(first),
                          static_cast<int>(std::min<int64_t>(first + size - 1, range.last))});
    return chunks;
}

std::vector<int> missingFrames(const std::string& pattern, FrameRange range) {
    std::vector<int> missing;
    for (int frame = range.first; frame <= range.last; ++frame) {
        std::error_code ec;
        if (!fs::is_regular_file(framePath(pattern, frame), ec))
            missing.push_back(frame);
    }
    return missing;
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
      << "# Frames " << rangeText(job.range) << " of " << job.scene << ", " << job.chunk
      << " per task\n"
      << "# of a Slurm array job, submitted by orvit farm submit: task i renders chunk i\n"
      << "# and leaves the frames whose image is already there.\n"
      << ": \"${SLURM_ARRAY_TASK_ID:?runs as a task of a Slurm array job}\"\n"
      << "first=$((" << job.range.first << " + SLURM_ARRAY_TASK_ID * " << job.chunk << "))\n"
      << "last=$((first + " << job.chunk - 1 << "))\n"
      << "if [ \"$last\" -gt " << job.range.last << " ]; then last=" << job.range.last << "; fi\n"
      << "exec " << shellQuoted(job.program) << " render " << shellQuoted(job.scene)
      << " --frames \"$first-$last\" --output " << shellQuoted(job.output)
      << " --skip-existing --jobs " << job.cpus << "\n";
    return s.str();
}

std::vector<std::string> sbatchArguments(const BatchJob& job, const std::vector<int>& tasks,
                                         const std::string& partition) {
    // On the command line rather than as #SBATCH lines, where a path with a
    // space would be cut.
    std::vector<std::string> args = {"--parsable",
                                     "--array=" + numberRuns(tasks, ","),
                                     "--job-name=orvit-" + job.files.name,
                                     "--output=" + job.files.logs(),
                                     "--chdir=" + job.files.folder,
                                     "--ntasks=1",
                                     "--cpus-per-task=" + std::to_string(job.cpus)};
    if (!partition.empty())
        args.push_back("--partition=" + partition);
    args.push_back(job.files.script());
    return args;
}

void recordJob(const std::string& path, const SubmittedJob& job) {
    std::ofstream out(path, std::ios::app);
    out << job.id << " " << job.range.first << " " << job.range.last << " " << job.chunk << "\n";
    if (!out.flush())
        throw AppError("farm jobs file '" + path + "': cannot write: " + std::strerror(errno));
}

std::vector<SubmittedJob> readJobs(const std::string& path) {
    std::vector<SubmittedJob> jobs;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        SubmittedJob job;
        std::string rest;
        if (fields >> job.id >> job.range.first >> job.range.last >> job.chunk &&
            !(fields >> rest) && job.chunk > 0 && job.range.first <= job.range.last &&
            job.id.find_first_not_of("0123456789") == std::string::npos)
            jobs.push_back(job);
    }
    return jobs;
}

std::string parseJobId(const std::string& sbatchOutput) {
    std::string id = standin::firstLine(sbatchOutput);
    id = id.substr(0, id.find(';'));
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
        throw AppError("sbatch gave no job id: '" + standin::firstLine(sbatchOutput) + "'");
    return id;
}

std::vector<TaskState> parseTaskStates(const std::string& squeueOutput) {
    std::vector<TaskState> tasks;
    std::istringstream lines(squeueOutput);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string task, state, reason;
        if (!(fields >> task >> state) || task.empty() || task.size() > 9 ||
            task.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::getline(fields >> std::ws, reason);
        if (reason == "None")
            reason.clear();
        tasks.push_back({std::atoi(task.c_str()), state, reason});
    }
    std::sort(tasks.begin(), tasks.end(),
              [](const TaskState& a, const TaskState& b) { return a.task < b.task; });
    return tasks;
}

} // namespace orvit::app
