// The farm's record of the jobs submitted for an output, one line a job.
#pragma once

#include "orvit/scene/frame_pattern.h"

#include <string>
#include <vector>

namespace orvit::farm {

// One submission, one line in the jobs file: "JOB tasks A-B C-D ...", the
// frames of task 0, 1, ... in turn.
struct SubmittedJob {
    std::string id;
    std::vector<scene::FrameRange> tasks;
};
void recordJob(const std::string& path, const SubmittedJob& job);
// The jobs in the order submitted, none when the file does not exist; lines
// that do not read are passed over. The older form "JOB FIRST LAST CHUNK"
// reads as tasks of CHUNK frames. An AppError naming the file when it is
// not a regular file (opened without waiting) or larger than kJobsFileLimit.
std::vector<SubmittedJob> readJobs(const std::string& path);

} // namespace orvit::farm
