// A scene's sequence as a Slurm array job: the range cut into chunks, one
// array task per chunk, each task an `orvit render --skip-existing` of its
// chunk, so that submitting the same range again renders only what is
// missing. Beside the output, a folder `farm/` keeps the batch script, the
// record of submitted jobs and the tasks' logs.
#pragma once

#include <string>

namespace orvit::app {

struct FarmRequest {
    std::string scene;
    std::string frames;    // empty: the scene's range
    std::string output;    // empty: the scene's
    std::string partition; // empty: the cluster's default
    int chunk = 0;         // 0: defaultChunk
    int cpus = 1;          // per task, each rendering a frame at once
};

// Checks the scene, the range, the output and the module, writes the batch
// script and submits the chunks that still miss frames as one array job.
// Prints the job id and where the images and logs go. `program` is this
// program, `builtModule` the module used when the scene names none.
void farmSubmit(const FarmRequest& request, const std::string& program,
                const std::string& builtModule);

// Prints how many frames of the range are done and which are missing, and the
// state of each task of the submitted jobs Slurm still knows.
void farmStatus(const FarmRequest& request);

} // namespace orvit::app
