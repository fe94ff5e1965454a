#include "orvit/wincheck/check_settings.h"

#include <cstdio>

namespace orvit::wincheck {
namespace {

// Lines in the module's own format; envelope lines in the stand-in's.
void appendLines(const Setting& s, std::vector<std::string>* lines) {
    char line[256];
    std::snprintf(line, sizeof line, "%d %d %d %lf %lf", s.value, s.enabled, s.mode, s.distance,
                  s.transparency);
    lines->push_back(line);
    const EnvelopeKeys* envelopes[] = {&s.size, &s.transparencyEnvelope};
    std::snprintf(line, sizeof line, "%d %d", envelopes[0]->keys.empty() ? 0 : 1,
                  envelopes[1]->keys.empty() ? 0 : 1);
    lines->push_back(line);
    for (const EnvelopeKeys* e : envelopes) {
        if (e->keys.empty())
            continue;
        lines->push_back("keys " + std::to_string(e->keys.size()));
        for (const auto& key : e->keys) {
            std::snprintf(line, sizeof line, "%.17g %.17g", key.first, key.second);
            lines->push_back(line);
        }
    }
    for (const auto& k : s.keys) {
        std::snprintf(line, sizeof line, "%d %d %d %d %d", k[0], k[1], k[2], k[3], k[4]);
        lines->push_back(line);
    }
}

} // namespace

std::vector<std::string> sceneLines(int enabled, const std::vector<Setting>& settings) {
    std::vector<std::string> lines = {"v 04", std::to_string(enabled) + " " +
                                                  std::to_string(settings.size())};
    for (const Setting& s : settings)
        appendLines(s, &lines);
    return lines;
}

std::vector<Setting> modeSettings() {
    return {
        {1,
         1,
         0,
         0.06,
         30.0,
         {{{0.0, 0.04}, {0.1, 0.09}}},
         {},
         {{1, 255, 40, 10, 0},
          {1, 255, 200, 0, 40},
          {1, 20, 60, 255, 100},
          {0, 255, 255, 255, 60},
          {0, 255, 255, 255, 80}}},
        {2,
         1,
         1,
         0.5,
         60.0,
         {},
         {{{0.0, 80.0}, {0.05, 20.0}, {0.1, 95.0}}},
         {{1, 0, 255, 128, 0},
          {1, 255, 0, 255, 50},
          {0, 255, 255, 255, 40},
          {1, 250, 250, 10, 90},
          {0, 255, 255, 255, 80}}},
        {3,
         1,
         2,
         0.08,
         75.0,
         {},
         {},
         {{1, 255, 255, 255, 0},
          {0, 255, 255, 255, 20},
          {1, 255, 0, 0, 40},
          {0, 255, 255, 255, 60},
          {1, 0, 0, 90, 100}}},
        {4,
         1,
         3,
         0.8,
         45.5,
         {{{0.0, 0.3}, {0.2, 1.1}}},
         {},
         {{1, 120, 255, 30, 10},
          {0, 255, 255, 255, 20},
          {0, 255, 255, 255, 40},
          {0, 255, 255, 255, 60},
          {1, 255, 120, 0, 70}}},
    };
}

} // namespace orvit::wincheck
