#include "orvit/scene/scene_writer.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/files/paths.h"
#include "orvit/scene/toml_text.h"

#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;

namespace orvit::scene {
namespace {

// The text of one scene, section by section; every string checked to be
// text a TOML file can hold, so that what is written reads back.
class Writer {
  public:
    explicit Writer(const SceneFile& scene) : scene_(scene) {}

    void section(const std::string& header, const std::string& table) {
        table_ = table;
        text += (text.empty() ? "" : "\n") + header + "\n";
    }

    // `key = value`, and `comment` after it.
    void key(const char* key, const std::string& value, const char* comment = nullptr) {
        text += std::string(key) + " = " + value +
                (comment != nullptr ? std::string(" # ") + comment : "") + "\n";
    }

    const std::string& checked(const char* key, const std::string& value) const {
        if (!isUtf8(value))
            throw core::AppError("scene '" + scene_.path + "': key '" + table_ + "." + key + "' " +
                                 core::inQuotes(value, '\'') +
                                 " is not UTF-8 text, which a scene file cannot hold");
        return value;
    }

    std::string string(const char* key, const std::string& value) const {
        return tomlString(checked(key, value));
    }

    // A path relative to the scene's folder where it has such a form, else
    // as given: the reader resolves both alike.
    std::string path(const char* key, const std::string& value) const {
        const fs::path relative = fs::path(value).lexically_relative(scene_.folder);
        return string(key, relative.empty() ? value : relative.string());
    }

    std::string text;

