// What the filter will draw, read from the settings as the module saved them,
// for the command's per-frame summary. The envelopes' lines are those of the
// stand-in's envelope service ("keys N", then N lines "TIME VALUE").
#pragma once

#include "standin/core/keys.h"

#include <string>
#include <vector>

namespace orvit::app {

struct GlowSummary {
    int value = 0;
    int mode = 0;
    double size = 0.0;         // the static size, when there is no size envelope
    double transparency = 0.0; // likewise
    bool sizeEnvelope = false;
    bool transparencyEnvelope = false;
    std::vector<standin::Key> sizeKeys;
    std::vector<standin::Key> transparencyKeys;
};

struct SettingsSummary {
    bool readable = false; // false: lines this summary does not understand
    bool enabled = false;
    std::vector<GlowSummary> glows; // the enabled settings, in list order
};

SettingsSummary summariseSettings(const std::vector<std::string>& lines);

// The glows at `time`, e.g. "1 Fixed (size 0.06, transparency 51.7),
// 2 Depth (size 0.7, transparency 60)"; "filter off" and so on otherwise.
std::string describeSettings(const SettingsSummary& summary, double time);

} // namespace orvit::app
