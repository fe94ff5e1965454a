// The scene writer through the scene reader: what is written reads back as
// the same scene, and inline settings go back into a hand-written scene
// with every other byte kept.
#include "orvit/scene/scene_file.h"
#include "orvit/scene/scene_writer.h"
#include "tests/support/failure.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

using namespace orvit::images;
using namespace orvit::scene;

namespace {

// Every field of a scene but its source text, doubles to the bit, so that two
// scenes compare equal exactly when they read the same and a difference
// shows where it is.
std::string fields(const SceneFile& s) {
    std::ostringstream o;
    o << std::hexfloat;
    const auto list = [&](const char* name, const std::vector<std::string>& items) {
        o << name << ":";
        for (const std::string& item : items)
            o << " [" << item << "]";
        o << "\n";
    };
    o << "path " << s.path << "\nfolder " << s.folder << "\nmodule " << s.module << "\nserver "
      << s.server << "\n";
    list("objects", s.objects);
    for (const SurfaceEntry& surface : s.surfaces)
        o << "surface [" << surface.name << "] " << surface.special << " id "
          << (surface.id ? idText(*surface.id) : "none") << "\n";
    for (const FovKey& key : s.camera)
        o << "camera " << key.time << " " << key.fov << " " << key.degrees << " " << key.focalLength
          << "\n";
    o << "film " << s.filmWidth << "\nframes " << s.first << " " << s.last << " " << s.rate
      << "\npasses [" << s.passes.colour << "] [" << s.passes.special << "] [" << s.passes.depth
      << "] may be absent " << s.passes.depthMayBeAbsent << "\n";
    list("colour channels", s.passes.colourChannels);
    o << "special [" << s.passes.specialChannel << "] cryptomatte [" << s.passes.cryptomatte
      << "] depth [" << s.passes.depthChannel << "] far " << s.passes.farDepth << "\ncolour "
      << static_cast<int>(s.colour.transform) << " [" << s.colour.config << "] ["
      << s.colour.display << "] [" << s.colour.view << "] [" << s.colour.look << "]\noutput ["
      << s.output << "] " << s.compression << "\nsettings file [" << s.settingsFile << "] "
      << s.settingsFileAbsent << "\n";
    list("settings", s.settingsLines);
    return o.str();
}

// Names and paths that need escapes or that the TOML parser cannot take
// unescaped: quotes, a backslash, a tab, a line break, controls, letters
// such as 'Ж' and 'ⱞ', and a '#'.
const std::string kOdd = "a \"q\" \\b\tЖ#ⱞ\x01\x7f\nz";

TEST(SceneWriter, WhatIsWrittenReadsBackAsTheSameScene) {
    testsupport::TempFolder dir;
    const std::string folder = dir.path().string();
    dir.write("s-glow.txt", "v 04\n0 0\n");
    const auto scene = [&] {
        SceneFile s;
        s.path = dir / "s.toml";
        s.folder = folder;
        s.first = 3;
        s.last = 7;
        s.output = dir / "glow/shot_####.png";
        return s;
    };
    std::vector<std::pair<const char*, SceneFile>> cases;

    SceneFile every = scene();
    every.module = dir / ("lib/" + kOdd + ".p");
    every.server = "Tesk \"" + kOdd + "\"";
    every.objects = {dir / "objects/ball.lwo", "/abs/" + kOdd + ".lwo",
                     (dir.path().parent_path() / "shared/crate.lwo").string()};
    every.surfaces = {{kOdd, 3}, {"", 255, 0x00800000u}, {"Cube", 1, 0xa8fce865u}};
    every.filmWidth = 36.0;
    every.camera = {degreesKey(0.0, 90.0), degreesKey(1.0 / 3, 24000.0 / 1001),
                    focalLengthKey(0.5, 18.0, 36.0)};
    every.rate = 24000.0 / 1001;
    every.passes.colour = dir / "passes/beauty.####.exr";
    every.passes.special = dir / ("passes/id " + kOdd + ".####.png");
    every.passes.depth = dir / "passes/depth.####.exr";
    every.passes.colourChannels = {"R", "G", "B", "A"};
    every.passes.specialChannel = "object\"id\\" + kOdd;
    every.passes.depthChannel = "Z";
    every.passes.farDepth = 1e10;
    every.colour.transform = ColourSettings::Transform::Ocio;
    every.colour.config = dir / "colour/config.ocio";
    every.colour.display = "sRGB";
    every.colour.view = "Filmic";
    every.colour.look = "Medium \"Contrast\"";
    every.output = dir / ("out/" + kOdd + ".####.png");
    every.compression = 9;
    every.settingsLines = {"v 04", "a ''' b", "tab\there", "quote \" and \\ back", "Ж ⱞ"};
    cases.emplace_back("every key, awkward text, settings inline", every);

    SceneFile cryptomatte = scene();
    cryptomatte.surfaces = {{"Lamp", 1, 0x3f800000u}, {"Crate", 2}};
    cryptomatte.camera = {degreesKey(0.0, 60.0)};
    cryptomatte.passes.colour = cryptomatte.passes.special = cryptomatte.passes.depth =
        dir / "render/shot_####.exr";
    cryptomatte.passes.cryptomatte = "ViewLayer.CryptoObject";
    cryptomatte.passes.depthChannel = "ViewLayer.Depth.Z";
    cryptomatte.passes.farDepth = 1e9;
    cryptomatte.colour.transform = ColourSettings::Transform::Linear;
    cryptomatte.settingsFile = dir / "s-glow.txt";
    cryptomatte.settingsLines = {"v 04", "0 0"};
    cases.emplace_back("one file, a Cryptomatte, a settings file", cryptomatte);

    SceneFile noDepth = scene();
    noDepth.surfaces = {{"Object 1", 1}};
    noDepth.filmWidth = 24.0;
    noDepth.camera = {focalLengthKey(0.0, 35.0, 24.0)};
    noDepth.passes.colour = noDepth.passes.special = noDepth.passes.depth =
        dir / "render/shot_####.exr";
    noDepth.passes.depthMayBeAbsent = true;
    noDepth.passes.specialChannel = "IndexOB";
    noDepth.passes.farDepth = std::numeric_limits<double>::infinity();
    noDepth.settingsLines = {"v 04"};
    cases.emplace_back("one file whose depth may be absent, a focal length", noDepth);

    SceneFile split = noDepth;
    split.camera.clear();
    split.filmWidth = 0.0;
    split.passes.colour = dir / "beauty_####.exr";
    split.passes.special = dir / "id_####.exr";
    split.passes.depth.clear();
    split.passes.colourChannels = {"r", "g", "b"};
    cases.emplace_back("a file for each pass, no depth, no camera", split);

    SceneFile sameFiles = split;
    sameFiles.passes.special = sameFiles.passes.depth = sameFiles.passes.colour;
    sameFiles.passes.depthMayBeAbsent = false;
    cases.emplace_back("each pass named, all in one file", sameFiles);

    for (const auto& [name, written] : cases) {
        SCOPED_TRACE(name);
        const std::string text = sceneText(written, {"Made from " + kOdd, "second line"});
        dir.write("s.toml", text);
        SceneFile read;
        const std::string error =
            testsupport::failure([&] { read = parseSceneFile(dir / "s.toml"); });
        EXPECT_EQ(error, "(no failure)") << text;
        if (error == "(no failure)") {
            EXPECT_EQ(fields(read), fields(written)) << text;
        }
    }
}

TEST(SceneWriter, TextNoTomlFileCanHoldIsRefusedNamingItsKey) {
    testsupport::TempFolder dir;
    SceneFile s;
    s.path = dir / "s.toml";
    s.folder = dir.path().string();
    s.output = dir / "o.png";
    s.passes.colour = s.passes.special = dir / "p.exr";
    s.settingsLines = {"v 04"};
    SceneFile badPath = s, badName = s, badSettings = s;
    badPath.passes.colour = dir / "c\xff.exr";
    badName.surfaces = {{"a", 1}, {"b\xc3(", 2}};
    badSettings.settingsLines = {"v 04", "\xed\xa0\x80"};
    const std::pair<SceneFile, std::string> cases[] = {
        {badPath, "key 'passes.colour' 'c\\xff.exr' is not UTF-8 text"},
        {badName, "key 'surfaces[1].name' 'b\\xc3(' is not UTF-8 text"},
        {badSettings, "settings line \"\\xed\\xa0\\x80\" is not UTF-8 text"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(testsupport::failure([&] { sceneText(c.first); }),
                  "scene '" + s.path + "': " + c.second + ", which a scene file cannot hold");
}

// A scene as a user keeps it: comments, keys in an order of their own,
// strings quoted every way TOML allows.
TEST(SceneWriter, InlineSettingsGoBackAndEveryOtherByteStays) {
    testsupport::TempFolder dir;
    const std::vector<std::string> lines = {"v 04", "1 1", "3 1 2 0.080000 35.000000", "0 0",
                                            "1 255 128 0 0"};
    const std::string rest = "[frames] # é\nfirst = 1\nlast = 2\n[passes]\nfile = 'p.####.exr'\n"
                             "[output]\nfile = \"o.png\"";
    const std::string head = "# scène\n[camera]\nfov = 60 # wide\n[filter]\nsettings = ";
    struct Case {
        const char* name;
        std::string before; // the text up to the settings' value
        std::string value;  // the value as written
        std::string after;  // the rest
        std::vector<std::string> lines;
    } cases[] = {
        {"literal", head, "'''\nv 04\n0 0\n'''", "   # the module's lines: é\n" + rest, lines},
        {"basic", head, "\"v 04\\n0 0\\n\"", "\n" + rest, lines},
        {"last in the file", rest + "\n[filter]\nsettings = ", "'''v 04\n0 0'''", "", lines},
        {"inline table", "filter = { settings = ", "\"v 04\\n0 0\"", " }\n" + rest + "\n", lines},
        {"lines a literal string cannot hold",
         head,
         "'''v 04'''",
         "\n" + rest,
         {"v 04", "a ''' b", "tab\there", "quote \" and \\ back"}},
        // Letters the TOML parser cannot take unescaped stay as written.
        {"letters the parser cannot take", "# ключ ж\n" + head, "'''v 04'''",
         "\n[module]\nserver = \"\"\"\\\n  Жⱞ\"\"\"\n" + rest + "\n# °\n", lines},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("s.toml", c.before + c.value + c.after);
        SceneFile expected = parseSceneFile(dir / "s.toml");
        const std::string out = sceneTextWithSettings(expected, c.lines);
        EXPECT_EQ(out.substr(0, c.before.size()), c.before);
        EXPECT_EQ(out.substr(out.size() - c.after.size()), c.after);
        dir.write("s.toml", out);
        expected.settingsLines = c.lines;
        EXPECT_EQ(fields(parseSceneFile(dir / "s.toml")), fields(expected)) << out;
    }
}

// The panel may be open for long: what was written to the scene meanwhile
// stays, and a scene whose settings went to a file of their own meanwhile
// takes none inline.
TEST(SceneWriter, InlineSettingsGoIntoTheSceneAsItIsWhenWritten) {
    testsupport::TempFolder dir;
    const std::string text = "[frames]\nfirst = 1\nlast = 2\n[passes]\nfile = 'p.####.exr'\n"
                             "[output]\nfile = 'o.png'\n[filter]\n";
    dir.write("s.toml", text + "settings = 'v 04'\n");
    const SceneFile read = parseSceneFile(dir / "s.toml");
    dir.write("s.toml", "# changed\n" + text + "settings = 'v 04' # mine\n");
    EXPECT_EQ(sceneTextWithSettings(read, {"v 04", "1 0"}),
              "# changed\n" + text + "settings = '''\nv 04\n1 0\n''' # mine\n");

    dir.write("g.txt", "v 04\n");
    dir.write("s.toml", text + "settings_file = 'g.txt'\n");
    EXPECT_EQ(testsupport::failure([&] { sceneTextWithSettings(read, {"v 04"}); }),
              "scene '" + dir / "s.toml" + "': key 'filter.settings' is no longer there");
}

} // namespace
