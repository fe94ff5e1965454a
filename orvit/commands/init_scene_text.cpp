#include "orvit/commands/init_scene_text.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/scene/toml_text.h"

#include <cstdio>
#include <cstdlib>

namespace fs = std::filesystem;

namespace orvit::commands {

using core::inQuotes;

// A number typed for `option`, in (low, high).
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

namespace {

std::string tomlPath(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_relative(folder);
    return scene::tomlString(relative.empty() ? path.string() : relative.string());
}

} // namespace

// The scene's text. Keys that the frames do not give and this request does
// not set come from `old`, the scene updated, when there is one: its
// camera, rate, module, object files, output and compression.
std::string sceneText(const InitResult& r, const InitRequest& request, const fs::path& folder,
                      const std::string& output, const std::string& settings,
                      const scene::SceneFile* old) {
    const std::string from = core::joined(
        request.patterns, [](const std::string& p) { return scene::tomlEscaped(p, false); });
    std::string text = "# Made by orvit init from " + from + ": frames " +
                       scene::rangeText(r.range) + ", " + std::to_string(r.width) + "x" +
                       std::to_string(r.height) +
                       ".\n"
                       "# Surfaces can be renamed; docs/scene-file.md tells the rest.\n\n";
    if (old != nullptr && (!old->module.empty() || old->server != scene::kDefaultServer)) {
        text += "[module]\n";
        if (!old->module.empty())
            text += "file = " + tomlPath(old->module, folder) + "\n";
        text += "server = " + scene::tomlString(old->server) + "\n\n";
    }
    if (old != nullptr && !old->objects.empty())
        text += "[scene]\nobjects = [" +
                core::joined(old->objects,
                             [&](const std::string& object) { return tomlPath(object, folder); }) +
                "]\n\n";
    text += "[frames]\nfirst = " + std::to_string(r.range.first) +
            "\nlast = " + std::to_string(r.range.last) +
            "\nrate = " + (old != nullptr ? scene::tomlNumber(old->rate) : "24.0") +
            " # frames a second, as rendered: envelopes run in seconds\n\n";
    if (!request.fov.empty()) {
        text += "[camera]\nfov = " + scene::tomlNumber(parseNumber(request.fov, "--fov", 0, 180)) +
                " # horizontal, degrees\n\n";
    } else if (!request.focalLength.empty()) {
        text += "[camera]\nfocal_length = " +
                scene::tomlNumber(parseNumber(request.focalLength, "--focal-length", 0, 1e9)) +
                "\nfilm_width = " +
                scene::tomlNumber(parseNumber(request.filmWidth, "--film-width", 0, 1e9)) +
                " # mm\n\n";
    } else if (old != nullptr && !old->camera.empty()) {
        text += "[camera]\n";
        if (old->filmWidth > 0.0)
            text += "film_width = " + scene::tomlNumber(old->filmWidth) + " # mm\n";
        text +=
            "keys = [" +
            core::joined(old->camera,
                         [](const scene::FovKey& key) {
                             return "{time = " + scene::tomlNumber(key.time) +
                                    (key.focalLength > 0.0
                                         ? ", focal_length = " + scene::tomlNumber(key.focalLength)
                                         : ", fov = " + scene::tomlNumber(key.degrees)) +
                                    "}";
                         }) +
            "] # horizontal fov in degrees\n\n";
    }
    const auto path = [&](const std::string& pattern) {
        return tomlPath(fs::absolute(pattern).lexically_normal(), folder);
    };
    const bool oneFile = r.specialPattern == r.colourPattern &&
                         (r.depthPattern.empty() || r.depthPattern == r.colourPattern);
    if (oneFile)
        text += "[passes]\nfile = " + path(r.colourPattern);
    else
        text += "[passes]\ncolour = " + path(r.colourPattern) +
                "\nspecial = " + path(r.specialPattern) +
                (r.depthPattern.empty() ? "" : "\ndepth = " + path(r.depthPattern));
    text += "\ncolour_channels = [" + core::joined(r.colourChannels, scene::tomlString) + "]\n";
    if (!r.cryptomatte.empty())
        text += "cryptomatte = " + scene::tomlString(r.cryptomatte) +
                " # surfaces by the id of a pixel's rank-0 object\n";
    else if (!r.specialChannel.empty())
        text += "special_channel = " + scene::tomlString(r.specialChannel) + "\n";
    if (!r.depthChannel.empty())
        text += "depth_channel = " + scene::tomlString(r.depthChannel) + "\n";
    else
        text += "# no depth pass: the Depth and G-Depth modes need one\n";
    if (r.farDepth)
        text += "far_depth = 1.0e9 # the renderer marks empty background with a huge depth\n";
    if (r.colour.transform == images::ColourSettings::Transform::Ocio) {
        text += "\n[colour]\ntransform = \"ocio\"\n";
        if (!r.colour.config.empty()) // else $OCIO, as the kept scene said
            text += "config = " + tomlPath(r.colour.config, folder) + "\n";
        text += "display = " + scene::tomlString(r.colour.display) +
                "\nview = " + scene::tomlString(r.colour.view) + "\n";
        if (!r.colour.look.empty())
            text += "look = " + scene::tomlString(r.colour.look) + "\n";
    } else {
        text += std::string("\n[colour]\ntransform = ") +
                (r.colour.transform == images::ColourSettings::Transform::Linear ? "\"linear\"\n"
                                                                                 : "\"srgb\"\n");
    }
    text += "\n[output]\nfile = " + tomlPath(output, folder) + "\n";
    if (old != nullptr && old->compression != images::kFastCompression)
        text += "compression = " + std::to_string(old->compression) + "\n";
    text += "\n[filter]\nsettings_file = " + scene::tomlString(settings) + "\n";
    for (const scene::SurfaceEntry& surface : r.surfaces) {
        text += "\n[[surfaces]]\n";
        if (!surface.name.empty())
            text += "name = " + scene::tomlString(surface.name) + "\n";
        if (surface.id)
            text += "id = " + scene::tomlString(scene::idText(*surface.id)) + "\n";
        text += "special = " + std::to_string(surface.special) + "\n";
    }
    return text;
}

} // namespace orvit::commands
