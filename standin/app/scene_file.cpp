#include "standin/app/scene_file.h"

#include "standin/app/app_error.h"
#include "standin/core/line_io.h"

#include <toml++/toml.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace orvit::app {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The TOML parser of Debian 12 (toml++ 3.3) reaches an unreachable point
// when its whitespace test meets a code point of U+00A1 to U+0499, U+2C5E to
// U+3057 other than U+3000, or U+FB26 to U+FEFE, which it does at characters
// outside strings, in quoted keys and after a backslash in multi-line strings.
bool unsafeForParser(char32_t c) {
    return (c >= 0xA1 && c <= 0x499) || (c >= 0x2C5E && c <= 0x3057 && c != 0x3000) ||
           (c >= 0xFB26 && c <= 0xFEFE);
}

// The code point of the well-formed UTF-8 sequence at `at`, and its length;
// 0 and a length of 1 for a byte that starts no such sequence.
std::pair<char32_t, size_t> decodeUtf8(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    char32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return {0, 1};
    }
    if (at + length > text.size())
        return {0, 1};
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {0, 1};
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    return {c, length};
}

std::string unicodeEscape(char32_t c) {
    char escape[12];
    std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
    return escape;
}

// The run of `quote` characters starting at `at`.
size_t quoteRun(std::string_view text, size_t at, char quote) {
    size_t n = 0;
    while (at + n < text.size() && text[at + n] == quote)
        ++n;
    return n;
}

} // namespace

std::string parserSafeText(std::string_view text, const std::string& path,
                           std::vector<size_t>* origin) {
    std::string out;
    out.reserve(text.size());
    // Each step appends what one piece of `text` becomes; its bytes come from
    // where that piece starts.
    size_t pieceStart = 0;
    const auto mark = [&](size_t next) {
        if (origin != nullptr)
            origin->resize(out.size(), pieceStart);
        pieceStart = next;
    };
    enum class In { Text, Comment, Basic, MultiBasic };
    In in = In::Text;
    size_t line = 1, lineStart = 0;
    const auto fail = [&](size_t at, const std::string& what) {
        size_t column = 1;
        for (size_t k = lineStart; k < at; ++k)
            column += (static_cast<unsigned char>(text[k]) & 0xC0) != 0x80;
        throw AppError("scene '" + path + "':" + std::to_string(line) + ":" +
                       std::to_string(column) + ": syntax error: " + what);
    };
    for (size_t i = 0; i < text.size();) {
        mark(i);
        const char ch = text[i];
        if (ch == '\n') {
            out += ch;
            ++i;
            ++line;
            lineStart = i;
            if (in != In::MultiBasic)
                in = In::Text; // a comment or a one-line string ends with its line
            continue;
        }
        const auto [c, length] = decodeUtf8(text, i);
        if (unsafeForParser(c)) {
            if (in == In::Text)
                fail(i, "unexpected character '" + std::string(text.substr(i, length)) +
                            "' outside a string or comment");
            out += in == In::Comment ? std::string("?") : unicodeEscape(c);
            i += length;
            continue;
        }
        if (in == In::Comment) {
            out += ch;
            ++i;
        } else if (in == In::Basic || in == In::MultiBasic) {
            if (ch == '\\' && i + 1 < text.size() && text[i + 1] != '\n') {
                const auto [escaped, escapedLength] = decodeUtf8(text, i + 1);
                if (unsafeForParser(escaped))
                    fail(i,
                         "unknown escape '" + std::string(text.substr(i, 1 + escapedLength)) + "'");
                out += text.substr(i, 1 + escapedLength);
                i += 1 + escapedLength;
            } else if (ch == '"') {
                const size_t run = in == In::Basic ? 1 : quoteRun(text, i, '"');
                if (in == In::Basic || run >= 3)
                    in = In::Text;
                out += text.substr(i, run);
                i += run;
            } else {
                out += ch;
                ++i;
            }
        } else if (ch == '#') {
            in = In::Comment;
            out += ch;
            ++i;
        } else if (ch == '"') {
            const bool multi = quoteRun(text, i, '"') >= 3;
            in = multi ? In::MultiBasic : In::Basic;
            out += text.substr(i, multi ? 3 : 1);
            i += multi ? 3 : 1;
        } else if (ch == '\'') {
            // A literal string: kept as it is unless it holds a code point the
            // parser cannot take.
            const bool multi = quoteRun(text, i, '\'') >= 3;
            const size_t begin = i + (multi ? 3 : 1);
            size_t end = begin, closing = 0;
            for (; end < text.size(); ++end) {
                if (!multi && (text[end] == '\'' || text[end] == '\n')) {
                    closing = text[end] == '\'' ? 1 : 0;
                    break;
                }
                if (multi && text[end] == '\'' && quoteRun(text, end, '\'') >= 3) {
                    // Up to two quotes before the closing three belong to the string.
                    const size_t run = quoteRun(text, end, '\'');
                    end += run > 5 ? 0 : run - 3;
                    closing = 3;
                    break;
                }
            }
            const std::string_view body = text.substr(begin, end - begin);
            bool unsafe = false;
            for (size_t k = 0; k < body.size() && !unsafe;) {
                const auto [b, bLength] = decodeUtf8(body, k);
                unsafe = unsafeForParser(b);
                k += bLength;
            }
            if (!unsafe) {
                const size_t whole = end + closing - i;
                out += text.substr(i, whole);
                for (size_t k = i; k < i + whole; ++k)
                    if (text[k] == '\n') {
                        ++line;
                        lineStart = k + 1;
                    }
                i += whole;
                continue;
            }
            const std::string quotes = multi ? "\"\"\"" : "\"";
            out += quotes;
            for (size_t k = 0; k < body.size();) {
                const auto [b, bLength] = decodeUtf8(body, k);
                if (body[k] == '\\' || body[k] == '"')
                    out += '\\';
                if (body[k] == '\n') {
                    ++line;
                    lineStart = begin + k + 1;
                }
                out += unsafeForParser(b) ? unicodeEscape(b) : std::string(body.substr(k, bLength));
                k += bLength;
            }
            if (closing > 0)
                out += quotes;
            i = end + closing;
        } else {
            out += ch;
            ++i;
        }
    }
    mark(text.size());
    if (origin != nullptr)
        origin->push_back(text.size());
    return out;
}

