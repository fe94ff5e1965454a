#include "standin/app/settings_summary.h"

#include <cstdio>
#include <sstream>

namespace orvit::app {
namespace {

const char* modeName(int mode) {
    switch (mode) {
    case 0:
        return "Fixed";
    case 1:
        return "Depth";
    case 2:
        return "G-Fixed";
    case 3:
        return "G-Depth";
    default:
        return "(no mode)";
    }
}

// Reads one envelope's lines, "keys N" and N lines "TIME VALUE", at `next`.
bool readEnvelope(const std::vector<std::string>& lines, size_t& next,
                  std::vector<standin::Key>& keys) {
    long count = -1;
    if (next >= lines.size() || std::sscanf(lines[next].c_str(), "keys %ld", &count) != 1 ||
        count < 0 || static_cast<size_t>(count) > lines.size() - next - 1)
        return false;
    ++next;
    for (long i = 0; i < count; ++i, ++next) {
        standin::Key key{};
        if (std::sscanf(lines[next].c_str(), "%lf %lf", &key.time, &key.value) != 2)
            return false;
        keys.push_back(key);
    }
    keys = standin::orderedKeys(std::move(keys));
    return true;
}

} // namespace

SettingsSummary summariseSettings(const std::vector<std::string>& lines) {
    SettingsSummary summary;
    int enabled = 0, count = 0;
    if (lines.size() < 2 || lines[0].rfind("v ", 0) != 0 ||
        std::sscanf(lines[1].c_str(), "%d %d", &enabled, &count) != 2 || count < 0)
        return summary;
    size_t next = 2;
    for (int i = 0; i < count; ++i) {
        GlowSummary glow;
        int on = 0, sizeFlag = 0, transparencyFlag = 0;
        if (next + 1 >= lines.size() ||
            std::sscanf(lines[next].c_str(), "%d %d %d %lf %lf", &glow.value, &on, &glow.mode,
                        &glow.size, &glow.transparency) != 5 ||
            std::sscanf(lines[next + 1].c_str(), "%d %d", &sizeFlag, &transparencyFlag) != 2)
            return summary;
        next += 2;
        glow.sizeEnvelope = sizeFlag != 0;
        glow.transparencyEnvelope = transparencyFlag != 0;
        if ((glow.sizeEnvelope && !readEnvelope(lines, next, glow.sizeKeys)) ||
            (glow.transparencyEnvelope && !readEnvelope(lines, next, glow.transparencyKeys)))
            return summary;
        next += 5; // the colour keys
        if (next > lines.size())
            return summary;
        if (on != 0)
            summary.glows.push_back(glow);
    }
    summary.readable = true;
    summary.enabled = enabled != 0;
    return summary;
}

std::string describeSettings(const SettingsSummary& summary, double time) {
    if (!summary.readable)
        return "(settings not understood)";
    if (!summary.enabled)
        return "filter off";
    if (summary.glows.empty())
        return "no glow enabled";
    std::ostringstream text;
    text.precision(4);
    for (size_t i = 0; i < summary.glows.size(); ++i) {
        const GlowSummary& g = summary.glows[i];
        const double size = g.sizeEnvelope ? standin::evaluateKeys(g.sizeKeys, time) : g.size;
        const double transparency = g.transparencyEnvelope
                                        ? standin::evaluateKeys(g.transparencyKeys, time)
                                        : g.transparency;
        text << (i ? ", " : "") << g.value << " " << modeName(g.mode) << " (size " << size
             << (g.sizeEnvelope ? " keyed" : "") << ", transparency " << transparency
             << (g.transparencyEnvelope ? " keyed" : "") << ")";
    }
    return text.str();
}

} // namespace orvit::app
