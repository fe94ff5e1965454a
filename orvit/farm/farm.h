// A scene's sequence as a Slurm array job: the range cut into chunks, one
// array task per chunk, each task an `orvit render --skip-existing` of its
// chunk, so that submitting the same range again renders only what is
// missing, and never a frame that a task of an earlier job may still render.
// Beside the output, a folder `farm/` keeps the batch script, the record of
// submitted jobs and the tasks' logs.
#pragma once

#include "orvit/farm/batch_script.h"
#include "orvit/farm/farm_plan.h"
#include "orvit/sequence/scene_render.h"

#include <string>

namespace orvit::farm {

struct FarmRequest : sequence::SequenceRequest {
    int chunk = 0; // 0: defaultChunk
    int cpus = 1;  // per task, each rendering a frame at once
    SlurmOptions slurm;
    bool replace = false; // cancel the earlier jobs' tasks that hold frames
};

// Checks the scene, the range, the output and the module, writes the batch
// script and submits the chunks that still miss frames as one array job,
// leaving out the frames that tasks of earlier jobs for the same output may
// still render (naming those tasks and when they start), unless
// request.replace, which cancels those tasks first. Prints the job id and
// where the images and logs go. `program` is the program tasks run,
// `builtModule` the module used when the scene names none.
void farmSubmit(const FarmRequest& request, const std::string& program,
                const std::string& builtModule);

// Prints how many frames of the range are done and which are missing, and
// for each task of the submitted jobs its state, the nodes of its runs and
// its restarts, and for a pending one when it may start. An AppError when a
// Slurm command fails, and when frames are missing that no task will render.
void farmStatus(const FarmRequest& request);

} // namespace orvit::farm
