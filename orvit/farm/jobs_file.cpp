#include "orvit/farm/jobs_file.h"

#include "orvit/core/host_error.h"
#include "orvit/farm/farm_plan.h"
#include "orvit/farm/slurm_answers.h"
#include "orvit/files/paths.h"
#include "orvit/files/whole_io.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace orvit::farm {
namespace {

// The largest MaxArraySize Slurm takes.
constexpr int64_t kMaxArrayTasks = 4000001;

} // namespace

void recordJob(const std::string& path, const SubmittedJob& job) {
    std::string line = job.id + " tasks";
    for (const scene::FrameRange& t : job.tasks)
        line += " " + scene::rangeText(t);
    line += "\n";
    // Opened as the inputs are: a pipe or a device there is refused, never
    // waited on.
    files::OwnedFd fd(
        open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    struct stat s {};
    std::string why = !fd ? std::strerror(errno) : "";
    if (fd && fstat(fd.get(), &s) == 0 && !S_ISREG(s.st_mode))
        why = std::string("it is ") + files::notRegularKind(s.st_mode) + ", not a regular file";
    else if (fd && !files::writeWhole(fd.get(), line.data(), line.size()))
        why = std::strerror(errno);
    if (!fd.close() && why.empty())
        why = std::strerror(errno);
    if (!why.empty())
        throw core::AppError("farm jobs file '" + path + "': cannot write: " + why);
}

std::vector<SubmittedJob> readJobs(const std::string& path) {
    std::vector<SubmittedJob> jobs;
    struct stat s {};
    if (lstat(path.c_str(), &s) != 0 && errno == ENOENT)
        return jobs;
    std::istringstream in(
        files::readRegularFile(path, "farm jobs file '" + path + "'", files::kJobsFileLimit));
    std::string line;
    // The file's older lines are expanded into tasks: all its lines together
    // give no more than Slurm's largest array, however they are damaged.
    int64_t tasksLeft = kMaxArrayTasks;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        SubmittedJob job;
        std::string second;
        if (!(fields >> job.id >> second) || !isSlurmNumber(job.id, 20))
            continue;
        if (second == "tasks") {
            std::string text;
            bool good = true;
            while (good && fields >> text) {
                const std::optional<scene::FrameRange> range = scene::readFrameRange(text);
                good = range.has_value();
                if (good)
                    job.tasks.push_back(*range);
            }
            if (good && !job.tasks.empty()) {
                tasksLeft -= static_cast<int64_t>(job.tasks.size());
                jobs.push_back(job);
            }
            continue;
        }
        // The older form: the first and last frame, then the chunk size.
        std::string last, rest;
        int chunk = 0;
        std::optional<scene::FrameRange> whole;
        if (fields >> last >> chunk && !(fields >> rest))
            whole = scene::readFrameRange(second + "-" + last);
        if (whole && chunk > 0 && (int64_t{whole->last} - whole->first) / chunk < tasksLeft) {
            job.tasks = splitRange(*whole, chunk);
            tasksLeft -= static_cast<int64_t>(job.tasks.size());
            jobs.push_back(job);
        }
    }
    return jobs;
}

} // namespace orvit::farm
