// The orvit program on bad input: one line naming the file, key or value,
// a non-zero exit, and no image left behind.
#include "orvit/passes/passes.h"
#include "tests/support/image_files.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"
#include "tests/support/untaken_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;
using orvit::passes::ColourPlanes;
using orvit::passes::readColourPass;
using testsupport::Channel;

namespace {

// A scene of two 8 x 6 frames in `dir`, with passes/ and an output folder.
struct SmallScene {
    explicit SmallScene(const testsupport::TempFolder& d) : dir(d) {
        fs::create_directories(dir.path() / "passes");
        for (int frame : {1, 2}) {
            const std::string n = "000" + std::to_string(frame);
            writeFrame(dir / ("passes/colour." + n + ".png"),
                       dir / ("passes/special." + n + ".png"), dir / ("passes/depth." + n + ".exr"),
                       8, 6);
        }
    }
    static void writeFrame(const std::string& colour, const std::string& special,
                           const std::string& depth, int w, int h) {
        const size_t n = static_cast<size_t>(w) * h;
        std::vector<double> grey(n, 40), id(n, 0), z(n, 5.0);
        for (int y = 1; y < h - 1; ++y)
            for (int x = 1; x < w - 1; ++x)
                id[static_cast<size_t>(y) * w + x] = 1;
        testsupport::writeChannels(colour, w, h,
                                   {{"R", OIIO::TypeDesc::UINT8, grey},
                                    {"G", OIIO::TypeDesc::UINT8, grey},
                                    {"B", OIIO::TypeDesc::UINT8, grey}});
        testsupport::writeChannels(special, w, h, {{"Y", OIIO::TypeDesc::UINT8, id}});
        testsupport::writeChannels(depth, w, h, {{"Z", OIIO::TypeDesc::FLOAT, z}});
    }
    // The scene text with `replace` put in place of `what`.
    std::string text(const std::string& what = "", const std::string& replace = "") const {
        std::string t = "[camera]\nfov = 60\n"
                        "[frames]\nfirst = 1\nlast = 2\nrate = 24\n"
                        "[passes]\ncolour = 'passes/colour.####.png'\n"
                        "special = 'passes/special.####.png'\n"
                        "depth = 'passes/depth.####.exr'\n"
                        "[output]\nfile = 'out/glow.####.png'\n"
                        "[filter]\nsettings = '''v 04\n1 1\n1 1 0 0.250000 0.000000\n0 0\n"
                        "1 255 0 0 0\n0 255 255 255 20\n0 255 255 255 40\n0 255 255 255 60\n"
                        "0 255 255 255 80\n'''\n";
        if (!what.empty()) {
            const auto at = t.find(what);
            EXPECT_NE(at, std::string::npos) << what;
            t.replace(at, what.size(), replace);
        }
        return t;
    }
    // The scene text with its settings taken from the file `path` instead.
    std::string withSettingsFile(const std::string& path) const {
        const std::string t = text();
        return t.substr(0, t.find("settings = ")) + "settings_file = '" + path + "'\n";
    }
    std::string write(const std::string& name, const std::string& contents) const {
        dir.write(name, contents);
        return dir / name;
    }
    // Files the command left: everything but the passes, scenes and blocker.
    std::vector<std::string> outputs() const {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            if (e.is_regular_file() && e.path().parent_path().filename() != "passes" &&
                e.path().extension() != ".toml" && e.path().filename() != "blocker")
                found.push_back(e.path().string());
        std::sort(found.begin(), found.end());
        return found;
    }
    const testsupport::TempFolder& dir;
};

TEST(OrvitRender, RendersASmallSceneWithSummaryLines) {
    testsupport::TempFolder dir;
    SmallScene scene(dir);
    const auto r = testsupport::runOrvit({"render", scene.write("s.toml", scene.text())}, dir / "");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(r.out, HasSubstr("frame 1  t 0.0417 s  8x6"));
    EXPECT_THAT(r.out, HasSubstr("frame 2  t 0.0833 s  8x6"));
    EXPECT_THAT(r.out, HasSubstr("write "));
    EXPECT_THAT(r.out, HasSubstr(" ms  -> " + dir / "out/glow.0002.png\n"));
    EXPECT_THAT(r.out, Not(HasSubstr("envelopes"))); // the scene has none
    EXPECT_TRUE(fs::exists(dir / "out/glow.0001.png"));
    EXPECT_TRUE(fs::exists(dir / "out/glow.0002.png"));
}

// Each frame's summary shows the values the host's envelope service gave the
// filter for that frame: the envelope, where its lines began in the
// settings, the time asked for and the value.
TEST(OrvitRender, SummaryLinesShowTheEnvelopeValuesOfEachFrame) {
    testsupport::TempFolder dir;
    SmallScene scene(dir);
    // A transparency envelope from 0 at 0 s to 100 at 1 s.
    const std::string text = scene.text("0 0\n1 255 0 0 0", "0 1\nkeys 2\n0 0\n1 100\n1 255 0 0 0");
    const auto r = testsupport::runOrvit({"render", scene.write("s.toml", text)}, dir / "");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(r.out,
                HasSubstr("-> " + dir / "out/glow.0001.png\n"
                                        "  envelopes: envelope 1 (settings line 5) at 0.0417 s = "
                                        "4.16667\n"));
    EXPECT_THAT(r.out,
                HasSubstr("-> " + dir / "out/glow.0002.png\n"
                                        "  envelopes: envelope 1 (settings line 5) at 0.0833 s = "
                                        "8.33333\n"));
}

// Settings the module's load did not take exactly (it stopped before their
// last line, or asked for a line past the end) fail render and settings with
// one line naming the file, the line and what was there; nothing is written.
TEST(OrvitRender, SettingsTheModuleDidNotTakeFailWithTheLine) {
    testsupport::TempFolder dir;
    SmallScene scene(dir);
    for (const testsupport::UntakenSettings& c : testsupport::untakenSettings()) {
        SCOPED_TRACE(c.file);
        const std::string sceneFile = scene.write("s.toml", scene.withSettingsFile(c.path()));
        for (const char* command : {"render", "settings"}) {
            SCOPED_TRACE(command);
            const auto r = testsupport::runOrvit({command, sceneFile}, dir / "");
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.errLines(), std::vector<std::string>{c.errorLine()});
            EXPECT_EQ(r.out, "");
            EXPECT_FALSE(fs::exists(dir / "out")) << "nothing is made on disk";
        }
    }