namespace {

std::string typeName(const toml::node& node) {
    std::ostringstream s;
    s << node.type();
    return s.str();
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
        throw AppError(where + ": " + (key.empty() ? "" : "key '" + key + "' ") + what);
    }

    // The table `name` of the root; null when absent.
    const toml::table* section(const std::string& name, bool required) const {
        const toml::node* node = root_.get(name);
        if (!node) {
            if (required)
                fail(name, "is missing");
            return nullptr;
        }
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
        const toml::node* node = get(table, key);
        const std::string name = prefix + "." + key;
        if (!node) {
            if (required)
                fail(name, "is missing");
            return fallback;
        }
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
        const toml::node* node = get(table, key);
        const std::string name = prefix + "." + key;
        if (!node) {
            if (required)
                fail(name, "is missing");
            return fallback;
        }
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

    int integer(const toml::table* table, const std::string& prefix, const char* key) const {
        const toml::node* node = get(table, key);
        const std::string name = prefix + "." + key;
        if (!node)
            fail(name, "is missing");
        if (!node->is_integer())
            fail(name, "must be an integer, not " + typeName(*node), node);
        const int64_t v = node->as_integer()->get();
        if (v < 0 || v > 99999999)
            fail(name, "must lie between 0 and 99999999, not " + std::to_string(v), node);
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

// The horizontal field of view of one camera description: `fov` in degrees,
// or `focal_length` with the film width.
double fieldOfView(const SceneReader& r, const toml::table* table, const std::string& prefix,
                   double filmWidth) {
    const bool hasFov = table->get("fov") != nullptr;
    const bool hasFocal = table->get("focal_length") != nullptr;
    if (hasFov && hasFocal)
        r.fail(prefix, "gives both fov and focal_length; give one", table);
    if (hasFov)
        return r.number(table, prefix, "fov", true, 0, 0.0, 180.0) * (kPi / 180.0);
    if (hasFocal) {
        if (!(filmWidth > 0.0))
            r.fail("camera.film_width", "is missing; focal_length needs it");
        const double focal = r.number(table, prefix, "focal_length", true, 0, 0.0, 1e9);
        return 2.0 * std::atan(filmWidth / (2.0 * focal));
    }
    r.fail(prefix + ".fov", "is missing (give fov or focal_length)", table);
}

} // namespace

SceneFile parseSceneFile(const std::string& path) {
    SceneFile scene;
    scene.path = path;
    const fs::path folder = fs::path(path).parent_path();
    scene.folder = folder.empty() ? "." : folder.string();

    std::error_code ec;
    if (fs::exists(path, ec) && !fs::is_regular_file(path, ec))
        throw AppError("scene '" + path + "': cannot open: not a regular file");
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        throw AppError("scene '" + path + "': cannot open: " +
                       (fs::exists(path, ec) ? "permission denied" : "no such file"));
    std::ostringstream content;
    content << stream.rdbuf();
    const std::string text = parserSafeText(content.str(), path);
    toml::table root;
    try {
        root = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        throw AppError("scene '" + path + "':" + std::to_string(e.source().begin.line) + ":" +
                       std::to_string(e.source().begin.column) +
                       ": syntax error: " + std::string(e.description()));
    }
    const SceneReader r(path, root);
    r.onlyKeys(root, "", {"module", "scene", "camera", "frames", "passes", "output", "filter"});

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

    const toml::table* camera = r.section("camera", true);
    r.onlyKeys(*camera, "camera", {"fov", "focal_length", "film_width", "keys"});
    const double filmWidth = r.number(camera, "camera", "film_width", false, 0.0, 0.0, 1e9);
    if (const toml::node* keys = camera->get("keys")) {
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
            scene.camera.push_back({seconds, fieldOfView(r, t, prefix, filmWidth)});
        }
        if (camera->get("fov") || camera->get("focal_length"))
            r.fail("camera.keys", "cannot be given together with camera.fov or focal_length", keys);
        for (size_t i = 1; i < scene.camera.size(); ++i)
            if (!(scene.camera[i].time > scene.camera[i - 1].time))
                r.fail("camera.keys", "must be in increasing time order", keys);
    } else {
        scene.camera.push_back({0.0, fieldOfView(r, camera, "camera", filmWidth)});
    }

    const toml::table* frames = r.section("frames", true);
    r.onlyKeys(*frames, "frames", {"first", "last", "rate"});
    scene.first = r.integer(frames, "frames", "first");
    scene.last = r.integer(frames, "frames", "last");
    if (scene.last < scene.first)
        r.fail("frames",
               "range " + std::to_string(scene.first) + "-" + std::to_string(scene.last) +
                   " holds no frames",
               frames);
    scene.rate = r.number(frames, "frames", "rate", false, 24.0, 0.0, 1e6);

    const toml::table* passes = r.section("passes", true);
    r.onlyKeys(*passes, "passes",
               {"colour", "special", "depth", "file", "colour_channels", "special_channel",
                "depth_channel", "far_depth"});
    const std::string shared = r.string(passes, "passes", "file", false);
    auto pattern = [&](const char* key) {
        const std::string own = r.string(passes, "passes", key, false);
        if (own.empty() && shared.empty())
            r.fail(std::string("passes.") + key, "is missing (give it, or passes.file)");
        return resolve(scene.folder, own.empty() ? shared : own);
    };
    scene.passes.colour = pattern("colour");
    scene.passes.special = pattern("special");
    scene.passes.depth = pattern("depth");
    scene.passes.colourChannels = r.strings(passes, "passes", "colour_channels");
    if (!scene.passes.colourChannels.empty() && scene.passes.colourChannels.size() != 3 &&
        scene.passes.colourChannels.size() != 4)
        r.fail("passes.colour_channels",
               "must name 3 or 4 channels, not " +
                   std::to_string(scene.passes.colourChannels.size()),
               passes->get("colour_channels"));
    scene.passes.specialChannel = r.string(passes, "passes", "special_channel", false);
    scene.passes.depthChannel = r.string(passes, "passes", "depth_channel", false);
    scene.passes.farDepth =
        r.number(passes, "passes", "far_depth", false, std::numeric_limits<double>::infinity(), 0.0,
                 std::numeric_limits<double>::infinity());

    const toml::table* output = r.section("output", true);
    r.onlyKeys(*output, "output", {"file"});
    scene.output = resolve(scene.folder, r.string(output, "output", "file", true));

    const toml::table* filter = r.section("filter", true);
    r.onlyKeys(*filter, "filter", {"settings", "settings_file"});
    const toml::node* inlineSettings = filter->get("settings");
    const toml::node* settingsFile = filter->get("settings_file");
    if (inlineSettings && settingsFile)
        r.fail("filter", "gives both settings and settings_file; give one", filter);
    if (inlineSettings) {
        scene.settingsLines = standin::splitLines(r.string(filter, "filter", "settings", true));
    } else if (settingsFile) {
        const std::string file =
            resolve(scene.folder, r.string(filter, "filter", "settings_file", true));
        // Only a regular file: a device or a pipe could block or never end.
        if (!fs::is_regular_file(file, ec))
            r.fail("filter.settings_file",
                   "names '" + file + "', which " +
                       (fs::exists(file, ec) ? "is not a regular file" : "does not exist"),
                   settingsFile);
        std::ifstream in(file, std::ios::binary);
        if (!in)
            r.fail("filter.settings_file", "names '" + file + "', which cannot be opened",
                   settingsFile);
        std::ostringstream settingsText;
        settingsText << in.rdbuf();
        scene.settingsLines = standin::splitLines(settingsText.str());
        scene.settingsFile = file;
    } else {
        r.fail("filter.settings", "is missing (give settings or settings_file)");
    }
    return scene;
}

bool hasFrameNumber(const std::string& pattern) {
    return pattern.find('#') != std::string::npos;
}

std::string framePath(const std::string& pattern, int frame) {
    const auto begin = pattern.find('#');
    if (begin == std::string::npos)
        return pattern;
    auto end = pattern.find_first_not_of('#', begin);
    if (end == std::string::npos)
        end = pattern.size();
    std::string number = std::to_string(frame);
    if (number.size() < end - begin)
        number.insert(0, end - begin - number.size(), '0');
    return pattern.substr(0, begin) + number + pattern.substr(end);
}

FrameRange parseFrameRange(const std::string& text) {
    auto fail = [&](const std::string& why) -> FrameRange {
        throw AppError("--frames '" + text + "': " + why);
    };
    auto parseNumber = [&](const std::string& part) {
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos ||
            part.size() > 8)
            fail("expected A-B or A with frame numbers 0 to 99999999");
        return std::atoi(part.c_str());
    };
    const auto dash = text.find('-');
    FrameRange range{};
    if (dash == std::string::npos) {
        range.first = range.last = parseNumber(text);
    } else {
        range.first = parseNumber(text.substr(0, dash));
        range.last = parseNumber(text.substr(dash + 1));
    }
    if (range.last < range.first)
        return fail("the range holds no frames");
    return range;
}

int parseFrameNumber(const std::string& text, const std::string& option) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 8)
        throw AppError(option + " '" + text + "': expected a frame number 0 to 99999999");
    return std::atoi(text.c_str());
}

} // namespace orvit::app
