// The scene `orvit init` writes: what the frames give, what the request
// sets, and what a scene updated keeps.
#pragma once

#include "orvit/commands/init_command.h"
#include "orvit/scene/scene_file.h"

#include <string>
#include <vector>

namespace orvit::commands {

// A number typed for `option`, in (low, high); an AppError naming the option
// and the text otherwise.
double parseNumber(const std::string& text, const std::string& option, double low, double high);

// The scene to write for `r`, with `output` its output pattern. Keys that
// the frames do not give and the request does not set come from `old`, the
// scene updated, when there is one: its camera, rate, module, object files,
// output and compression.
scene::SceneFile sceneToWrite(const InitResult& r, const InitRequest& request,
                              const std::string& output, const scene::SceneFile* old);

// The comment lines that open it: what made it, and what may be changed.
std::vector<std::string> sceneHeading(const InitResult& r, const InitRequest& request);

} // namespace orvit::commands
