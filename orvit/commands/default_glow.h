// The glow a special value gets before anyone has set one: enabled, "Fixed"
// mode at a small distance, a colour of its own. The settings are made by
// the module itself, its panel worked headless by a script as a person would
// work it, so that the host never writes the module's format.
#pragma once

#include "orvit/commands/edit_command.h"
#include "orvit/panel/panel_script.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvit::commands {

// The glow size of the default glow, a fraction of the frame width.
constexpr double kDefaultGlowDistance = 0.02;

// The colour of value `value`'s default glow: hues spread by the golden
// angle, so that neighbouring values differ clearly, at full saturation.
std::array<uint8_t, 3> defaultGlowColour(int value);

// The panel script that ticks "Enable Orvit" and gives each of `values` the
// default glow: the value chosen, "Paste" of the untouched clipboard (the
// module's defaults, envelopes gone), its box ticked, the distance typed and
// the first key coloured; then OK.
panel::Script defaultGlowScript(const std::vector<int>& values);

// `orvit settings SCENE --default-glow N ...`: each listed value (1 to 255)
// gets the default glow, every other setting stays exactly as it is, and the
// settings go back where the scene keeps them. A settings file the scene
// names that does not exist yet is made, from the module's defaults.
EditResult giveDefaultGlows(const std::string& scenePath, const std::vector<std::string>& values,
                            const std::string& builtModule, const std::string& module = "");

} // namespace orvit::commands
