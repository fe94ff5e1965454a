#include "orvit/scene/scene_file.h"

#include "orvit/core/host_error.h"
#include "orvit/core/saved_lines.h"
#include "orvit/files/paths.h"
#include "orvit/scene/parser_safe_text.h"

#include <toml++/toml.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace orvit::scene {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::string typeName(const toml::node& node) {
    std::ostringstream s;
    s << node.type();
    return s.str();
}

// Byte offset of a 1-based line and code-point column in `text`.
size_t offsetOf(const std::string& text, toml::source_position at) {
    size_t i = 0;
    for (uint32_t line = 1; line < at.line; ++line) {
        i = text.find('\n', i);
        if (i == std::string::npos)
            return text.size();
        ++i;
    }
    for (uint32_t column = 1; column < at.column && i < text.size(); ++column) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            ++i;
    }
    return i;
}

// Reads one scene file, naming the file, the key and its line in each failure.
class SceneReader {
  public:
    SceneReader(std::string path, const toml::table& root) : path_(std::move(path)), root_(root) {}

    [[noreturn]] void fail(const std::string& key, const std::string& what,
                           const toml::node* at = nullptr) const {
        std::string where = "scene '" + path_ + "'";
        if (at && at->source().begin.line > 0)
            where += ":" + std::to_string(at->source().begin.line);
        throw core::AppError(where + ": " + (key.empty() ? "" : "key '" + key + "' ") + what);
    }

    // `node`, the key `name`; a failure when it is absent but `required`.
    const toml::node* given(const toml::node* node, const std::string& name, bool required) const {
        if (!node && required)
            fail(name, "is missing");
        return node;
    }

    // The table `name` of the root; null when absent.
    const toml::table* section(const std::string& name, bool required) const {
        const toml::node* node = given(root_.get(name), name, required);
        if (!node)
            return nullptr;
        if (!node->is_table())
            fail(name, "must be a table, not " + typeName(*node), node);
        return node->as_table();
    }

    // Refuses keys the scene does not know, so that a misspelt key is not
    // silently ignored.
    void onlyKeys(const toml::table& table, const std::string& prefix,
                  std::initializer_list<const char*> known) const {
        for (const auto& entry : table) {
            const std::string key(entry.first.str());
            bool found = false;
            for (const char* k : known)
                found = found || key == k;
            if (!found)
                fail((prefix.empty() ? "" : prefix + ".") + key, "is not a scene key",
                     &entry.second);
        }
    }

    const toml::node* get(const toml::table* table, const char* key) const {
        return table ? table->get(key) : nullptr;
    }

    std::string string(const toml::table* table, const std::string& prefix, const char* key,
                       bool required, std::string fallback = {}) const {
        const std::string name = prefix + "." + key;
        const toml::node* node = given(get(table, key), name, required);
        if (!node)
            return fallback;
        if (!node->is_string())
            fail(name, "must be a string, not " + typeName(*node), node);
        const std::string value = node->as_string()->get();
        if (value.empty())
            fail(name, "must not be empty", node);
        return value;
    }

    double number(const toml::node* node, const std::string& name) const {
        if (node->is_integer())
            return static_cast<double>(node->as_integer()->get());
        if (node->is_floating_point())
            return node->as_floating_point()->get();
        fail(name, "must be a number, not " + typeName(*node), node);
    }

    // A number in (low, high); `required` or else `fallback`.
    double number(const toml::table* table, const std::string& prefix, const char* key,
                  bool required, double fallback, double low, double high) const {
        const std::string name = prefix + "." + key;
        const toml::node* node = given(get(table, key), name, required);
        if (!node)
            return fallback;
        const double v = number(node, name);
        checkRange(v, name, node, low, high);
        return v;
    }

    void checkRange(double v, const std::string& name, const toml::node* node, double low,
                    double high) const {
        if (!(v > low && v < high)) {
            std::ostringstream s;
            s << "must lie between " << low << " and " << high << " (exclusive), not " << v;
            fail(name, s.str(), node);
        }
    }

    // An integer from 0 to `high`.
    int integer(const toml::table* table, const std::string& prefix, const char* key,
                int high = kLastFrame) const {
        const toml::node* node = get(table, key);
        const std::string name = prefix + "." + key;
        if (!node)
            fail(name, "is missing");
        if (!node->is_integer())
            fail(name, "must be an integer, not " + typeName(*node), node);
        const int64_t v = node->as_integer()->get();
        if (v < 0 || v > high)
            fail(name,
                 "must lie between 0 and " + std::to_string(high) + ", not " + std::to_string(v),
                 node);
        return static_cast<int>(v);
    }

