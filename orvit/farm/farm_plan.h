// The plan of an array job: the range cut into chunks (chunk i is array task
// i), the tasks that render the missing frames and the files beside the
// output. No process is run here.
#pragma once

#include "orvit/scene/frame_pattern.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvit::farm {

// ---- Chunks, missing frames, the array ----

// The range cut into chunks of `size` frames from its first; the last chunk
// may be shorter. Chunk i is array task i.
std::vector<scene::FrameRange> splitRange(scene::FrameRange range, int size);

// Frames per task that give each task several seconds of work, from the
// frame's size in pixels and the task's CPUs (which render that many frames
// at once); at least 1 and at most the range, large enough that the range
// needs no more than Slurm's default 1001 array tasks, and even: the range in
// as few tasks, split as equally as may be.
int defaultChunk(int64_t pixelsPerFrame, int frames, int cpus = 1);

// ---- Files beside the output ----

struct FarmFiles {
    std::string folder; // <output folder>/farm
    std::string name;   // the output pattern's file name, #### and all
    std::string script() const { return folder + "/" + name + ".sbatch"; }
    std::string jobs() const { return folder + "/" + name + ".jobs"; }
    // Slurm's log file pattern: %A the job, %a the task, and a '%' of the
    // path doubled, so that Slurm takes it as it is.
    std::string logs() const;
    std::string log(const std::string& job, int task) const {
        return folder + "/" + name + "." + job + "_" + std::to_string(task) + ".log";
    }
};
// `pattern` must be a whole path.
FarmFiles farmFiles(const std::string& pattern);

// The frames of each new task: the range cut into chunks of `chunk` frames
// from its first, and in each chunk the frames from its first missing one to
// its last, leaving out the frames `held` (ascending) by tasks of earlier
// jobs that are not over, so that no two tasks ever render the same frame.
// A chunk cut by held frames gives a task on each side that misses frames.
std::vector<scene::FrameRange> planTasks(scene::FrameRange range, int chunk,
                                         const std::vector<int>& missing,
                                         const std::vector<int>& held);

} // namespace orvit::farm
