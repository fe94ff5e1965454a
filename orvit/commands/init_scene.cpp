#include "orvit/commands/init_scene.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>

namespace fs = std::filesystem;

namespace orvit::commands {

double parseNumber(const std::string& text, const std::string& option, double low, double high) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    const bool plain = !text.empty() && end == text.c_str() + text.size() &&
                       text.find_first_not_of("0123456789.eE+-") == std::string::npos;
    if (!plain || !(v > low && v < high)) {
        char range[96];
        std::snprintf(range, sizeof range, "expected a number between %g and %g", low, high);
        throw core::AppError(option + " " + core::inQuotes(text, '\'') + ": " + range);
    }
    return v;
}

scene::SceneFile sceneToWrite(const InitResult& r, const InitRequest& request,
                              const std::string& output, const scene::SceneFile* old) {
    scene::SceneFile s = old != nullptr ? *old : scene::SceneFile{};
    s.path = r.scene;
    s.folder = fs::path(r.scene).parent_path().string();
    s.source = {};
    s.first = r.range.first;
    s.last = r.range.last;
    if (!request.fov.empty()) {
        s.filmWidth = 0.0;
        s.camera = {scene::degreesKey(0.0, parseNumber(request.fov, "--fov", 0, 180))};
    } else if (!request.focalLength.empty()) {
        s.filmWidth = parseNumber(request.filmWidth, "--film-width", 0, 1e9);
        s.camera = {scene::focalLengthKey(
            0.0, parseNumber(request.focalLength, "--focal-length", 0, 1e9), s.filmWidth)};
    }
    const auto whole = [](const std::string& pattern) {
        return fs::absolute(pattern).lexically_normal().string();
    };
    // The colour, special and depth from one file are that file's passes; a
    // depth pass none holds is none.
    const bool oneFile = r.specialPattern == r.colourPattern &&
                         (r.depthPattern.empty() || r.depthPattern == r.colourPattern);
    s.passes = {};
    s.passes.colour = whole(r.colourPattern);
    s.passes.special = whole(r.specialPattern);
    s.passes.depth = !r.depthPattern.empty() ? whole(r.depthPattern)
                     : oneFile               ? s.passes.colour
                                             : std::string();
    s.passes.depthMayBeAbsent = r.depthChannel.empty();
    s.passes.colourChannels = r.colourChannels;
    s.passes.cryptomatte = r.cryptomatte;
    s.passes.specialChannel = r.cryptomatte.empty() ? r.specialChannel : "";
    s.passes.depthChannel = r.depthChannel;
    s.passes.farDepth = r.farDepth ? kFarFrom : std::numeric_limits<double>::infinity();
    s.colour = r.colour;
    s.output = output;
    s.settingsFile = r.settings;
    s.settingsLines.clear();
    s.settingsFileAbsent = false;
    s.surfaces = r.surfaces;
    return s;
}

std::vector<std::string> sceneHeading(const InitResult& r, const InitRequest& request) {
    return {"Made by orvit init from " + core::joined(request.patterns) + ": frames " +
                scene::rangeText(r.range) + ", " + std::to_string(r.width) + "x" +
                std::to_string(r.height) + ".",
            "Surfaces can be renamed; docs/scene-file.md tells the rest."};
}

} // namespace orvit::commands