    std::vector<std::string> strings(const toml::table* table, const std::string& prefix,
                                     const char* key) const {
        std::vector<std::string> out;
        const toml::node* node = get(table, key);
        const std::string name = prefix + "." + key;
        if (!node)
            return out;
        if (!node->is_array())
            fail(name, "must be an array of strings, not " + typeName(*node), node);
        for (const toml::node& item : *node->as_array()) {
            if (!item.is_string())
                fail(name, "must hold strings, not " + typeName(item), &item);
            out.push_back(item.as_string()->get());
        }
        return out;
    }

    std::string path_;
    const toml::table& root_;
};

std::string resolve(const fs::path& folder, const std::string& path) {
    const fs::path p(path);
    return (p.is_absolute() ? p : folder / p).lexically_normal().string();
}

// The camera at `time` from one camera description: `fov` in degrees, or
// `focal_length` with the film width, each kept as given.
FovKey cameraKey(const SceneReader& r, const toml::table* table, const std::string& prefix,
                 double filmWidth, double time) {
    const bool hasFov = table->get("fov") != nullptr;
    const bool hasFocal = table->get("focal_length") != nullptr;
    if (hasFov && hasFocal)
        r.fail(prefix, "gives both fov and focal_length; give one", table);
    if (hasFov)
        return degreesKey(time, r.number(table, prefix, "fov", true, 0, 0.0, 180.0));
    if (hasFocal) {
        if (!(filmWidth > 0.0))
            r.fail("camera.film_width", "is missing; focal_length needs it");
        return focalLengthKey(time, r.number(table, prefix, "focal_length", true, 0, 0.0, 1e9),
                              filmWidth);
    }
    r.fail(prefix + ".fov", "is missing (give fov or focal_length)", table);
}

// [[surfaces]]: each a name and a special value.
void readSurfaces(const SceneReader& r, const toml::table& root, SceneFile& scene) {
    const toml::node* surfaces = root.get("surfaces");
    if (surfaces == nullptr)
        return;
    if (!surfaces->is_array() || !(surfaces->as_array()->empty() || surfaces->is_array_of_tables()))
        r.fail("surfaces", "must be an array of tables ([[surfaces]]), not " + typeName(*surfaces),
               surfaces);
    size_t index = 0;
    for (const toml::node& item : *surfaces->as_array()) {
        const std::string prefix = "surfaces[" + std::to_string(index++) + "]";
        const toml::table* t = item.as_table();
        r.onlyKeys(*t, prefix, {"name", "id", "special"});
        SurfaceEntry surface;
        surface.name = r.string(t, prefix, "name", t->get("id") == nullptr);
        if (surface.name.find('\0') != std::string::npos)
            r.fail(prefix + ".name", "must not hold the character U+0000", t->get("name"));
        const std::string id = r.string(t, prefix, "id", false);
        if (!id.empty()) {
            if (id.size() != 8 ||
                id.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                r.fail(prefix + ".id", "must be 8 hex digits, such as \"00800000\"", t->get("id"));
            surface.id = static_cast<uint32_t>(std::stoul(id, nullptr, 16));
        }
        const toml::node* special = t->get("special");
        if (special == nullptr)
            r.fail(prefix + ".special", "is missing", t);
        if (!special->is_integer() || special->as_integer()->get() < 1 ||
            special->as_integer()->get() > 255)
            r.fail(prefix + ".special", "must be an integer from 1 to 255", special);
        surface.special = static_cast<int>(special->as_integer()->get());
        scene.surfaces.push_back(surface);
    }
}

// [colour]: how float colour passes become the module's 8-bit colour, chosen
// as init's options choose it.
void readColour(const SceneReader& r, SceneFile& scene) {
    const toml::table* colour = r.section("colour", false);
    if (colour == nullptr)
        return;
    r.onlyKeys(*colour, "colour", {"transform", "config", "display", "view", "look"});
    images::ColourRequest request;
    request.transform = r.string(colour, "colour", "transform", false);
    request.config = r.string(colour, "colour", "config", false);
    request.display = r.string(colour, "colour", "display", false);
    request.view = r.string(colour, "colour", "view", false);
    request.look = r.string(colour, "colour", "look", false);
    request.viewName = "key 'colour.view'";
    scene.colour =
        images::chooseColour(request, [&](images::ColourKey key, const std::string& why) {
            static const char* const keys[] = {"transform", "config", "display", "view", "look"};
            const char* name = keys[static_cast<int>(key)];
            r.fail(std::string("colour.") + name, why, colour->get(name));
        });
    if (!scene.colour.config.empty())
        scene.colour.config = resolve(scene.folder, scene.colour.config);
}

} // namespace

