// orvit preview on the demo scene against the preview computed here from the
// rules, from the frame the host hands over and the literal glow reference;
// its refusals; and orvit edit --frame, whose panel then has a preview.
#include "module/settings/settings.h"
#include "orvit/host/host_services.h"
#include "orvit/passes/passes.h"
#include "orvit/scene/scene_file.h"
#include "orvit/sequence/scene_render.h"
#include "tests/module/filter/reference_kernel.h"
#include "tests/support/demo_copy.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"
#include "tests/support/untaken_settings.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#ifdef ORVIT_PROGRAM

namespace fs = std::filesystem;
using namespace orvit::core;
using namespace orvit::files;
using namespace orvit::host;
using namespace orvit::passes;
using namespace orvit::scene;
using namespace orvit::sequence;

namespace {

constexpr int32_t kW = 256, kH = 192;
const float kFar = 1300000014336.0f;

// The frame reduced as the filter samples it: element r x 256 + c.
struct Snapshot {
    std::vector<uint8_t> red, green, blue, special;
    std::vector<float> depth;
    float maxDepth = 0.0f;
    float minDepth = kFar;
};

Snapshot sample(const orvit::core::MemoryFrame& f) {
    Snapshot s;
    for (int32_t r = 0; r < kH; ++r) {
        const auto y = static_cast<int32_t>((f.height * (1.0 / 192)) * r);
        for (int32_t c = 0; c < kW; ++c) {
            const auto x = static_cast<int32_t>((f.width * (1.0 / 256)) * c);
            const size_t i = f.at(x, y);
            s.red.push_back(f.red[i]);
            s.green.push_back(f.green[i]);
            s.blue.push_back(f.blue[i]);
            s.special.push_back(f.special[i]);
            s.depth.push_back(f.depth[i]);
            if (f.depth[i] > s.maxDepth && f.depth[i] != kFar)
                s.maxDepth = f.depth[i];
            if (f.depth[i] < s.minDepth)
                s.minDepth = f.depth[i];
        }
    }
    return s;
}

// One setting read from the scene's saved lines, with its envelopes' values
// at time 0 (each demo envelope has a key there).
struct SavedSetting {
    orvit::GlowSetting setting{};
    bool sizeEnvelope = false;
    double sizeAtZero = 0.0;
};

std::vector<SavedSetting> readSettings(const std::vector<std::string>& lines) {
    std::vector<SavedSetting> out;
    size_t i = 2;
    auto envelopeAtZero = [&](double* value) {
        const int keys = std::stoi(lines.at(i++).substr(5));
        std::istringstream first(lines.at(i));
        double time = -1.0;
        first >> time >> *value;
        EXPECT_EQ(time, 0.0);
        i += static_cast<size_t>(keys);
    };
    while (i < lines.size() && !lines[i].empty()) {
        SavedSetting s;
        orvit::GlowSetting& g = s.setting;
        std::istringstream head(lines.at(i++));
        head >> g.value >> g.enabled >> g.mode >> g.distance >> g.transparency;
        int hasSize = 0, hasTrans = 0;
        std::istringstream(lines.at(i++)) >> hasSize >> hasTrans;
        double unused = 0.0;
        s.sizeEnvelope = hasSize != 0;
        if (hasSize != 0)
            envelopeAtZero(&s.sizeAtZero);
        if (hasTrans != 0)
            envelopeAtZero(&unused);
        for (int k = 0; k < orvit::kColorKeyCount; ++k)
            std::istringstream(lines.at(i++)) >> g.keyEnabled[k] >> g.keyRed[k] >> g.keyGreen[k] >>
                g.keyBlue[k] >> g.keyPosition[k];
        out.push_back(s);
    }
    return out;
}

int32_t truncated(double v) {
    return static_cast<int32_t>(v);
}

int32_t channel(double v) {
    return v >= 255.0 ? 255 : v > 0.0 ? static_cast<int32_t>(v) : 0;
}

// The colour of element i in `display`, as the rules give it.
std::array<uint8_t, 3> colourOf(const Snapshot& s, const std::string& display, size_t i, int value,
                                const reference::Layer& layer, double transparency) {
    auto grey = [](int32_t g) {
        const auto b = static_cast<uint8_t>(g);
        return std::array<uint8_t, 3>{b, b, b};
    };
    if (display == "color")
        return {s.red[i], s.green[i], s.blue[i]};
    if (display == "special")
        return grey(s.special[i] == value ? 255 : 0);
    if (display == "depth") {
        if (static_cast<double>(s.depth[i]) == 1300000014336.0)
            return grey(0);
        const float span = s.maxDepth - s.minDepth;
        const double q = (static_cast<double>(s.maxDepth) - s.depth[i]) / span;
        return grey(std::isfinite(q) ? truncated(q * 255.0) : 0);
    }
    const double w = (100.0 - transparency) * 0.01;
    auto add = [&](const std::vector<uint8_t>& glow, const std::vector<uint8_t>& snap) {
        const int32_t product = glow[i] * layer.strength[i];
        return static_cast<uint8_t>(channel(product * w * (1.0 / 256) + snap[i]));
    };
    return {add(layer.red, s.red), add(layer.green, s.green), add(layer.blue, s.blue)};
}

TEST(OrvitPreview, WritesThePreviewTheRulesGiveFromTheFrameAndTheGlowLayer) {
    testsupport::TempFolder dir;
    const SceneFile scene = parseSceneFile(ORVIT_DEMO_SCENE);
    const int frame = 5;
    const Snapshot snap = sample(readFrame(scene, frame));
    const std::vector<SavedSetting> saved = readSettings(scene.settingsLines);
    ASSERT_EQ(saved.size(), 4u);
    orvit::core::Camera camera;
    for (const FovKey& key : scene.camera)
        camera.horizontalFov.push_back({key.time, key.fov});
    const double k = orvit::host::cameraK(camera, 0.0);

    struct Case {
        const char* display;
        int value; // 0: the first, unnamed
        bool half;
    };
    // The demo's values 1 to 4 glow in "Fixed", "Depth", "G-Fixed" and
    // "G-Depth"; 1 has a transparency envelope, 4 a size envelope.
    const Case cases[] = {
        {"color", 0, false},   {"color", 0, true},    {"depth", 0, false},   {"depth", 2, true},
        {"special", 3, false}, {"special", 0, true},  {"preview", 0, false}, {"preview", 2, false},
        {"preview", 3, true},  {"preview", 4, false},
    };
    for (const Case& c : cases) {
        const int value = c.value == 0 ? 1 : c.value;
        SCOPED_TRACE(std::string(c.display) + " value " + std::to_string(value) +
                     (c.half ? " half" : ""));
        std::vector<std::string> args = {"preview",   ORVIT_DEMO_SCENE, "--frame",  "5",
                                         "--display", c.display,        "--output", dir / "p.png"};
        if (c.value != 0)
            args.insert(args.end(), {"--value", std::to_string(c.value)});
        if (c.half)
            args.push_back("--half");
        const auto r = testsupport::runOrvit(args, dir / "");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const ColourPlanes picture = readColourPass(dir / "p.png", {});
        ASSERT_EQ(picture.width, kW);
        ASSERT_EQ(picture.height, kH);

        const SavedSetting& s = saved.at(static_cast<size_t>(value) - 1);
        ASSERT_EQ(s.setting.value, value);
        reference::Layer layer;
        if (std::string(c.display) == "preview") {
            const double size = s.sizeEnvelope ? s.sizeAtZero : s.setting.distance;
            int32_t radius = truncated(kW * size);
            if (s.sizeEnvelope && radius <= 0)
                radius = 1;
            layer = reference::glow(snap.special, snap.depth, kW, kH, s.setting, radius, size, k);
        }
        for (int32_t row = 0; row < kH; ++row)
            for (int32_t col = 0; col < kW; ++col) {
                const int32_t r0 = c.half ? row & ~1 : row, c0 = c.half ? col & ~1 : col;
                const size_t i = static_cast<size_t>(r0) * kW + c0;
                const std::array<uint8_t, 3> want =
                    colourOf(snap, c.display, i, value, layer, s.setting.transparency);
                const size_t p = static_cast<size_t>(row) * kW + col;
                const std::array<uint8_t, 3> got = {picture.red[p], picture.green[p],
                                                    picture.blue[p]};
                ASSERT_EQ(got, want) << "x " << col << " y " << row;
                ASSERT_EQ(picture.alpha[p], 255);
            }
    }
    EXPECT_EQ(dir.files(), std::vector<std::string>{"p.png"});
}

// A full disk is named as such, whatever the image library says (libpng:
// "Write Error"). Needs a small file system of its own: root's tmpfs.
TEST(OrvitPreview, AFullDiskIsSaidToBeFull) {
    testsupport::TempFolder dir;
    fs::create_directory(dir / "full");
    if (std::system(("mount -t tmpfs -o size=16k tmpfs " + testsupport::shellQuoted(dir / "full") +
                     " 2>/dev/null")
                        .c_str()) != 0)
        GTEST_SKIP() << "no tmpfs of its own can be mounted here (needs root)";
    const auto r = testsupport::runOrvit(
        {"preview", ORVIT_DEMO_SCENE, "--frame", "5", "--output", dir / "full/p.png"}, dir / "");
    std::system(("umount " + testsupport::shellQuoted(dir / "full")).c_str());
    EXPECT_EQ(r.err, "orvit: output '" + dir / "full/p.png" + "': no space left on the disk of '" +
                         dir / "full" + "'\n");
}

TEST(OrvitPreview, BadArgumentsAreOneLineAndWriteNothing) {
    testsupport::TempFolder dir;
    const std::string demo = ORVIT_DEMO_SCENE;
    const std::string passes = fs::path(demo).parent_path().string() + "/passes/";
    // An object file without surfaces: the scene carries no special value.
    const std::string head = "[scene]\nobjects = ['" ORVIT_TEST_DATA
                             "/objects/empty.lwo']\n[camera]\nfov = 60\n[frames]\nfirst = 1\n"
                             "last = 1\n[passes]\ncolour = '" +
                             passes + "colour.0001.png'\nspecial = '" + passes +
                             "special.0001.png'\ndepth = '" + passes +
                             "depth.0001.exr'\n[output]\nfile = 'o.png'\n";
    dir.write("plain.toml", head + "[filter]\nsettings = '''v 04\n0 0\n'''\n");
    // Settings the module does not take are refused before any panel opens.
    const testsupport::UntakenSettings& untaken = testsupport::untakenSettings("version-05.txt");
    dir.write("untaken.toml", head + "[filter]\nsettings_file = '" + untaken.path() + "'\n");
    struct Case {
        std::vector<std::string> args; // after the scene
        std::string scene;
        std::string error; // the line after "orvit: "
    };
    const std::string out = dir / "p.png";
    const Case cases[] = {
        {{"--frame", "5", "--display", "sepia", "--output", out},
         demo,
         "--display 'sepia': expected color, depth, special or preview"},
        {{"--frame", "7", "--output", out},
         demo,
         "--frame 7: scene '" + demo + "' has frames 1 to 6"},
        {{"--frame", "five", "--output", out},
         demo,
         "--frame 'five': expected a frame number 0 to 99999999"},
        {{"--frame", "5", "--value", "9", "--output", out},
         demo,
         "--value 9: the scene has no such special value (its values: 1, 2, 3, 4)"},
        {{"--frame", "5", "--value", "0", "--output", out},
         demo,
         "--value '0': expected a special value 1 to 255"},
        {{"--frame", "5", "--output", dir / "p.jpg"},
         demo,
         "output '" + dir / "p.jpg" + "': unknown image type; use .png, .tif, .tiff or .exr"},
        {{"--frame", "5", "--output", dir / "none/p.png"},
         demo,
         "output '" + dir / "none/p.png" + "': no folder '" + dir / "none" + "'"},
        {{"--frame", "1", "--output", out},
         dir / "plain.toml",
         "scene '" + dir / "plain.toml" +
             "': the module opened no panel; it said \"There is no Special buffer.\" \"Please set "
             "any Special buffers.\""},
        {{"--frame", "1", "--output", out},
         dir / "untaken.toml",
         "settings '" + untaken.path() + "': " + untaken.message},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        std::vector<std::string> args = {"preview", c.scene};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = testsupport::runOrvit(args, dir / "");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.errLines(), std::vector<std::string>{"orvit: " + c.error});
    }
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"plain.toml", "untaken.toml"}));
}