  private:
    const SceneFile& scene_;
    std::string table_;
};

// The settings lines as the value of `filter.settings`.
std::string settingsValue(const SceneFile& scene, const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        if (!isUtf8(line))
            throw core::AppError("scene '" + scene.path + "': settings line " +
                                 core::inQuotes(line) +
                                 " is not UTF-8 text, which a scene file cannot hold");
    return tomlLines(lines);
}

// One key at time 0 is written as the camera's lens alone; several, or one
// at another time, as keys over time.
void writeCamera(Writer& w, const SceneFile& scene) {
    if (scene.camera.empty())
        return;
    w.section("[camera]", "camera");
    if (scene.filmWidth > 0.0)
        w.key("film_width", tomlNumber(scene.filmWidth), "mm");
    const auto lens = [](const FovKey& key) {
        return key.focalLength > 0.0 ? "focal_length = " + tomlNumber(key.focalLength)
                                     : "fov = " + tomlNumber(key.degrees);
    };
    const FovKey& only = scene.camera.front();
    if (scene.camera.size() == 1 && only.time == 0.0 && !std::signbit(only.time)) {
        w.text += lens(only) + (only.focalLength > 0.0 ? " # mm\n" : " # horizontal, degrees\n");
        return;
    }
    w.key("keys",
          "[" +
              core::joined(scene.camera,
                           [&](const FovKey& key) {
                               return "{time = " + tomlNumber(key.time) + ", " + lens(key) + "}";
                           }) +
              "]",
          "seconds; horizontal fov in degrees, or focal length in mm");
}

void writePasses(Writer& w, const PassFiles& passes) {
    w.section("[passes]", "passes");
    // `file` alone gives the depth too, there where a frame has one unless a
    // channel is named for it.
    if (passes.special == passes.colour && passes.depth == passes.colour &&
        passes.depthMayBeAbsent == passes.depthChannel.empty()) {
        w.key("file", w.path("file", passes.colour));
    } else {
        w.key("colour", w.path("colour", passes.colour));
        w.key("special", w.path("special", passes.special));
        if (!passes.depth.empty())
            w.key("depth", w.path("depth", passes.depth));
    }
    if (!passes.colourChannels.empty())
        w.key("colour_channels",
              "[" + core::joined(passes.colourChannels, [&](const std::string& name) {
                  return w.string("colour_channels", name);
              }) + "]");
    if (!passes.specialChannel.empty())
        w.key("special_channel", w.string("special_channel", passes.specialChannel));
    if (!passes.cryptomatte.empty())
        w.key("cryptomatte", w.string("cryptomatte", passes.cryptomatte),
              "surfaces by the id of a pixel's rank-0 object");
    if (!passes.depthChannel.empty())
        w.key("depth_channel", w.string("depth_channel", passes.depthChannel));
    else if (passes.depth.empty())
        w.text += "# no depth pass: the Depth and G-Depth modes need one\n";
    if (std::isfinite(passes.farDepth))
        w.key("far_depth", tomlNumber(passes.farDepth), "depths from here on are the background");
}

void writeColour(Writer& w, const images::ColourSettings& colour) {
    w.section("[colour]", "colour");
    using Transform = images::ColourSettings::Transform;
    w.key("transform", colour.transform == Transform::Ocio     ? "\"ocio\""
                       : colour.transform == Transform::Linear ? "\"linear\""
                                                               : "\"srgb\"");
    if (colour.transform != Transform::Ocio)
        return;
    if (!colour.config.empty()) // else $OCIO
        w.key("config", w.path("config", colour.config));
    w.key("display", w.string("display", colour.display));
    w.key("view", w.string("view", colour.view));
    if (!colour.look.empty())
        w.key("look", w.string("look", colour.look));
}

} // namespace

std::string sceneText(const SceneFile& scene, const std::vector<std::string>& heading) {
    Writer w(scene);
    for (const std::string& line : heading)
        w.text += "# " + core::printableLine(line) + "\n";
    if (!scene.module.empty() || scene.server != kDefaultServer) {
        w.section("[module]", "module");
        if (!scene.module.empty())
            w.key("file", w.path("file", scene.module));
        if (scene.server != kDefaultServer)
            w.key("server", w.string("server", scene.server));
    }
    if (!scene.objects.empty()) {
        w.section("[scene]", "scene");
        w.key("objects", "[" + core::joined(scene.objects, [&](const std::string& path) {
                             return w.path("objects", path);
                         }) + "]");
    }
    w.section("[frames]", "frames");
    w.key("first", std::to_string(scene.first));
    w.key("last", std::to_string(scene.last));
    w.key("rate", tomlNumber(scene.rate), "frames a second, as rendered: envelopes run in seconds");
    writeCamera(w, scene);
    writePasses(w, scene.passes);
    writeColour(w, scene.colour);
    w.section("[output]", "output");
    w.key("file", w.path("file", scene.output));
    if (scene.compression != images::kFastCompression)
        w.key("compression", std::to_string(scene.compression));
    w.section("[filter]", "filter");
    if (!scene.settingsFile.empty())
        w.key("settings_file", w.path("settings_file", scene.settingsFile));
    else
        w.key("settings", settingsValue(scene, scene.settingsLines));
    for (size_t i = 0; i < scene.surfaces.size(); ++i) {
        const SurfaceEntry& surface = scene.surfaces[i];
        w.section("[[surfaces]]", "surfaces[" + std::to_string(i) + "]");
        if (!surface.name.empty())
            w.key("name", w.string("name", surface.name));
        if (surface.id)
            w.key("id", tomlString(idText(*surface.id)));
        w.key("special", std::to_string(surface.special));
    }
    return w.text;
}

std::string sceneTextWithSettings(const SceneFile& scene, const std::vector<std::string>& lines) {
    const std::string now =
        files::readRegularFile(scene.path, "scene '" + scene.path + "'", files::kSceneFileLimit);
    // The panel may have been open a long while: a file changed meanwhile is
    // read again, so that the changes made to it stay.
    const SceneSource source =
        now == scene.source.text ? scene.source : parseSceneFile(scene.path).source;
    if (source.settingsEnd == 0)
        throw core::AppError("scene '" + scene.path +
                             "': key 'filter.settings' is no longer there");
    return source.text.substr(0, source.settingsBegin) + settingsValue(scene, lines) +
           source.text.substr(source.settingsEnd);
}

} // namespace orvit::scene