    // Settings given inline are named by the scene and its key.
    const auto r = testsupport::runOrvit(
        {"render", scene.write("inline.toml", scene.text("'''v 04", "'''v 05"))}, dir / "");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.errLines(), std::vector<std::string>{
                                "orvit: scene '" + dir / "inline.toml" +
                                "': key 'filter.settings': the module stopped reading at line 2 "
                                "of 9 (\"1 1\"): lines 3 to 9 were not read"});
    EXPECT_EQ(scene.outputs(), std::vector<std::string>{});
}

// Blank lines after the settings are no settings the module left.
TEST(OrvitRender, BlankLinesAfterTheSettingsAreNotCounted) {
    testsupport::TempFolder dir;
    SmallScene scene(dir);
    const std::string path = testsupport::settingsDataFile("trailing-blank-lines.txt");
    const auto r = testsupport::runOrvit(
        {"render", scene.write("s.toml", scene.withSettingsFile(path)), "--frames", "1"}, dir / "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out/glow.0001.png"));
}

TEST(OrvitRender, BadInputGivesOneLineAndNoImage) {
    testsupport::TempFolder dir;
    SmallScene scene(dir);
    const std::string passes = dir / "passes/";
    // Defects made for single cases.
    scene.write("passes/broken.0001.png", "not an image at all");
    SmallScene::writeFrame(passes + "colour.0009.png", passes + "special.0009.png",
                           passes + "depth.0009.exr", 8, 6);
    SmallScene::writeFrame(passes + "small-c.0001.png", passes + "small-s.0001.png",
                           passes + "small-d.0001.exr", 4, 3);
    scene.write("blocker", "a file where a folder should be");
    fs::create_directory_symlink("passes", dir.path() / "linked");
    fs::create_hard_link(passes + "colour.0001.png", passes + "hard-link.0001.png");
    // Files an image must not replace: a pipe, a link to one, a folder, and
    // (when the tests may make one) a device.
    fs::create_directory(dir.path() / "special");
    ASSERT_EQ(mkfifo((dir / "special/fifo.0001.png").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((passes + "pipe.0001.png").c_str(), 0644), 0);
    fs::create_symlink("fifo.0001.png", dir / "special/link.0001.png");
    fs::create_directory(dir.path() / "special/folder.0001.png");
    const bool device =
        mknod((dir / "special/full.0001.png").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;

    struct Case {
        const char* name;
        std::string sceneText;
        std::vector<std::string> extra;
        std::string expected; // the error line, after "orvit: "
    } cases[] = {
        {"missing-pass",
         scene.text(),
         {"--frames", "1-3"},
         "colour pass '" + passes + "colour.0003.png': no such file"},
        {"unreadable-pass",
         scene.text("colour.####", "broken.####"),
         {},
         "colour pass '" + passes + "broken.0001.png': cannot read: "},
        {"sizes-differ",
         scene.text("special.####", "small-s.####"),
         {},
         "special pass '" + passes + "small-s.0001.png' is 4x3 but colour pass '" + passes +
             "colour.0001.png' is 8x6"},
        {"depth-size",
         scene.text("depth.####", "small-d.####"),
         {},
         "depth pass '" + passes + "small-d.0001.exr' is 4x3 but colour pass '" + passes +
             "colour.0001.png' is 8x6"},
        {"no-channel",
         scene.text("depth = ", "special_channel = 'objectid'\ndepth = "),
         {},
         "special pass '" + passes + "special.0001.png': no channel 'objectid' (the file has Y)"},
        {"syntax",
         scene.text("rate = 24", "rate = = 24"),
         {},
         "scene '" + dir / "syntax.toml" + "':6:8: syntax error: "},
        {"missing-key",
         scene.text("last = 2\n", ""),
         {},
         "scene '" + dir / "missing-key.toml" + "': key 'frames.last' is missing"},
        {"wrong-type",
         scene.text("fov = 60", "fov = 'wide'"),
         {},
         "scene '" + dir / "wrong-type.toml" +
             "':2: key 'camera.fov' must be a number, not string"},
        {"no-frames",
         scene.text(),
         {"--frames", "2-1"},
         "--frames '2-1': the range holds no frames"},
        {"scene-no-frames",
         scene.text("last = 2", "last = 0"),
         {},
         "scene '" + dir / "scene-no-frames.toml" + "':3: key 'frames' range 1-0 holds no frames"},
        {"unwritable-output",
         scene.text(),
         {"--output", dir / "blocker/out/f.####.png"},
         "output folder '" + dir / "blocker/out" + "' cannot be made: "},
        {"output-no-number",
         scene.text(),
         {"--output", dir / "out/one.png"},
         "output '" + dir / "out/one.png" +
             "' has no #### for the frame number, and frames 1-2 are 2 images"},
        {"output-type",
         scene.text(),
         {"--output", dir / "out/f.####.jpg"},
         "output '" + dir / "out/f.####.jpg" +
             "': unknown image type; use .png, .tif, .tiff or "
             ".exr"},
        // An output on a file the scene reads, however it is named.
        {"output-over-pass",
         scene.text(),
         {"--output", dir / "passes/colour.####.png"},
         "output '" + passes + "colour.0001.png' would overwrite the scene's colour pass '" +
             passes + "colour.0001.png'; choose another output"},
        // Frame 2's output named as frame 1's pass.
        {"output-over-other-frame",
         scene.text(),
         {"--frames", "2", "--output", passes + "colour.0001.png"},
         "output '" + passes + "colour.0001.png' would overwrite the scene's colour pass '" +
             passes + "colour.0001.png'; choose another output"},
        {"output-over-pass-dots",
         scene.text(),
         {"--output", dir / "passes/../passes/./special.####.png"},
         "output '" + dir / "passes/../passes/./special.0001.png" +
             "' would overwrite the scene's special pass '" + passes + "special.0001.png'"},
        {"output-over-pass-symlink",
         scene.text(),
         {"--output", dir / "linked/colour.####.png", "--frames", "2"},
         "output '" + dir / "linked/colour.0002.png" +
             "' would overwrite the scene's colour pass '" + passes + "colour.0002.png'"},
        {"jobs-zero",
         scene.text(),
         {"--jobs", "0"},
         "--jobs '0': give the number of workers, 1 or more"},
        {"jobs-empty",
         scene.text(),
         {"--jobs", ""},
         "--jobs '': give the number of workers, 1 or more"},
        {"jobs-negative",
         scene.text(),
         {"--jobs", "-1"},
         "--jobs '-1': give the number of workers"},
        {"jobs-text", scene.text(), {"--jobs", "2x"}, "--jobs '2x': give the number of workers"},
        // An input that would block a reader forever.
        {"pipe-pass",
         scene.text("colour.####", "pipe.####"),
         {"--frames", "1"},
         "colour pass '" + passes +
             "pipe.0001.png': cannot read: it is a named pipe, not a "
             "regular file"},
        // Through folders that do not exist yet: made, they lead back to the input.
        {"output-over-pass-new-folder",
         scene.text(),
         {"--output", dir / "new/../passes/colour.####.png"},
         "output '" + dir / "new/../passes/colour.0001.png" +
             "' would overwrite the scene's colour pass '" + passes + "colour.0001.png'"},
        {"output-over-pass-new-folders",
         scene.text(),
         {"--output", dir / "glow/a/../../linked/special.####.png"},
         "output '" + dir / "glow/a/../../linked/special.0001.png" +
             "' would overwrite the scene's special pass '" + passes + "special.0001.png'"},
        {"output-over-pass-hard-link",
         scene.text(),
         {"--output", passes + "hard-link.####.png"},
         "output '" + passes + "hard-link.0001.png" +
             "' would overwrite the scene's colour pass '" + passes + "colour.0001.png'"},
        {"output-pipe",
         scene.text(),
         {"--output", dir / "special/fifo.####.png"},
         "output '" + dir / "special/fifo.0001.png" +
             "': it is a named pipe, not a regular file; choose another output"},
        {"output-link-to-pipe",
         scene.text(),
         {"--output", dir / "special/link.####.png"},
         "output '" + dir / "special/link.0001.png" + "': it is a named pipe, not a regular file"},
        {"output-folder",
         scene.text(),
         {"--output", dir / "special/folder.####.png"},
         "output '" + dir / "special/folder.0001.png" + "': a folder of that name exists"},
        {"output-device",
         scene.text(),
         {"--output", dir / (device ? "special/full.####.png" : "special/fifo.####.png")},
         "output '" + dir / (device ? "special/full.0001.png" : "special/fifo.0001.png") +
             "': it is a " + (device ? "device" : "named pipe") + ", not a regular file"},
        {"missing-module",
         scene.text(),
         {"--module", dir / "none.p"},
         dir / "none.p" + ": cannot open module file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"render",
                                         scene.write(std::string(c.name) + ".toml", c.sceneText)};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const auto r = testsupport::runOrvit(args, dir / "");
        EXPECT_EQ(r.exitCode, 1);
        const auto lines = r.errLines();
        ASSERT_EQ(lines.size(), 1u) << r.err;
        const std::string expected = "orvit: " + c.expected;
        EXPECT_EQ(lines[0].substr(0, expected.size()), expected);
        // Only a failure on the last frame leaves earlier, finished frames;
        // otherwise not even the output folder the run made is left.
        if (std::string(c.name) != "missing-pass") {
            EXPECT_EQ(scene.outputs(), std::vector<std::string>{}) << c.name;
            EXPECT_FALSE(fs::exists(dir / "out")) << c.name;
        }
        std::error_code ec;
        fs::remove_all(dir.path() / "out", ec);
    }
    // What was refused is still there as it was, and no folder was made for it.
    EXPECT_TRUE(fs::is_fifo(dir / "special/fifo.0001.png"));
    EXPECT_TRUE(!device || fs::is_character_file(dir / "special/full.0001.png"));
    EXPECT_FALSE(fs::exists(dir / "new"));
    EXPECT_FALSE(fs::exists(dir / "glow"));
}

// The depth pass is optional: without it the Fixed modes render as with it,
// and a Depth mode stops with one line naming the pass, before any image.
TEST(OrvitRender, WithoutADepthPassOnlyTheDepthModesStop) {
    testsupport::TempFolder dir;
    SmallScene scene(dir);
    const std::string depthLine = "depth = 'passes/depth.####.exr'\n";
    for (const char* mode : {"0", "1", "2", "3"}) {
        SCOPED_TRACE(std::string("mode ") + mode);
        const std::string entry = std::string("1 1 ") + mode + " 0.250000";
        const std::string with = scene.write("with.toml", scene.text("1 1 0 0.250000", entry));
        std::string text = scene.text("1 1 0 0.250000", entry);
        text.erase(text.find(depthLine), depthLine.size());
        const std::string without = scene.write("without.toml", text);
        const auto withDepth =
            testsupport::runOrvit({"render", with, "--output", dir / "with/####.png"}, dir / "");
        ASSERT_EQ(withDepth.exitCode, 0) << withDepth.err;
        const auto r = testsupport::runOrvit(
            {"render", without, "--output", dir / "without/####.png"}, dir / "");
        if (mode[0] == '0' || mode[0] == '2') {
            ASSERT_EQ(r.exitCode, 0) << r.err;
            for (const char* frame : {"/0001.png", "/0002.png"})
                EXPECT_EQ(testsupport::readAll(dir / (std::string("without") + frame)),
                          testsupport::readAll(dir / (std::string("with") + frame)));
        } else {
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.errLines(),
                      std::vector<std::string>{
                          "orvit: scene '" + without +
                          "': a glow in a Depth mode needs the depth pass: add passes.depth, or "
                          "passes.depth_channel naming the depth in passes.file"});
            EXPECT_FALSE(fs::exists(dir / "without/0001.png"));
        }
        fs::remove_all(dir.path() / "with");
        fs::remove_all(dir.path() / "without");
    }
}

TEST(OrvitRender, AFailedFrameKeepsTheFinishedOnesAndLeavesNoPartialImage) {
    testsupport::TempFolder dir;
    SmallScene scene(dir);
    const auto r = testsupport::runOrvit(
        {"render", scene.write("s.toml", scene.text()), "--frames", "1-3"}, dir / "");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(scene.outputs(),
              (std::vector<std::string>{dir / "out/glow.0001.png", dir / "out/glow.0002.png"}));
}

// The same frame given as three files and as one multi-channel EXR (colour
// as floats, an object-index channel, a depth channel) renders the same.
TEST(OrvitRender, OneMultiChannelExrRendersLikeSeparatePasses) {
    testsupport::TempFolder dir;
    const int w = 40, h = 24;
    const size_t n = static_cast<size_t>(w) * h;
    std::vector<double> r(n), g(n), b(n), a(n, 255), id(n, 0), z(n, 1e10);
    for (size_t i = 0; i < n; ++i) {
        r[i] = static_cast<double>(i % 251);
        g[i] = static_cast<double>((i * 7) % 256);
        b[i] = static_cast<double>((i * 13) % 256);
    }
    for (int y = 4; y < 14; ++y)
        for (int x = 5; x < 18; ++x) {
            id[static_cast<size_t>(y) * w + x] = 2;
            z[static_cast<size_t>(y) * w + x] = 4.0 + 0.1 * x;
        }
    for (int y = 10; y < 20; ++y)
        for (int x = 24; x < 36; ++x) {
            id[static_cast<size_t>(y) * w + x] = 7;
            z[static_cast<size_t>(y) * w + x] = 6.0;
        }
    auto scaled = [](std::vector<double> v) {
        for (double& x : v)
            x /= 255.0;
        return v;
    };
    fs::create_directories(dir.path() / "p");
    const auto u8 = OIIO::TypeDesc::UINT8;
    const auto f32 = OIIO::TypeDesc::FLOAT;
    testsupport::writeChannels(dir / "p/c.0001.png", w, h,
                               {{"R", u8, r}, {"G", u8, g}, {"B", u8, b}, {"A", u8, a}});
    testsupport::writeChannels(dir / "p/s.0001.png", w, h, {{"Y", u8, id}});
    testsupport::writeChannels(dir / "p/d.0001.exr", w, h, {{"Z", f32, z}});
    testsupport::writeChannels(dir / "p/all.0001.exr", w, h,
                               {{"R", f32, scaled(r)},
                                {"G", f32, scaled(g)},
                                {"B", f32, scaled(b)},
                                {"A", f32, scaled(a)},
                                {"object_index", f32, id},
                                {"depth", f32, z}});
    const std::string common = "[camera]\nfov = 50\n[frames]\nfirst = 1\nlast = 1\n"
                               "[filter]\nsettings = '''v 04\n1 2\n"
                               "2 1 1 1.000000 0.000000\n0 0\n1 255 255 0 0\n"
                               "1 255 0 0 100\n0 0 0 0 40\n0 0 0 0 60\n0 0 0 0 80\n"
                               "7 1 2 0.200000 20.000000\n0 0\n1 0 255 255 0\n"
                               "0 0 0 0 20\n0 0 0 0 40\n0 0 0 0 60\n0 0 0 0 80\n'''\n";
    dir.write("separate.toml", common + "[passes]\ncolour = 'p/c.####.png'\n"
                                        "special = 'p/s.####.png'\ndepth = 'p/d.####.exr'\n"
                                        "far_depth = 1e9\n[output]\nfile = 'a.####.png'\n");
    dir.write("one.toml", common + "[passes]\nfile = 'p/all.####.exr'\n"
                                   "colour_channels = ['R', 'G', 'B', 'A']\n"
                                   "special_channel = 'object_index'\ndepth_channel = 'depth'\n"
                                   "far_depth = 1e9\n[output]\nfile = 'b.####.png'\n"
                                   // The float colour is the bytes over 255: no transfer.
                                   "[colour]\ntransform = 'linear'\n");
    for (const char* scene : {"separate.toml", "one.toml"}) {
        const auto run = testsupport::runOrvit({"render", dir / scene}, dir / "");
        ASSERT_EQ(run.exitCode, 0) << scene << ": " << run.err;
    }
    const ColourPlanes separate = readColourPass(dir / "a.0001.png", {});
    const ColourPlanes one = readColourPass(dir / "b.0001.png", {});
    EXPECT_EQ(one.red, separate.red);
    EXPECT_EQ(one.green, separate.green);
    EXPECT_EQ(one.blue, separate.blue);
    EXPECT_EQ(one.alpha, separate.alpha);
    // Both glows show: left of the first block, and inside the second.
    const size_t left = static_cast<size_t>(8) * w + 3, inside = static_cast<size_t>(15) * w + 30;
    EXPECT_NE(separate.red[left], static_cast<uint8_t>(r[left]));
    EXPECT_NE(separate.blue[inside], static_cast<uint8_t>(b[inside]));
}

TEST(OrvitCommands, EveryCommandHasHelp) {
    testsupport::TempFolder dir;
    for (const char* command :
         {"init", "render", "edit", "preview", "farm", "info", "settings", "demo"}) {
        SCOPED_TRACE(command);
        const auto r = testsupport::runOrvit({command, "--help"}, dir / "");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_THAT(r.out, HasSubstr("Usage:"));
    }
}

// A result that cannot be written (here to a full disk) is a failure, not a
// short file reported as success.
TEST(OrvitCommands, AResultThatCannotBeWrittenFailsInOneLine) {
    testsupport::TempFolder dir;
    SmallScene scene(dir);
    const std::string path = scene.write("s.toml", scene.text());
    for (const std::vector<std::string>& args : {std::vector<std::string>{"info"},
                                                 {"settings", path},
                                                 {"render", "--help"},
                                                 {"render", path, "--frames", "1"}}) {
        SCOPED_TRACE(testsupport::orvitCommand(args));
        const auto r = testsupport::runShell(
            "{ " + testsupport::orvitCommand(args) + " >/dev/full; }", dir / "");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.errLines().size(), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("orvit: cannot write standard output: ", 0), 0u) << r.err;
    }
}

