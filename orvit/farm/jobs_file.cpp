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
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace orvit::farm {
namespace {

// The largest MaxArraySize Slurm takes.
constexpr int64_t kMaxArrayTasks = 4000001;

// "A-B" of frames that may be negative.
bool readRange(const std::string& text, scene::FrameRange* range) {
    std::istringstream in(text);
    char dash = 0;
    std::string rest;
    return in >> range->first >> dash >> range->last && dash == '-' && !(in >> rest) &&
           range->first <= range->last;
}

} // namespace

void recordJob(const std::string& path, const SubmittedJob& job) {
    std::string line = job.id + " tasks";
    for (const scene::FrameRange& t : job.tasks)
        line += " " + scene::rangeText(t);
    line += "\n";
    // Opened as the inputs are: a pipe or a device there is refused, never
    // waited on.
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat s {};
    std::string why = fd < 0 ? std::strerror(errno) : "";
    if (fd >= 0 && fstat(fd, &s) == 0 && !S_ISREG(s.st_mode))
        why = std::string("it is ") + files::notRegularKind(s.st_mode) + ", not a regular file";
    else if (fd >= 0 && !files::writeWhole(fd, line.data(), line.size()))
        why = std::strerror(errno);
    if (fd >= 0 && close(fd) != 0 && why.empty())
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
            std::string range;
            bool good = true;
            while (good && fields >> range) {
                scene::FrameRange r;
                good = readRange(range, &r);
                job.tasks.push_back(r);
            }
            if (good && !job.tasks.empty()) {
                tasksLeft -= static_cast<int64_t>(job.tasks.size());
                jobs.push_back(job);
            }
            continue;
        }
        scene::FrameRange whole;
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

} // namespace orvit::farm
