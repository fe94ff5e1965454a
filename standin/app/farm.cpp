#include "standin/app/farm.h"

#include "standin/app/app_error.h"
#include "standin/app/render.h"
#include "standin/app/shell_quote.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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
// Frame size assumed when the first frame's colour pass cannot be read.
constexpr int64_t kFallbackPixels = 1920 * 1080;

std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::string rangeText(FrameRange r) {
    return std::to_string(r.first) + "-" + std::to_string(r.last);
}

// The whole path of `program` found on PATH, or empty.
std::string findOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const fs::path candidate = fs::path(folder.empty() ? "." : folder) / program;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

struct ProgramResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs `args` (args[0] a whole path) with no input and both outputs kept.
ProgramResult runProgram(const std::vector<std::string>& args) {
    const std::string& name = args.front();
    auto fail = [&](const char* step) -> ProgramResult {
        throw AppError("cannot run '" + name + "': " + step + ": " + std::strerror(errno));
    };
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return fail("pipe");
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return fail("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, name.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        errno = spawned;
        return fail("start");
    }

    ProgramResult result;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& f : fds)
        if (f.fd >= 0)
            close(f.fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// Pixels of one frame, from the header of its colour pass.
int64_t framePixels(const std::string& colourPass) {
    auto in = OIIO::ImageInput::open(colourPass);
    if (!in) {
        OIIO::geterror(); // the image library keeps the message otherwise
        return kFallbackPixels;
    }
    const OIIO::ImageSpec& spec = in->spec();
    return std::max<int64_t>(1, static_cast<int64_t>(spec.width) * spec.height);
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
    s.output = fs::absolute(request.output.empty() ? s.scene.output : request.output)
                   .lexically_normal()
                   .string();
    checkOneImagePerFrame(s.output, s.range);
    return s;
}

} // namespace

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

int defaultChunk(int64_t pixelsPerFrame, int frames) {
    const double frameSeconds = static_cast<double>(pixelsPerFrame) * 1e-6 * kSecondsPerMegapixel;
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
    const auto begin = name.find('#');
    if (begin != std::string::npos) {
        const auto end = name.find_first_not_of('#', begin);
        name.erase(begin, (end == std::string::npos ? name.size() : end) - begin);
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

std::string batchScript(const BatchJob& job) {
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
      << " --frames \"$first-$last\" --output " << shellQuoted(job.output) << " --skip-existing\n";
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
                                     "--cpus-per-task=1"};
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
    std::string id = firstLine(sbatchOutput);
    id = id.substr(0, id.find(';'));
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
        throw AppError("sbatch gave no job id: '" + firstLine(sbatchOutput) + "'");
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

void farmSubmit(const FarmRequest& request, const std::string& program,
                const std::string& builtModule) {
    const Sequence s = readSequence(request);
    if (s.range.first < 0)
        throw AppError("frames " + rangeText(s.range) +
                       ": farm tasks take frame numbers from 0 (--frames)");
    const int total = s.range.last - s.range.first + 1;
    if (request.chunk < 0)
        throw AppError("--chunk " + std::to_string(request.chunk) +
                       ": a task needs 1 frame or more");
    const std::string sbatch = findOnPath("sbatch");
    if (sbatch.empty())
        throw AppError("no 'sbatch' on the PATH: orvit farm needs Slurm's commands");

    // The module and its settings are checked here, not in every task.
    { const SceneRenderer renderer(s.scene, builtModule); }
    prepareOutputFolder(s.output);
    const FarmFiles files = farmFiles(s.output);
    std::error_code ec;
    fs::create_directories(files.folder, ec);
    if (ec)
        throw AppError("farm folder '" + files.folder + "' cannot be made: " + ec.message());

    const std::vector<int> missing = missingFrames(s.output, s.range);
    if (missing.empty()) {
        std::printf("frames %s of %s are all done: nothing to submit\n", rangeText(s.range).c_str(),
                    s.scene.path.c_str());
        return;
    }
    const int chunk =
        request.chunk > 0
            ? request.chunk
            : defaultChunk(framePixels(framePath(s.scene.passes.colour, missing[0])), total);
    const std::vector<FrameRange> chunks = splitRange(s.range, chunk);
    std::vector<int> tasks;
    for (size_t i = 0, m = 0; i < chunks.size(); ++i) {
        while (m < missing.size() && missing[m] < chunks[i].first)
            ++m;
        if (m < missing.size() && missing[m] <= chunks[i].last)
            tasks.push_back(static_cast<int>(i));
    }

    BatchJob job{program, s.scene.path, s.output, s.range, chunk, files};
    {
        std::ofstream script(files.script(), std::ios::binary | std::ios::trunc);
        script << batchScript(job);
        if (!script.flush())
            throw AppError("batch script '" + files.script() +
                           "': cannot write: " + std::strerror(errno));
    }
    std::vector<std::string> args = sbatchArguments(job, tasks, request.partition);
    args.insert(args.begin(), sbatch);
    const ProgramResult run = runProgram(args);
    if (run.exitCode != 0) {
        std::string why = firstLine(run.err.empty() ? run.out : run.err);
        throw AppError("sbatch refused the job (exit " + std::to_string(run.exitCode) +
                       "): " + (why.empty() ? "no message" : why));
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