TEST(OrvitCommands, VersionNamesTheProgramAndTheModule) {
    testsupport::TempFolder dir;
    const auto r = testsupport::runOrvit({"--version"}, dir / "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::regex_match(r.out, std::regex("orvit [0-9]+\\.[0-9]+\\.[0-9]+\n"
                                                   "module /.*/Orvit\\.p: descriptor version 2\n")))
        << r.out;
}

TEST(OrvitCommands, InfoShowsTheDescriptorAndSettingsTheModulesOwnLines) {
    testsupport::TempFolder dir;
    SmallScene scene(dir);
    const auto info = testsupport::runOrvit({"info"}, dir / "");
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_THAT(info.out, HasSubstr("sync word    0x04121994\nversion      2\nmachine      0x300\n"
                                    "startup      returned 4\nservers      2\n"
                                    "  ImageFilterHandler     \"Tesk_Orvit\"\n"
                                    "  ImageFilterInterface   \"Tesk_Orvit\"\n"));

    // The module saves the scene's lines back in its own form.
    const auto settings = testsupport::runOrvit(
        {"settings", scene.write("s.toml", scene.text("0.250000 0.000000", "0.25 0"))}, dir / "");
    EXPECT_EQ(settings.exitCode, 0) << settings.err;
    EXPECT_EQ(settings.out, "v 04\n1 1\n1 1 0 0.250000 0.000000\n0 0\n1 255 0 0 0\n"
                            "0 255 255 255 20\n0 255 255 255 40\n0 255 255 255 60\n"
                            "0 255 255 255 80\n");
}

} // namespace
