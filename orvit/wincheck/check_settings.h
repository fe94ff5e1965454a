// The settings wincheck loads: one per mode, and the lines of settings in
// the module's own format.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace orvit::wincheck {

struct EnvelopeKeys {
    std::vector<std::pair<double, double>> keys; // empty: no envelope
};

struct Setting {
    int value;
    int enabled;
    int mode;
    double distance;
    double transparency;
    EnvelopeKeys size;
    EnvelopeKeys transparencyEnvelope;
    int keys[5][5]; // enabled, red, green, blue, position
};

// The settings' lines: the version, `enabled` and the count, then each
// setting's lines.
std::vector<std::string> sceneLines(int enabled, const std::vector<Setting>& settings);

// One setting per mode, on special values 1 to 4, with envelopes on two of
// them. Depth sizes are lengths in scene units; fixed ones are fractions of
// the width.
std::vector<Setting> modeSettings();

} // namespace orvit::wincheck
