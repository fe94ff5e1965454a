#include "orvit/commands/default_glow.h"

#include "orvit/core/host_error.h"
#include "orvit/scene/scene_surfaces.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvit::commands {

std::array<uint8_t, 3> defaultGlowColour(int value) {
    const double hue = std::fmod(value * 137.50776405003785, 360.0) / 60.0; // 0 to 6
    const double rising = hue - std::floor(hue);
    const auto byte = [](double v) { return static_cast<uint8_t>(std::lround(v * 255.0)); };
    const uint8_t full = 255, up = byte(rising), down = byte(1.0 - rising);
    switch (static_cast<int>(hue)) {
    case 0:
        return {full, up, 0};
    case 1:
        return {down, full, 0};
    case 2:
        return {0, full, up};
    case 3:
        return {0, down, full};
    case 4:
        return {up, 0, full};
    default:
        return {full, 0, down};
    }
}

panel::Script defaultGlowScript(const std::vector<int>& values) {
    std::string text = "tick \"Enable Orvit\" on\n";
    char line[256];
    for (int value : values) {
        const std::array<uint8_t, 3> c = defaultGlowColour(value);
        std::snprintf(line, sizeof line,
                      "choose \"Special Buffer\" %d\npress \"Paste\"\n"
                      "tick box left of \"Special Buffer\" on\ntype \"Distance\" %g\n"
                      "set key 1 colour %d %d %d\n",
                      value, kDefaultGlowDistance, c[0], c[1], c[2]);
        text += line;
    }
    return panel::parseScript(text + "ok\n", "the default glows");
}

EditResult giveDefaultGlows(const std::string& scenePath, const std::vector<std::string>& values,
                            const std::string& builtModule, const std::string& module) {
    std::vector<int> listed;
    for (const std::string& text : values) {
        const int value = scene::parseSpecialValue(text, "--default-glow");
        if (std::find(listed.begin(), listed.end(), value) == listed.end())
            listed.push_back(value);
    }
    // A scene whose settings file is yet to be made starts from the module's
    // own defaults, and the file is made.
    const scene::SceneFile scene = scene::parseSceneFile(scenePath, true);
    EditOptions options;
    options.module = module;
    options.freshSettings = scene.settingsFileAbsent;
    // The panel offers exactly the listed values, whatever the scene's
    // surfaces carry.
    options.surfaces = scene::surfacesForValues(listed);
    return editScene(scene, defaultGlowScript(listed), builtModule, options);
}

} // namespace orvit::commands
