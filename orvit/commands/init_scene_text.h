// The text of the scene `orvit init` writes, and the numbers typed for it.
#pragma once

#include "orvit/commands/init_command.h"
#include "orvit/scene/scene_file.h"

#include <filesystem>
#include <string>

namespace orvit::commands {

// A number typed for `option`, in (low, high); an AppError naming the option
// and the text otherwise.
double parseNumber(const std::string& text, const std::string& option, double low, double high);

// The scene's text. Keys that the frames do not give and this request does
// not set come from `old`, the scene updated, when there is one: its
// camera, rate, module, object files, output and compression. Paths are
// written from `folder`, the scene's.
std::string sceneText(const InitResult& r, const InitRequest& request,
                      const std::filesystem::path& folder, const std::string& output,
                      const std::string& settings, const scene::SceneFile* old);

} // namespace orvit::commands