TEST(OrvitEdit, AFrameRenderedFirstGivesThePanelItsPreview) {
    testsupport::TempFolder dir;
    const std::string scene = testsupport::copyDemo(dir);
    const std::string glow = testsupport::readAll(dir / "demo/glow.txt");
    dir.write("preview.txt", "choose popup right of \"Preview\" Depth\n"
                             "tick \"1/2 res\" on\n"
                             "choose \"Special Buffer\" 3\n"
                             "press \"Preview\"\n"
                             "ok\n");
    const auto r = testsupport::runOrvit(
        {"edit", scene, "--frame", "5", "--script", dir / "preview.txt", "--controls"}, dir / "");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::string> controls;
    for (std::string line; std::getline(lines, line);)
        controls.push_back(line);
    ASSERT_EQ(controls.size(), 36u) << r.out;
    // Pressed, so the display shows "Preview"; nothing ghosted.
    EXPECT_EQ(controls[32], "33 ButtonControl \"Preview\" button at 0 394 65 20 value 0");
    EXPECT_EQ(controls[33].substr(controls[33].size() - 8), " value 3");
    EXPECT_EQ(controls[34].substr(controls[34].size() - 8), " value 1");
    EXPECT_EQ(controls[35], "OK: the settings are unchanged; nothing written");
    EXPECT_EQ(testsupport::readAll(dir / "demo/glow.txt"), glow);

    // Without the frame the display popup is ghosted; a frame outside the scene's
    // range is refused before anything runs.
    struct Case {
        std::vector<std::string> frame;
        std::string error;
    };
    const Case cases[] = {
        {{},
         "script '" + dir / "preview.txt" +
             "' line 1: choose popup right of \"Preview\" Depth: the control is ghosted: a "
             "user cannot change it"},
        {{"--frame", "0"}, "--frame 0: scene '" + scene + "' has frames 1 to 6"},
        {{"--frame", "x"}, "--frame 'x': expected a frame number 0 to 99999999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        std::vector<std::string> args = {"edit", scene, "--script", dir / "preview.txt"};
        args.insert(args.end(), c.frame.begin(), c.frame.end());
        const auto failed = testsupport::runOrvit(args, dir / "");
        EXPECT_EQ(failed.exitCode, 1);
        EXPECT_EQ(failed.errLines(), std::vector<std::string>{"orvit: " + c.error});
    }
    EXPECT_EQ(testsupport::readAll(dir / "demo/glow.txt"), glow);
}

} // namespace

#endif
