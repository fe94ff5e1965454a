// `orvit render` of a range of frames: worker processes, each with its own
// loaded module, filter and instance, render frames handed out one at a
// time; their summary lines are printed in frame order.
#pragma once

#include "orvit/sequence/scene_render.h"

#include <string>

namespace orvit::sequence {

struct RenderRequest : SequenceRequest {
    std::string module; // empty: the scene's, else the built one
    bool skipExisting = false;
    int jobs = 0; // workers; 0: the CPUs this process may run on
};

// The CPUs this process may run on (its affinity, as a batch system sets it).
int availableCpus();

// Checks the scene, the range, the output and the module's settings, then
// renders the frames with `request.jobs` workers (no more than the frames).
// Prints "rendering ..." and each frame's summary line in frame order on
// standard output, and a progress bar on standard error when it is a
// terminal. A frame that fails stops the handing out: the frames already
// handed out are finished, their lines printed, and the failure thrown.
// SIGINT, SIGTERM or SIGHUP stops every worker, each leaving whole images
// only, and then ends this process by the same signal. Returns the folder the
// images went to.
std::string renderSequence(const RenderRequest& request, const std::string& builtModule);

} // namespace orvit::sequence
