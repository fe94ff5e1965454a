// The demo scene copied into a test's folder, for commands that write beside
// the scene or into its settings.
#pragma once

#include "tests/support/temp_folder.h"

#include <filesystem>
#include <string>

namespace testsupport {

// Copies the demo's folder to `name` in `dir`, leaving out its rendered
// output; returns the copied scene file.
inline std::string copyDemo(const TempFolder& dir, const std::string& name = "demo") {
    const std::filesystem::path demo = std::filesystem::path(ORVIT_DEMO_SCENE).parent_path();
    std::filesystem::copy(demo, dir.path() / name, std::filesystem::copy_options::recursive);
    std::filesystem::remove_all(dir.path() / name / "out");
    return dir / (name + "/scene.toml");
}

} // namespace testsupport