FovKey degreesKey(double time, double degrees) {
    FovKey key{time, degrees * (kPi / 180.0)};
    key.degrees = degrees;
    return key;
}

FovKey focalLengthKey(double time, double focalLength, double filmWidth) {
    FovKey key{time, 2.0 * std::atan(filmWidth / (2.0 * focalLength))};
    key.focalLength = focalLength;
    return key;
}

std::string idText(uint32_t id) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", id);
    return hex;
}

std::string surfaceLabel(const SurfaceEntry& surface) {
    return surface.name.empty() ? "id " + idText(surface.id.value_or(0)) : "'" + surface.name + "'";
}

SceneFile parseSceneFile(const std::string& path, bool settingsMayBeAbsent) {
    SceneFile scene;
    scene.path = path;
    const fs::path folder = fs::path(path).parent_path();
    scene.folder = folder.empty() ? "." : folder.string();

    // The parser reads the text made safe for it; origin maps its bytes back
    // to the text as the user wrote it.
    std::string written =
        files::readRegularFile(path, "scene '" + path + "'", files::kSceneFileLimit);
    std::vector<size_t> origin;
    const std::string text = parserSafeText(written, path, &origin);
    toml::table root;
    try {
        root = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        throw core::AppError("scene '" + path + "':" + std::to_string(e.source().begin.line) + ":" +
                             std::to_string(e.source().begin.column) +
                             ": syntax error: " + std::string(e.description()));
    }
    const SceneReader r(path, root);
    r.onlyKeys(root, "",
               {"module", "scene", "surfaces", "camera", "frames", "passes", "colour", "output",
                "filter"});

    if (const toml::table* module = r.section("module", false)) {
        r.onlyKeys(*module, "module", {"file", "server"});
        const std::string file = r.string(module, "module", "file", false);
        if (!file.empty())
            scene.module = resolve(scene.folder, file);
        scene.server = r.string(module, "module", "server", false, kDefaultServer);
    }

    if (const toml::table* objects = r.section("scene", false)) {
        r.onlyKeys(*objects, "scene", {"objects"});
        for (const std::string& object : r.strings(objects, "scene", "objects"))
            scene.objects.push_back(resolve(scene.folder, object));
    }

    readSurfaces(r, root, scene);

    const toml::table* camera = r.section("camera", false);
    if (camera != nullptr)
        r.onlyKeys(*camera, "camera", {"fov", "focal_length", "film_width", "keys"});
    const double filmWidth = r.number(camera, "camera", "film_width", false, 0.0, 0.0, 1e9);
    scene.filmWidth = filmWidth;
    if (camera == nullptr) {
        // No camera: the Fixed modes need none.
    } else if (const toml::node* keys = camera->get("keys")) {
        if (!keys->is_array() || keys->as_array()->empty())
            r.fail("camera.keys", "must be a non-empty array of tables", keys);
        size_t index = 0;
        for (const toml::node& key : *keys->as_array()) {
            const std::string prefix = "camera.keys[" + std::to_string(index++) + "]";
            if (!key.is_table())
                r.fail(prefix, "must be a table, not " + typeName(key), &key);
            const toml::table* t = key.as_table();
            r.onlyKeys(*t, prefix, {"time", "fov", "focal_length"});
            const toml::node* time = t->get("time");
            if (!time)
                r.fail(prefix + ".time", "is missing", t);
            const double seconds = r.number(time, prefix + ".time");
            if (!std::isfinite(seconds))
                r.fail(prefix + ".time", "must be finite", time);
            scene.camera.push_back(cameraKey(r, t, prefix, filmWidth, seconds));
        }
        if (camera->get("fov") || camera->get("focal_length"))
            r.fail("camera.keys", "cannot be given together with camera.fov or focal_length", keys);
        for (size_t i = 1; i < scene.camera.size(); ++i)
            if (!(scene.camera[i].time > scene.camera[i - 1].time))
                r.fail("camera.keys", "must be in increasing time order", keys);
    } else {
        scene.camera.push_back(cameraKey(r, camera, "camera", filmWidth, 0.0));
    }

    const toml::table* frames = r.section("frames", true);
    r.onlyKeys(*frames, "frames", {"first", "last", "rate"});
    scene.first = r.integer(frames, "frames", "first");
    scene.last = r.integer(frames, "frames", "last");
    if (scene.last < scene.first)
        r.fail("frames", "range " + rangeText({scene.first, scene.last}) + " holds no frames",
               frames);
    scene.rate = r.number(frames, "frames", "rate", false, 24.0, 0.0, 1e6);

    const toml::table* passes = r.section("passes", true);
    r.onlyKeys(*passes, "passes",
               {"colour", "special", "depth", "file", "colour_channels", "special_channel",
                "cryptomatte", "depth_channel", "far_depth"});
    const std::string shared = r.string(passes, "passes", "file", false);
    auto pattern = [&](const char* key) {
        const std::string own = r.string(passes, "passes", key, false);
        if (own.empty() && shared.empty())
            r.fail(std::string("passes.") + key, "is missing (give it, or passes.file)");
        return resolve(scene.folder, own.empty() ? shared : own);
    };
    scene.passes.colour = pattern("colour");
    scene.passes.special = pattern("special");
    const bool ownDepth = !r.string(passes, "passes", "depth", false).empty();
    scene.passes.depth = ownDepth || !shared.empty() ? pattern("depth") : "";
    scene.passes.colourChannels = r.strings(passes, "passes", "colour_channels");
    if (!scene.passes.colourChannels.empty() &&
        !takesColourChannels(scene.passes.colourChannels.size()))
        r.fail("passes.colour_channels",
               "must name 3 or 4 channels, not " +
                   std::to_string(scene.passes.colourChannels.size()),
               passes->get("colour_channels"));
    scene.passes.specialChannel = r.string(passes, "passes", "special_channel", false);
    scene.passes.depthChannel = r.string(passes, "passes", "depth_channel", false);
    scene.passes.cryptomatte = r.string(passes, "passes", "cryptomatte", false);
    if (!scene.passes.cryptomatte.empty() && !scene.passes.specialChannel.empty())
        r.fail("passes.cryptomatte",
               "and passes.special_channel both give the special pass; give one",
               passes->get("cryptomatte"));
    scene.passes.depthMayBeAbsent = !ownDepth && scene.passes.depthChannel.empty();
    scene.passes.farDepth =
        r.number(passes, "passes", "far_depth", false, std::numeric_limits<double>::infinity(), 0.0,
                 std::numeric_limits<double>::infinity());

    readColour(r, scene);

    const toml::table* output = r.section("output", true);
    r.onlyKeys(*output, "output", {"file", "compression"});
    scene.output = resolve(scene.folder, r.string(output, "output", "file", true));
    if (output->get("compression"))
        scene.compression = r.integer(output, "output", "compression", 9);

    const toml::table* filter = r.section("filter", true);
    r.onlyKeys(*filter, "filter", {"settings", "settings_file"});
    const toml::node* inlineSettings = filter->get("settings");
    const toml::node* settingsFile = filter->get("settings_file");
    if (inlineSettings && settingsFile)
        r.fail("filter", "gives both settings and settings_file; give one", filter);
    if (inlineSettings) {
        scene.settingsLines = core::splitLines(r.string(filter, "filter", "settings", true));
        scene.source.settingsBegin = origin[offsetOf(text, inlineSettings->source().begin)];
        scene.source.settingsEnd = origin[offsetOf(text, inlineSettings->source().end)];
        scene.source.text = std::move(written);
    } else if (settingsFile) {
        const std::string file =
            resolve(scene.folder, r.string(filter, "filter", "settings_file", true));
        scene.settingsFile = file;
        std::error_code ec;
        if (settingsMayBeAbsent && !fs::exists(fs::symlink_status(file, ec))) {
            scene.settingsFileAbsent = true;
            return scene;
        }
        const std::string why = files::whyUnreadable(file);
        if (!why.empty())
            r.fail("filter.settings_file", "names '" + file + "', which " + why, settingsFile);
        scene.settingsLines = core::splitLines(
            files::readRegularFile(file, "settings '" + file + "'", files::kSettingsFileLimit));
    } else {
        r.fail("filter.settings", "is missing (give settings or settings_file)");
    }
    return scene;
}

} // namespace orvit::scene
