// From a renderer's own frames to glowed frames: orvit init, the surfaces
// the panel then lists, the default glows, and the scene without a camera.
#include "orvit/commands/default_glow.h"
#include "orvit/passes/cryptomatte.h"
#include "orvit/passes/passes.h"
#include "orvit/scene/scene_file.h"
#include "tests/support/cryptomatte_frames.h"
#include "tests/support/image_files.h"
#include "tests/support/ocio_config.h"
#include "tests/support/renderer_frames.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;
using namespace orvit::files;
using namespace orvit::images;
using namespace orvit::passes;
using namespace orvit::scene;

namespace {

constexpr int kWidth = 200, kHeight = 100;

// Three frames: objects 1 and 2, then 1 and 3.
void writeShot(const testsupport::TempFolder& dir) {
    fs::create_directories(dir.path() / "render");
    const testsupport::RenderedBox one{1, 20, 20, 60, 60, 5.0};
    for (int frame : {1, 2, 3})
        testsupport::writeRendererFrame(dir / ("render/shot_000" + std::to_string(frame) + ".exr"),
                                        kWidth, kHeight,
                                        {one, {frame < 3 ? 2 : 3, 120, 30, 160, 70, 8.0}});
}

// orvit run in `dir`, as a user types it there.
testsupport::CommandResult runIn(const testsupport::TempFolder& dir,
                                 const std::vector<std::string>& args,
                                 const std::string& input = "/dev/null") {
    return testsupport::runShell("cd " + testsupport::shellQuoted(dir.path().string()) + " && " +
                                     testsupport::orvitCommand(args),
                                 dir / "", input);
}

// The popup of the panel's controls, as --controls prints it: "[...]".
std::string popupItems(const std::string& controls, const std::string& label) {
    const size_t at = controls.find("PopupControl \"" + label + "\"");
    const size_t open = controls.find('[', at), close = controls.find(']', open);
    return at == std::string::npos ? "" : controls.substr(open, close - open + 1);
}

TEST(OrvitInit, TurnsARenderersFramesIntoASceneThatRendersGlowsWhereTheValuesAre) {
    testsupport::TempFolder dir;
    writeShot(dir);
    const auto init = runIn(dir, {"init", "render/shot_####.exr"});
    ASSERT_EQ(init.exitCode, 0) << init.err;
    EXPECT_THAT(init.out,
                HasSubstr("frames 1-3, 200x100: colour ViewLayer.Combined.R, "
                          "ViewLayer.Combined.G, ViewLayer.Combined.B, ViewLayer.Combined.A; "
                          "special ViewLayer.IndexOB.X (values 1, 2, 3); depth "
                          "ViewLayer.Depth.Z (empty background far)"));
    const std::string scene = testsupport::readAll(dir / "scene.toml");
    EXPECT_THAT(scene, HasSubstr("file = \"render/shot_####.exr\""));
    EXPECT_THAT(scene, HasSubstr("far_depth = 1000000000.0"));
    EXPECT_THAT(scene, HasSubstr("name = \"Object 3\"\nspecial = 3"));
    EXPECT_THAT(scene, Not(HasSubstr("[camera]")));

    const auto render = runIn(dir, {"render", "scene.toml"});
    ASSERT_EQ(render.exitCode, 0) << render.err;
    // Glow just outside object 1 and, in frame 3, object 3; none far from
    // any object, where the sky keeps its colour through the sRGB transfer.
    const ColourPlanes first = readColourPass(dir / "glow/shot_0001.png", {});
    const ColourPlanes last = readColourPass(dir / "glow/shot_0003.png", {});
    const auto at = [](int x, int y) { return static_cast<size_t>(y) * kWidth + x; };
    EXPECT_EQ(first.red[at(90, 90)], 124);
    EXPECT_EQ(first.green[at(90, 90)], 149);
    EXPECT_EQ(first.blue[at(90, 90)], 188);
    EXPECT_GT(first.green[at(18, 40)], 149); // value 1's glow is green
    EXPECT_GT(last.red[at(162, 50)], 124);   // value 3's is orange
    EXPECT_EQ(last.red[at(190, 90)], 124);

    // The panel lists every value of every frame, named for it.
    dir.write("cancel.txt", "cancel\n");
    const auto edit =
        runIn(dir, {"edit", "scene.toml", "--frame", "1", "--script", "cancel.txt", "--controls"});
    ASSERT_EQ(edit.exitCode, 0) << edit.err;
    EXPECT_EQ(popupItems(edit.out, "Special Buffer"), "[\"  1 \", \"  2 \", \"  3 \"]");
    EXPECT_EQ(popupItems(edit.out, "Surface"), "[\"Object 1\", \"Object 2\", \"Object 3\"]");
}

// Without a camera the Fixed modes render; a Depth mode is refused naming
// [camera], until the value is given the default glow again.
TEST(OrvitInit, ASceneWithoutACameraRefusesADepthGlowUntilItsDefaultGlowIsBack) {
    testsupport::TempFolder dir;
    writeShot(dir);
    ASSERT_EQ(runIn(dir, {"init", "render/shot_####.exr", "--frames", "1-2"}).exitCode, 0);
    const std::string fixed = testsupport::readAll(dir / "scene-glow.txt");
    dir.write("depth.txt", "choose \"Special Buffer\" 2\nchoose \"Mode\" Depth\n"
                           "type \"Transparency\" 20\nok\n");
    ASSERT_EQ(runIn(dir, {"edit", "scene.toml", "--script", "depth.txt"}).exitCode, 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"render", "scene.toml"},
          {"preview", "scene.toml", "--frame", "1", "--value", "2", "--output", "p.png"}}) {
        const auto r = runIn(dir, args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(
            r.errLines(),
            std::vector<std::string>{
                "orvit: scene 'scene.toml': a glow in a Depth mode needs the camera: add [camera] "
                "with fov, or focal_length and film_width"});
    }
    EXPECT_FALSE(fs::exists(dir / "glow/shot_0001.png"));
    EXPECT_FALSE(fs::exists(dir / "p.png"));
    // The preview of a value in a Fixed mode shows that value's glow alone,
    // which needs no camera.
    const auto fixedPreview =
        runIn(dir, {"preview", "scene.toml", "--frame", "1", "--value", "1", "--output", "p.png"});
    EXPECT_EQ(fixedPreview.exitCode, 0) << fixedPreview.err;
    EXPECT_TRUE(fs::exists(dir / "p.png"));

    const auto reset = runIn(dir, {"settings", "scene.toml", "--default-glow", "2"});
    ASSERT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_EQ(testsupport::readAll(dir / "scene-glow.txt"), fixed);
    EXPECT_EQ(runIn(dir, {"render", "scene.toml"}).exitCode, 0);

    // A settings file yet to be made is made, as init makes it.
    fs::remove(dir / "scene-glow.txt");
    EXPECT_EQ(
        runIn(dir, {"settings", "scene.toml", "--default-glow", "0"}).errLines(),
        std::vector<std::string>{"orvit: --default-glow '0': expected a special value 1 to 255"});
    EXPECT_FALSE(fs::exists(dir / "scene-glow.txt"));
    const auto made =
        runIn(dir, {"settings", "scene.toml", "--default-glow", "1", "--default-glow", "2"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(testsupport::readAll(dir / "scene-glow.txt"), fixed);
}

// A scene naming neither objects nor surfaces: the panel offers the values
// of the special pass of the frame it opens on, and says so.
TEST(OrvitEdit, ASceneWithoutSurfacesOffersTheValuesOfTheSpecialPass) {
    testsupport::TempFolder dir;
    writeShot(dir);
    dir.write("s.toml", "[frames]\nfirst = 1\nlast = 3\n[passes]\nfile = 'render/shot_####.exr'\n"
                        "[output]\nfile = 'o/####.png'\n[filter]\nsettings = '''v 04\n0 0\n'''\n");
    dir.write("cancel.txt", "cancel\n");
    const auto r =
        runIn(dir, {"edit", "s.toml", "--frame", "3", "--script", "cancel.txt", "--controls"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "surfaces: the scene names none; found in the special pass of frame 3 "
              "('render/shot_0003.exr'): values 1, 3");
    EXPECT_EQ(popupItems(r.out, "Surface"), "[\"Object 1\", \"Object 3\"]");
}

// One pass a part (as Redshift writes them) and an object id stored as
// unsigned integers (as Arnold writes its ID) are the same frame as one
// float file: init finds the same passes and render makes the same image.
TEST(OrvitRender, MultiPartAndUintIdFramesRenderAsTheSingleFloatFile) {
    testsupport::TempFolder dir;
    const auto f32 = OIIO::TypeDesc::FLOAT, u32 = OIIO::TypeDesc::UINT32;
    std::vector<double> r, g, b, a, z, id;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const bool box = x >= 40 && x < 90 && y >= 30 && y < 70;
            const bool ring = x >= 120 && x < 150 && y >= 20 && y < 40;
            r.push_back(box ? 3.0 : 0.2);
            g.push_back(ring ? 0.7 : 0.3);
            b.push_back(0.05 * (x % 7));
            a.push_back(1.0);
            z.push_back(box ? 4.0 : ring ? 6.0 : 1e10);
            id.push_back(box ? 2 : ring ? 7 : 0);
        }
    const std::vector<std::pair<std::string, std::vector<testsupport::Channel>>> parts = {
        {"rgba", {{"R", f32, r}, {"G", f32, g}, {"B", f32, b}, {"A", f32, a}}},
        {"depth", {{"Z", f32, z}}},
        {"objectid", {{"Y", f32, id}}}};
    std::vector<testsupport::Channel> single;
    for (const auto& [part, channels] : parts)
        for (const testsupport::Channel& c : channels)
            single.push_back({part + "." + c.name, c.type, c.values});
    for (const char* folder : {"single", "parts", "uint"})
        fs::create_directories(dir.path() / folder / "render");
    testsupport::writeChannels(dir / "single/render/f_0001.exr", kWidth, kHeight, single);
    testsupport::writeParts(dir / "parts/render/f_0001.exr", kWidth, kHeight, parts);
    testsupport::writeChannels(dir / "uint/render/f_0001.exr", kWidth, kHeight,
                               {{"R", f32, r},
                                {"G", f32, g},
                                {"B", f32, b},
                                {"A", f32, a},
                                {"Z", f32, z},
                                {"ID", u32, id}});
    std::vector<std::string> images;
    for (const char* folder : {"single", "parts", "uint"}) {
        SCOPED_TRACE(folder);
        const std::string in = dir / folder;
        const auto init = testsupport::runShell(
            "(cd " + testsupport::shellQuoted(in) + " && " +
                testsupport::orvitCommand({"init", "render/f_####.exr"}) + " && " +
                testsupport::orvitCommand({"render", "scene.toml"}) + ")",
            in + "/", "/dev/null");
        ASSERT_EQ(init.exitCode, 0) << init.err;
        EXPECT_THAT(init.out, HasSubstr("(values 2, 7)"));
        images.push_back(testsupport::readAll(in + "/glow/f_0001.png"));
    }
    EXPECT_EQ(images[1], images[0]);
    EXPECT_EQ(images[2], images[0]);
}

// Frames with a Cryptomatte and no object index: the torus throughout, the
// Cube in frame 1, the plain over the torus in frame 2.
const std::vector<testsupport::NamedBox> kFrameOne = {{testsupport::kTorus, 20, 20, 70, 60, 5.0},
                                                      {testsupport::kCube, 120, 30, 160, 70, 8.0}};
const std::vector<testsupport::NamedBox> kFrameTwo = {{testsupport::kTorus, 20, 20, 70, 60, 5.0},
                                                      {testsupport::kPlain, 50, 40, 100, 80, 4.0}};

void writeNamedShot(const std::string& folder, const testsupport::CryptomatteFrame& frame = {}) {
    fs::create_directories(folder);
    testsupport::writeCryptomatteFrame(folder + "/shot_0001.exr", kWidth, kHeight, kFrameOne,
                                       frame);
    testsupport::writeCryptomatteFrame(folder + "/shot_0002.exr", kWidth, kHeight, kFrameTwo,
                                       frame);
}

// Names to values, as init gives them, glow as an object index with those
// values does: the same images, byte for byte.
TEST(OrvitInit, CryptomatteObjectsGlowByNameAsAnIndexPassWithTheirValues) {
    testsupport::TempFolder dir;
    writeNamedShot(dir / "named");
    const auto init = runIn(dir, {"init", "named/shot_####.exr"});
    ASSERT_EQ(init.exitCode, 0) << init.err;
    const std::string plain = testsupport::kPlain.name;
    EXPECT_THAT(init.out, HasSubstr("special Cryptomatte ViewLayer.CryptoObject, 3 objects "
                                    "(\"Cube\" 1, \"torus\" 2, \"" +
                                    plain + "\" 3; every one is a [[surfaces]] of scene.toml)"));
    const std::string scene = testsupport::readAll(dir / "scene.toml");
    EXPECT_THAT(scene, HasSubstr("cryptomatte = \"ViewLayer.CryptoObject\""));
    EXPECT_THAT(scene, HasSubstr("name = \"" + plain + "\"\nid = \"9623511e\"\nspecial = 3"));
    ASSERT_EQ(runIn(dir, {"render", "scene.toml"}).exitCode, 0);

    testsupport::CryptomatteFrame index;
    index.indexOf = {{"Cube", 1}, {"torus", 2}, {plain, 3}};
    writeNamedShot(dir / "index/render", index);
    const auto twin =
        runIn(dir, {"init", "index/render/shot_####.exr", "--output", "index/s.toml"});
    ASSERT_EQ(twin.exitCode, 0) << twin.err;
    ASSERT_EQ(runIn(dir, {"render", "index/s.toml"}).exitCode, 0);
    // Without a depth pass the same Fixed glows.
    testsupport::CryptomatteFrame flat;
    flat.leaveOut = {"ViewLayer.Depth"};
    writeNamedShot(dir / "flat/render", flat);
    const auto noDepth =
        runIn(dir, {"init", "flat/render/shot_####.exr", "--output", "flat/s.toml"});
    ASSERT_EQ(noDepth.exitCode, 0) << noDepth.err;
    ASSERT_EQ(runIn(dir, {"render", "flat/s.toml"}).exitCode, 0);
    // The Cryptomatte in a file of its own, as some renderers write it; a
    // second such file is refused.
    testsupport::CryptomatteFrame beauty, ids;
    beauty.leaveOut = {"ViewLayer.CryptoObject"};
    ids.leaveOut = {"ViewLayer.Combined", "ViewLayer.Depth"};
    writeNamedShot(dir / "split/beauty", beauty);
    writeNamedShot(dir / "split/ids", ids);
    writeNamedShot(dir / "split/more", ids);
    const auto split = runIn(dir, {"init", "split/beauty/shot_####.exr", "split/ids/shot_####.exr",
                                   "--output", "split/s.toml"});
    ASSERT_EQ(split.exitCode, 0) << split.err;
    ASSERT_EQ(runIn(dir, {"render", "split/s.toml"}).exitCode, 0);
    const auto two = runIn(dir, {"init", "split/beauty/shot_####.exr", "split/ids/shot_####.exr",
                                 "split/more/shot_####.exr", "--output", "split/t.toml"});
    EXPECT_THAT(two.err,
                HasSubstr("special pass: both frame 1 '" + dir / "split/ids/shot_0001.exr" +
                          "' and frame 1 '" + dir / "split/more/shot_0001.exr" +
                          "' declare a Cryptomatte object layer; leave one file out, or "
                          "pick with --cryptomatte NAME\n"));
    for (const char* frame : {"shot_0001.png", "shot_0002.png"}) {
        const std::string named = testsupport::readAll(dir / ("glow/" + std::string(frame)));
        EXPECT_FALSE(named.empty());
        for (const char* twinFolder : {"index", "flat", "split"})
            EXPECT_EQ(named,
                      testsupport::readAll(dir / (std::string(twinFolder) + "/glow/" + frame)))
                << twinFolder << " " << frame;
    }

    // A name typed wrong glows nothing, and render says so.
    dir.write("scene.toml", scene + "\n[[surfaces]]\nname = \"Cubee\"\nspecial = 9\n");
    const auto typo = runIn(dir, {"render", "scene.toml"});
    ASSERT_EQ(typo.exitCode, 0) << typo.err;
    EXPECT_EQ(typo.errLines(),
              std::vector<std::string>{"orvit: warning: surface 'Cubee' is in no pixel of the "
                                       "Cryptomatte of frames 1-2 ('named/shot_####.exr'): it "
                                       "glows nothing"});
}

// Other renderers' and compositors' Cryptomattes glow as Blender's does, to
// the byte: letters spelt out, a layer named after a render element, a
// second layer beside the object layer, a manifest that names nothing or
// lacks a name, and one whose ids are not the names' hashes (the renderer
// hashed otherwise: the frames hold the manifest's ids).
TEST(OrvitInit, OtherRenderersCryptomattesGlowAsBlendersDo) {
    testsupport::TempFolder dir;
    writeNamedShot(dir / "blender");
    ASSERT_EQ(runIn(dir, {"init", "blender/shot_####.exr", "--output", "blender/s.toml"}).exitCode,
              0);
    ASSERT_EQ(runIn(dir, {"render", "blender/s.toml"}).exitCode, 0);
    const std::string plain = testsupport::kPlain.name;
    using Edits = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* folder;
        testsupport::CryptomatteFrame frame;
        uint32_t cubeId;     // the id the frames and the manifest give the Cube
        std::string summary; // in init's first line
        std::string warning; // init's, after "orvit: warning: "
        // The scene's text replaced as an artist edits it: the values as the
        // Blender scene has them, a surface given by its name only.
        Edits edits;
    } cases[] = {
        {"spelt",
         {},
         testsupport::kCube.id,
         "special Cryptomatte ViewLayer.CryptoObject, 3 objects",
         "",
         {}},
        {"element",
         {},
         testsupport::kCube.id,
         "special Cryptomatte uCryptoWildcard, 3 objects",
         "",
         {}},
        {"two",
         {},
         testsupport::kCube.id,
         "; also in the file: Cryptomatte \"ViewLayer.CryptoMaterial\" (--cryptomatte NAME picks "
         "another)",
         "",
         {}},
        {"unnamed",
         {},
         testsupport::kCube.id,
         "3 objects (id 9623511e 1, id a8fce865 2, id f19c73fd 3;",
         "Cryptomatte 'ViewLayer.CryptoObject' of frames 1-2: no manifest names 3 of its objects "
         "(ids 9623511e, a8fce865, f19c73fd): their surfaces have an id and no name",
         {{"9623511e\"\nspecial = 1", "9623511e\"\nspecial = 3"},
          {"a8fce865\"\nspecial = 2", "a8fce865\"\nspecial = 1"},
          {"f19c73fd\"\nspecial = 3", "f19c73fd\"\nspecial = 2"}}},
        {"lacking",
         {},
         testsupport::kCube.id,
         "3 objects (\"Cube\" 1, \"" + plain + "\" 2, id f19c73fd 3;",
         "Cryptomatte 'ViewLayer.CryptoObject' of frames 1-2: no manifest names 1 of its objects "
         "(ids f19c73fd): their surfaces have an id and no name",
         {{"9623511e\"\nspecial = 2", "9623511e\"\nspecial = 3"},
          {"id = \"f19c73fd\"\nspecial = 3", "name = \"torus\"\nspecial = 2"}}},
        {"hashed",
         {},
         0x4a4bc3e5u,
         "3 objects (\"Cube\" 1, \"torus\" 2,",
         "frame 1 '" + dir / "hashed/shot_0001.exr" +
             "': the manifest of Cryptomatte 'ViewLayer.CryptoObject' gives \"Cube\" an id other "
             "than its name's hash; the manifest's id is the object's",
         {}},
    };
    cases[0].frame.letters = {"red", "Green", "BLUE", "alpha"};
    cases[1].frame.layer = "uCryptoWildcard";
    cases[1].frame.key = "2f7e8a1";
    cases[2].frame.alsoLayer = "ViewLayer.CryptoMaterial";
    cases[3].frame.metadata["manifest"] = "{}";
    cases[4].frame.metadata["manifest"] = "{\"Cube\":\"a8fce865\",\"" + plain + "\":\"9623511e\"}";
    for (Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string folder = dir / c.folder;
        fs::create_directories(folder);
        for (int frame : {1, 2}) {
            std::vector<testsupport::NamedBox> boxes = frame == 1 ? kFrameOne : kFrameTwo;
            for (testsupport::NamedBox& box : boxes)
                if (box.object.id == testsupport::kCube.id)
                    box.object.id = c.cubeId;
            testsupport::writeCryptomatteFrame(folder + "/shot_000" + std::to_string(frame) +
                                                   ".exr",
                                               kWidth, kHeight, boxes, c.frame);
        }
        const std::string scene = std::string(c.folder) + "/s.toml";
        const auto init =
            runIn(dir, {"init", std::string(c.folder) + "/shot_####.exr", "--output", scene});
        ASSERT_EQ(init.exitCode, 0) << init.err;
        EXPECT_THAT(init.out.substr(0, init.out.find('\n')), HasSubstr(c.summary));
        EXPECT_EQ(init.errLines(), c.warning.empty()
                                       ? std::vector<std::string>{}
                                       : std::vector<std::string>{"orvit: warning: " + c.warning});
        std::string text = testsupport::readAll(dir / scene);
        for (const auto& [from, to] : c.edits) {
            ASSERT_NE(text.find(from), std::string::npos) << from;
            text.replace(text.find(from), from.size(), to);
        }
        dir.write(scene, text);
        const auto render = runIn(dir, {"render", scene});
        ASSERT_EQ(render.exitCode, 0) << render.err;
        EXPECT_EQ(render.err, "");
        for (const char* image : {"/glow/shot_0001.png", "/glow/shot_0002.png"})
            EXPECT_EQ(testsupport::readAll(folder + image),
                      testsupport::readAll(dir / "blender" + image))
                << image;
    }
}

// The glow is light: rendered on transparent film (alpha 0 around an opaque
// box, a partly covered column at its edge), the written pixels composited
// over black give a * c + d - c, c the colour the module read, d the one it
// drew (its twin on opaque film shows d as it is): the module's picture
// where the film is empty or opaque. Straight 8-bit PNG and premultiplied
// float EXR alike; pixels the glow left alone are written as read.
TEST(OrvitRender, AGlowOnTransparentFilmShowsWhenComposited) {
    testsupport::TempFolder dir;
    const int w = 200, h = 40;
    for (const char* film : {"film", "twin"}) {
        std::vector<testsupport::Channel> c = {{"R", OIIO::TypeDesc::FLOAT, {}},
                                               {"G", OIIO::TypeDesc::FLOAT, {}},
                                               {"B", OIIO::TypeDesc::FLOAT, {}},
                                               {"A", OIIO::TypeDesc::FLOAT, {}},
                                               {"object_id", OIIO::TypeDesc::FLOAT, {}}};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool box = x >= 80 && x < 120 && y >= 10 && y < 30;
                const bool edge = x == 79 && y >= 10 && y < 30;
                const double a = std::string(film) == "twin" ? 1.0 : box ? 1.0 : edge ? 0.5 : 0.0;
                const double straight[3] = {0.5, 0.25, 0.125};
                for (int k = 0; k < 3; ++k)
                    c[k].values.push_back(box || edge ? straight[k] * a : 0.0);
                c[3].values.push_back(a);
                c[4].values.push_back(box ? 1.0 : 0.0);
            }
        fs::create_directories(dir.path() / film);
        testsupport::writeChannels(dir / (std::string(film) + "/f_0001.exr"), w, h, c);
        const std::string scene = std::string(film) + "/s.toml";
        ASSERT_EQ(
            runIn(dir, {"init", std::string(film) + "/f_####.exr", "--output", scene}).exitCode, 0);
        ASSERT_EQ(runIn(dir, {"render", scene}).exitCode, 0);
        ASSERT_EQ(runIn(dir, {"render", scene, "--output", std::string(film) + "/glow/f_####.exr"})
                      .exitCode,
                  0);
    }
    const ColourPlanes read = readColourPass(dir / "twin/f_0001.exr", {});
    const std::vector<uint8_t> alpha = readColourPass(dir / "film/f_0001.exr", {}).alpha;
    const std::vector<uint8_t> drawn = testsupport::readBytes(dir / "twin/glow/f_0001.png");
    const std::vector<uint8_t> png = testsupport::readBytes(dir / "film/glow/f_0001.png");
    std::vector<float> exr(size_t(w) * h * 4);
    auto in = OIIO::ImageInput::open(dir / "film/glow/f_0001.exr");
    ASSERT_TRUE(in && in->read_image(0, 0, 0, 4, OIIO::TypeDesc::FLOAT, exr.data()));
    int halo = 0;
    for (int i = 0; i < w * h; ++i) {
        SCOPED_TRACE("pixel (" + std::to_string(i % w) + ", " + std::to_string(i / w) + ")");
        const int a = alpha[i];
        const int c[3] = {read.red[i], read.green[i], read.blue[i]};
        const uint8_t* d = &drawn[i * 4];
        const uint8_t* out = &png[i * 4];
        const bool changed = d[0] != c[0] || d[1] != c[1] || d[2] != c[2];
        halo += changed && a == 0;
        for (int k = 0; k < 3; ++k) {
            if (!changed) {
                EXPECT_EQ(out[k], c[k]);
                continue;
            }
            const double overBlack = std::clamp(a * c[k] / 255.0 + d[k] - c[k], 0.0, 255.0);
            EXPECT_NEAR(out[k] * out[3] / 255.0, overBlack, 1.0) << "channel " << k;
            EXPECT_NEAR(exr[i * 4 + k] * 255.0, overBlack, 1.0) << "channel " << k;
            if (a == 255) {
                EXPECT_EQ(out[k], d[k]);
            }
        }
        if (!changed) {
            EXPECT_EQ(out[3], a);
        }
        EXPECT_NEAR(exr[i * 4 + 3] * 255.0, out[3], 0.5);
        // Over white the halo shows.
        if (changed && a == 0 && (d[0] || d[1] || d[2])) {
            EXPECT_GT(out[3], 0);
        }
    }
    EXPECT_GT(halo, 100);
}

// Written again with --update, a name keeps its value and the settings stay,
// so that each glow stays with its object; a new name takes a free value.
TEST(OrvitInit, UpdateKeepsEachNamesValueAndTheSettings) {
    testsupport::TempFolder dir;
    writeNamedShot(dir / "render");
    ASSERT_EQ(runIn(dir, {"init", "render/shot_####.exr", "--frames", "2-2"}).exitCode, 0);
    dir.write("mode.txt", "choose \"Special Buffer\" 1\nchoose \"Mode\" G-Fixed\nok\n");
    ASSERT_EQ(runIn(dir, {"edit", "scene.toml", "--script", "mode.txt"}).exitCode, 0);
    const std::string edited = testsupport::readAll(dir / "scene-glow.txt");

    const auto again = runIn(dir, {"init", "render/shot_####.exr", "--frames", "2-2", "--update"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(testsupport::readAll(dir / "scene-glow.txt"), edited); // no new name: untouched

    const auto update = runIn(dir, {"init", "render/shot_####.exr", "--update"});
    ASSERT_EQ(update.exitCode, 0) << update.err;
    EXPECT_THAT(update.out, HasSubstr("(\"torus\" 1, \"" + std::string(testsupport::kPlain.name) +
                                      "\" 2, \"Cube\" 3;"));
    const std::string updated = testsupport::readAll(dir / "scene-glow.txt");
    EXPECT_NE(updated, edited);
    // Value 1 keeps its G-Fixed mode: what the edit wrote is still there.
    dir.write("check.txt", "choose \"Special Buffer\" 1\ncancel\n");
    const auto controls = runIn(dir, {"edit", "scene.toml", "--script", "check.txt", "--controls"});
    ASSERT_EQ(controls.exitCode, 0) << controls.err;
    EXPECT_THAT(controls.out, HasSubstr("\"Mode\""));
    EXPECT_THAT(controls.out, HasSubstr("G-Fixed"));

    // A kept name no frame holds stays, with a warning.
    const auto gone = runIn(dir, {"init", "render/shot_####.exr", "--frames", "1-1", "--update"});
    ASSERT_EQ(gone.exitCode, 0) << gone.err;
    EXPECT_EQ(gone.errLines(), std::vector<std::string>{"orvit: warning: surface '" +
                                                        std::string(testsupport::kPlain.name) +
                                                        "' is in no frame of 1-1: it glows "
                                                        "nothing"});
    EXPECT_THAT(testsupport::readAll(dir / "scene.toml"), HasSubstr(testsupport::kPlain.name));

    // What was set by hand and the frames do not give stays, to the bit: the
    // camera, the rate, the colour transform, the output and its compression.
    std::string hand = testsupport::readAll(dir / "scene.toml");
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"rate = 24.0", "rate = 29.97"},
             {"transform = \"srgb\"", "transform = \"linear\""},
             {"file = \"glow/shot_####.png\"", "file = \"mine/s_####.exr\"\ncompression = 9"},
             {"[output]", "[camera]\nfocal_length = 14.0\nfilm_width = 36\n\n[output]"}}) {
        ASSERT_NE(hand.find(from), std::string::npos) << from;
        hand.replace(hand.find(from), from.size(), to);
    }
    dir.write("scene.toml", hand);
    const SceneFile before = parseSceneFile(dir / "scene.toml");
    ASSERT_EQ(runIn(dir, {"init", "render/shot_####.exr", "--update"}).exitCode, 0);
    const SceneFile after = parseSceneFile(dir / "scene.toml");
    EXPECT_EQ(after.rate, before.rate);
    EXPECT_EQ(after.colour.transform, ColourSettings::Transform::Linear);
    EXPECT_EQ(after.output, before.output);
    EXPECT_EQ(after.compression, 9);
    ASSERT_EQ(after.camera.size(), 1u);
    EXPECT_EQ(after.camera[0].fov, before.camera[0].fov);
}

// More names than special values: an error that counts them and says how to
// pick, never names dropped; picked by a glob, they fit.
TEST(OrvitInit, MoreThan255NamesAreRefusedUntilAGlobPicksFewer) {
    testsupport::TempFolder dir;
    std::vector<std::string> names;
    for (int i = 0; i < 256; ++i)
        names.push_back((i % 2 ? "Lamp" : "Rock") + std::to_string(i));
    std::vector<testsupport::NamedBox> boxes;
    for (int i = 0; i < 256; ++i)
        boxes.push_back({{names[i].c_str(), cryptomatteId(names[i])},
                         i % 16,
                         i / 16,
                         i % 16 + 1,
                         i / 16 + 1,
                         2.0});
    testsupport::writeCryptomatteFrame(dir / "many.exr", 16, 16, boxes);
    const auto many = runIn(dir, {"init", "many.exr"});
    EXPECT_EQ(many.errLines(), std::vector<std::string>{
                                   "orvit: 256 objects to glow, more than the 255 special values: "
                                   "pick names with --names GLOB (such as --names 'Lamp*')"});
    EXPECT_FALSE(fs::exists(dir / "scene.toml"));
    const auto lamps = runIn(dir, {"init", "many.exr", "--names", "Lamp*", "--names", "Rock1?"});
    ASSERT_EQ(lamps.exitCode, 0) << lamps.err;
    const std::string scene = testsupport::readAll(dir / "scene.toml");
    EXPECT_EQ(testsupport::count(scene, "[[surfaces]]"), 128u + 5u);
    // The summary counts them and names as many as a line holds.
    const std::string summary = lamps.out.substr(0, lamps.out.find('\n'));
    EXPECT_THAT(summary, HasSubstr("133 objects (\"Lamp1\" 1, \"Lamp101\" 2, "));
    EXPECT_THAT(summary, HasSubstr(" more; every one is a [[surfaces]] of scene.toml)"));
    EXPECT_LT(summary.size(), 500u);
    fs::remove(dir / "scene.toml");
    fs::remove(dir / "scene-glow.txt");
    EXPECT_EQ(runIn(dir, {"init", "many.exr", "--names", "Lamp"}).errLines(),
              std::vector<std::string>{"orvit: --names 'Lamp' matches no object of the frames"});
}

TEST(OrvitInit, EveryFaultIsOneLineAndWritesNothing) {
    testsupport::TempFolder dir;
    writeShot(dir);
    fs::create_directories(dir.path() / "gap");
    fs::copy(dir / "render/shot_0001.exr", dir / "gap/shot_0001.exr");
    fs::copy(dir / "render/shot_0003.exr", dir / "gap/shot_0003.exr");
    fs::create_directories(dir.path() / "sizes");
    fs::copy(dir / "render/shot_0001.exr", dir / "sizes/shot_0001.exr");
    testsupport::writeRendererFrame(dir / "sizes/shot_0002.exr", 20, 10, {});
    const auto half = OIIO::TypeDesc::HALF, f32 = OIIO::TypeDesc::FLOAT;
    // One-pixel frames: colour and depth, and an object index or none.
    const auto onePixel = [&](const char* name, std::vector<testsupport::Channel> index) {
        std::vector<testsupport::Channel> channels = {
            {"R", half, {1}}, {"G", half, {1}}, {"B", half, {1}}};
        channels.insert(channels.end(), index.begin(), index.end());
        channels.push_back({"Z", f32, {1}});
        testsupport::writeChannels(dir / name, 1, 1, channels);
    };
    onePixel("rgb.exr", {});
    onePixel("empty.exr", {{"IndexOB", f32, {0}}});
    // Damaged frames: cut short in the pixels, cut short in the header, and
    // a header claiming more pixels than orvit reads in one image.
    // A folder whose name is no UTF-8, which a scene file cannot hold.
    for (const char* folder : {"cut", "head", "odd\xff"}) {
        fs::create_directories(dir.path() / folder);
        fs::copy(dir / "render/shot_0001.exr", dir / (folder + std::string("/shot_0001.exr")));
    }
    const std::string whole = testsupport::readAll(dir / "render/shot_0002.exr");
    dir.write("cut/shot_0002.exr", whole.substr(0, whole.size() - 100));
    dir.write("head/shot_0002.exr", whole.substr(0, 40));
    onePixel("huge.exr", {{"IndexOB", f32, {1}}});
    testsupport::claimSize(dir / "huge.exr", 30000, 30000);
    // A Cryptomatte in a file of its own, and one whose manifest names a
    // name twice.
    testsupport::CryptomatteFrame crypto, twice;
    crypto.leaveOut = {"ViewLayer.Combined", "ViewLayer.Depth"};
    twice.metadata["manifest"] = "{\"torus\":\"f19c73fd\",\"torus\":\"a8fce865\"}";
    testsupport::writeCryptomatteFrame(dir / "crypto.exr", 4, 4, kFrameOne, crypto);
    testsupport::writeCryptomatteFrame(dir / "twice.exr", 4, 4, kFrameOne, twice);
    const std::string first = dir / "render/shot_0001.exr";
    struct Case {
        std::vector<std::string> args;
        std::string error; // the start of the line after "orvit: "
    } cases[] = {
        {{"init", "none_####.exr"},
         "'none_####.exr': no file matches it (#### stands for the frame number)"},
        {{"init", "gap/shot_####.exr"},
         "frames 1-3 of 'gap/shot_####.exr': frame 2 is missing ('" + dir / "gap/shot_0002.exr" +
             "')"},
        {{"init", "render/shot_####.exr", "--frames", "2-4"},
         "frames 2-4 of 'render/shot_####.exr': frame 4 is missing ('" +
             dir / "render/shot_0004.exr" + "')"},
        {{"init", "sizes/shot_####.exr"},
         "frame 2 '" + dir / "sizes/shot_0002.exr" + "' is 20x10 but frame 1 '" +
             dir / "sizes/shot_0001.exr" + "' is 200x100"},
        {{"init", "cut/shot_####.exr"},
         "special pass and depth pass '" + dir / "cut/shot_0002.exr" +
             "': cannot read the pixels: "},
        {{"init", "head/shot_####.exr"},
         "frame 2 '" + dir / "head/shot_0002.exr" + "': cannot read: "},
        {{"init", "huge.exr"},
         "frame 1 '" + dir / "huge.exr" +
             "': cannot read: the header claims 30000x30000 pixels, more than the 268435456 "
             "(16384x16384) orvit reads in one image"},
        {{"init", "rgb.exr"},
         "frame 1 '" + dir / "rgb.exr" +
             "': no channel is recognised as an object index (the file has R, G, B, Z); pick "
             "with --special-channel NAME"},
        {{"init", "crypto.exr"},
         "frame 1 '" + dir / "crypto.exr" +
             "': no channel is recognised as the colour (the file has "
             "ViewLayer.CryptoObject00.R, ViewLayer.CryptoObject00.G, ViewLayer.CryptoObject00.B, "
             "ViewLayer.CryptoObject00.A); pick with --colour-channels R,G,B[,A], or give the file "
             "that holds the colour as well (orvit init beauty_####.exr crypto_####.exr)"},
        {{"init", "twice.exr"},
         "special pass '" + dir / "twice.exr" +
             "': the manifest of Cryptomatte 'ViewLayer.CryptoObject' names 'torus' twice"},
        {{"init", "render/shot_####.exr", "--depth-channel", "ViewLayer.Z"},
         "frame 1 '" + first + "': no channel 'ViewLayer.Z' (the file has "},
        {{"init", "render/shot_####.exr", "--colour-channels", "R,G"},
         "--colour-channels 'R,G': give 3 or 4 names, R,G,B[,A]"},
        {{"init", "empty.exr"},
         "channel 'IndexOB' of frames 1-1 holds no special value but 0: there is nothing to glow"},
        {{"init", "render/shot_####.exr", "--fov", "60", "--focal-length", "35"},
         "--fov and --focal-length with --film-width both give the camera; give one"},
        {{"init", "render/shot_####.exr", "--focal-length", "35"},
         "--focal-length needs --film-width"},
        {{"init", "render/shot_####.exr", "--fov", "180"},
         "--fov '180': expected a number between 0 and 180"},
        {{"init", "render/shot_####.exr", "--output", "rgb.exr/s.toml"},
         "scene '" + dir / "rgb.exr/s.toml" + "': '" + dir / "rgb.exr" + "' is not a folder"},
        {{"init", "render/shot_####.exr", "--output", "new/s.toml", "--fov", "x"},
         "--fov 'x': expected a number between 0 and 180"},
        {{"init", "odd\xff/shot_####.exr", "--frames", "1-1", "--output", "new/s.toml"},
         "scene '" + dir / "new/s.toml" +
             "': key 'passes.file' '../odd\\xff/shot_####.exr' is not UTF-8 text"},
        {{"init", "render/shot_####.exr", "--display", "sRGB"}, "--display needs --view"},
        {{"init", "render/shot_####.exr", "--look", "Punchy"}, "--look needs --view"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const auto r = runIn(dir, c.args);
        EXPECT_EQ(r.exitCode, 1);
        ASSERT_EQ(r.errLines().size(), 1u) << r.err;
        EXPECT_EQ(r.errLines()[0].substr(0, c.error.size() + 7), "orvit: " + c.error);
        EXPECT_FALSE(fs::exists(dir / "scene.toml"));
        EXPECT_FALSE(fs::exists(dir / "scene-glow.txt"));
        EXPECT_FALSE(fs::exists(dir / "new"));
    }
    // A scene of that name, or settings beside it, are never overwritten.
    dir.write("scene-glow.txt", "mine\n");
    const auto r = runIn(dir, {"init", "render/shot_####.exr"});
    EXPECT_EQ(r.errLines(), std::vector<std::string>{
                                "orvit: '" + dir / "scene-glow.txt" +
                                "' already exists; orvit init writes a new scene and its settings "
                                "(remove it, give --output another name, or --update)"});
    EXPECT_EQ(testsupport::readAll(dir / "scene-glow.txt"), "mine\n");
    EXPECT_FALSE(fs::exists(dir / "scene.toml"));
}

// Frame `frame` of writeShot's, as a renderer writes its passes to files
// of their own under `folder`: those channels named `keep` (all but none:
// every channel) go to NAME_000F.exr with `rename` for their names.
void writePassFile(const testsupport::TempFolder& dir, const std::string& name, int frame,
                   const std::vector<std::pair<std::string, std::string>>& keep) {
    const testsupport::RenderedBox one{1, 20, 20, 60, 60, 5.0};
    std::vector<testsupport::Channel> channels;
    for (testsupport::Channel& c : testsupport::rendererChannels(
             kWidth, kHeight, {one, {frame < 3 ? 2 : 3, 120, 30, 160, 70, 8.0}}))
        for (const auto& [from, to] : keep)
            if (c.name == from) {
                c.name = to;
                channels.push_back(std::move(c));
            }
    fs::create_directories(dir.path() / "split");
    testsupport::writeChannels(dir / ("split/" + name + "_000" + std::to_string(frame) + ".exr"),
                               kWidth, kHeight, channels);
}

const std::vector<std::pair<std::string, std::string>> kBeauty = {
    {"ViewLayer.Combined.A", "A"},        {"ViewLayer.Combined.B", "B"},
    {"ViewLayer.Combined.G", "G"},        {"ViewLayer.Combined.R", "R"},
    {"ViewLayer.DiffCol.R", "diffuse.R"}, {"ViewLayer.Normal.X", "N.X"}};
const std::vector<std::pair<std::string, std::string>> kId = {{"ViewLayer.IndexOB.X", "object_id"}};
const std::vector<std::pair<std::string, std::string>> kDepth = {{"ViewLayer.Depth.Z", "Z"}};

// Colour, object index and depth each in a file of its own render byte for
// byte as from the one multilayer file; init names each file in its summary
// and makes the folder of the scene.
TEST(OrvitInit, PassesInSeveralFilesRenderAsPassesInOneFile) {
    testsupport::TempFolder dir;
    writeShot(dir);
    for (int frame : {1, 2, 3}) {
        writePassFile(dir, "beauty", frame, kBeauty);
        writePassFile(dir, "id", frame, kId);
        writePassFile(dir, "depth", frame, kDepth);
    }
    const auto one = runIn(dir, {"init", "render/shot_####.exr", "--output", "one/scene.toml"});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    EXPECT_TRUE(fs::exists(dir / "one/scene-glow.txt"));
    const auto split = runIn(dir, {"init", "split/depth_####.exr", "split/beauty_####.exr",
                                   "split/id_####.exr", "--output", "split.toml"});
    ASSERT_EQ(split.exitCode, 0) << split.err;
    EXPECT_THAT(split.out,
                HasSubstr("frames 1-3, 200x100: colour R, G, B, A in split/beauty_####.exr; "
                          "special object_id in split/id_####.exr (values 1, 2, 3); depth Z "
                          "in split/depth_####.exr (empty background far)"));
    EXPECT_THAT(testsupport::readAll(dir / "split.toml"),
                HasSubstr("colour = \"split/beauty_####.exr\"\nspecial = \"split/id_####.exr\"\n"
                          "depth = \"split/depth_####.exr\"\n"));
    ASSERT_EQ(runIn(dir, {"render", "one/scene.toml", "--output", "a/####.png"}).exitCode, 0);
    ASSERT_EQ(runIn(dir, {"render", "split.toml", "--output", "b/####.png"}).exitCode, 0);
    for (const char* frame : {"/0001.png", "/0002.png", "/0003.png"})
        EXPECT_EQ(testsupport::readAll(dir / (std::string("a") + frame)),
                  testsupport::readAll(dir / (std::string("b") + frame)))
            << frame;

    // Whatever keeps the files from being one frame's passes is one line.
    writePassFile(dir, "short", 1, kId);
    writePassFile(dir, "short", 2, kId);
    writePassFile(dir, "normals", 1, {{"ViewLayer.Normal.X", "N.X"}});
    testsupport::writeChannels(
        dir / "split/small_0001.exr", 20, 10,
        {{"object_id", OIIO::TypeDesc::FLOAT, std::vector<double>(200, 1.0)}});
    const std::string beauty1 = "frame 1 '" + dir / "split/beauty_0001.exr" + "'";
    struct Case {
        std::vector<std::string> args;
        std::string error; // after "orvit: "
    } cases[] = {
        {{"init", "split/beauty_####.exr", "render/shot_####.exr"},
         "colour pass: both " + beauty1 + " (R, G, B, A) and frame 1 '" +
             dir / "render/shot_0001.exr" +
             "' (ViewLayer.Combined.R, ViewLayer.Combined.G, ViewLayer.Combined.B, "
             "ViewLayer.Combined.A) offer it; leave one file out, or pick with --colour-channels "
             "R,G,B[,A]"},
        {{"init", "split/beauty_####.exr", "split/short_####.exr"},
         "'split/short_####.exr' has frames 1-2 but 'split/beauty_####.exr' has frames 1-3; give "
         "--frames A-B"},
        {{"init", "split/beauty_####.exr", "split/small_0001.exr", "--frames", "1"},
         "frame 1 '" + dir / "split/small_0001.exr" + "' is 20x10 but " + beauty1 + " is 200x100"},
        {{"init", "split/beauty_####.exr", "split/id_####.exr", "split/normals_0001.exr",
          "--frames", "1"},
         "frame 1 '" + dir / "split/normals_0001.exr" +
             "': no channel is recognised as a colour, an object index or a depth (the file has "
             "N.X); leave the file out, or pick with --colour-channels R,G,B[,A], "
             "--special-channel NAME or --depth-channel NAME"},
        {{"init", "split/beauty_####.exr", "split/depth_####.exr"},
         "no file has a channel recognised as an object index (" + beauty1 +
             " has R, G, B, A, N.X, diffuse.R; frame 1 '" + dir / "split/depth_0001.exr" +
             "' has Z); pick with --special-channel NAME"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--output", "bad.toml"});
        const auto r = runIn(dir, args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.errLines(), std::vector<std::string>{"orvit: " + c.error});
        EXPECT_FALSE(fs::exists(dir / "bad.toml"));
    }
}

// Without a depth pass init writes a scene that renders the Fixed glows and
// says what the depth modes need; two scenes share a folder.
TEST(OrvitInit, WithoutADepthPassTheSceneRendersItsFixedGlows) {
    testsupport::TempFolder dir;
    for (int frame : {1, 2}) {
        writePassFile(dir, "beauty", frame, kBeauty);
        writePassFile(dir, "id", frame, kId);
        std::vector<std::pair<std::string, std::string>> both = kBeauty;
        both.insert(both.end(), kId.begin(), kId.end());
        writePassFile(dir, "all", frame, both);
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"init", "split/beauty_####.exr", "split/id_####.exr", "--output",
                                   "a.toml"},
          {"init", "split/all_####.exr", "--output", "b.toml"}}) {
        SCOPED_TRACE(args[1]);
        const auto init = runIn(dir, args);
        ASSERT_EQ(init.exitCode, 0) << init.err;
        EXPECT_THAT(init.out,
                    HasSubstr("; depth none (the Depth and G-Depth modes need a depth pass)\n"));
        const auto render = runIn(dir, {"render", args.back()});
        ASSERT_EQ(render.exitCode, 0) << render.err;
    }
    EXPECT_TRUE(fs::exists(dir / "a-glow.txt"));
    EXPECT_TRUE(fs::exists(dir / "b-glow.txt"));
    EXPECT_EQ(testsupport::readAll(dir / "glow/beauty_0002.png"),
              testsupport::readAll(dir / "glow/all_0002.png"));
}

// init says which colour transform it wrote; --display, --view and --look
// write a view of an OpenColorIO configuration instead, checked first.
TEST(OrvitInit, WritesTheRenderersViewWhenGivenOne) {
    testsupport::TempFolder dir;
    writeShot(dir);
    dir.write("root.ocio", testsupport::kSquareRootOcioConfig);
    const auto plain = runIn(dir, {"init", "render/shot_####.exr", "--output", "s.toml"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_THAT(plain.out,
                HasSubstr("colour: the sRGB formula (transform = \"srgb\"); for the "
                          "renderer's own view, such as Filmic with a look, give --display, "
                          "--view and --look (OpenColorIO, with $OCIO or --ocio-config), or "
                          "set [colour] in s.toml\n"));
    const auto ocio = runIn(dir, {"init", "render/shot_####.exr", "--output", "o.toml", "--display",
                                  "screen", "--view", "root", "--ocio-config", "root.ocio"});
    ASSERT_EQ(ocio.exitCode, 0) << ocio.err;
    EXPECT_THAT(ocio.out, HasSubstr("colour: OpenColorIO display 'screen', view 'root' of '" +
                                    dir / "root.ocio" + "'\n"));
    EXPECT_THAT(testsupport::readAll(dir / "o.toml"),
                HasSubstr("[colour]\ntransform = \"ocio\"\nconfig = \"root.ocio\"\n"
                          "display = \"screen\"\nview = \"root\"\n"));
    ASSERT_EQ(runIn(dir, {"render", "o.toml", "--frames", "1"}).exitCode, 0);
    // The sky's linear red 0.2 through the square root: 0.447, byte 114.
    EXPECT_EQ(readColourPass(dir / "glow/shot_0001.png", {}).red[90 * kWidth + 90], 114);

    const auto noConfig = testsupport::runShell(
        "cd " + testsupport::shellQuoted(dir.path().string()) + " && env -u OCIO " +
            testsupport::orvitCommand({"init", "render/shot_####.exr", "--output", "n.toml",
                                       "--display", "screen", "--view", "root"}),
        dir / "", "/dev/null");
    EXPECT_EQ(noConfig.errLines(),
              std::vector<std::string>{"orvit: --display and --view need an OpenColorIO "
                                       "configuration: give --ocio-config FILE or set $OCIO"});
    const auto noView =
        runIn(dir, {"init", "render/shot_####.exr", "--output", "n.toml", "--display", "screen",
                    "--view", "Filmic", "--ocio-config", "root.ocio"});
    EXPECT_EQ(noView.errLines(),
              std::vector<std::string>{"orvit: --ocio-config '" + dir / "root.ocio" +
                                       "': OpenColorIO display 'screen' has no view 'Filmic' "
                                       "(it has root)"});
    EXPECT_FALSE(fs::exists(dir / "n.toml"));

    // A view alone is of the configuration's default display, named.
    const auto viewOnly = runIn(dir, {"init", "render/shot_####.exr", "--output", "v.toml",
                                      "--view", "root", "--ocio-config", "root.ocio"});
    ASSERT_EQ(viewOnly.exitCode, 0) << viewOnly.err;
    EXPECT_THAT(viewOnly.out,
                HasSubstr("colour: OpenColorIO display 'screen' (the configuration's default), "
                          "view 'root' of '"));
    EXPECT_THAT(testsupport::readAll(dir / "v.toml"), HasSubstr("display = \"screen\"\n"));

    // A LUT the view would open that is a named pipe is refused, never
    // waited on (the run is bounded, so that a wait fails the test).
    std::string piped = testsupport::kSquareRootOcioConfig;
    piped.replace(piped.find("    - !<View> {name: root, colorspace: root}"), 0,
                  "    - !<View> {name: lut, colorspace: lut}\n");
    piped += "  - !<ColorSpace> {name: lut, from_scene_reference: !<GroupTransform> {children: "
             "[!<FileTransform> {src: pipe.cube}]}}\n";
    dir.write("piped.ocio", "search_path: .\n" + piped);
    ASSERT_EQ(mkfifo((dir / "pipe.cube").c_str(), 0644), 0);
    const auto pipe = testsupport::runShell(
        "cd " + testsupport::shellQuoted(dir.path().string()) + " && timeout 20 " +
            testsupport::orvitCommand({"init", "render/shot_####.exr", "--output", "p.toml",
                                       "--display", "screen", "--view", "lut", "--ocio-config",
                                       "piped.ocio"}),
        dir / "", "/dev/null");
    EXPECT_EQ(pipe.errLines(), std::vector<std::string>{
                                   "orvit: --ocio-config '" + dir / "piped.ocio" +
                                   "': OpenColorIO display 'screen', view 'lut': LUT '" +
                                   dir / "pipe.cube" + "' is a named pipe, not a regular file"});
}

// Text from the files reaches the terminal escaped, as in every message:
// channel names that would set the window's title and clear the screen, an
// object name holding C1 controls.
TEST(OrvitInit, PrintsTheFilesTextEscaped) {
    testsupport::TempFolder dir;
    const auto f32 = OIIO::TypeDesc::FLOAT;
    const std::string red = "\x1b[2JR", depth = "Z\x1b]0;owned\x07";
    testsupport::writeChannels(dir / "esc.exr", 2, 1,
                               {{red, f32, {0, 0}},
                                {"G", f32, {0, 0}},
                                {"B", f32, {0, 0}},
                                {depth, f32, {1, 1}},
                                {"id", f32, {1, 0}}});
    const auto channels = runIn(dir, {"init", "esc.exr", "--colour-channels", red + ",G,B",
                                      "--special-channel", "id", "--depth-channel", depth});
    ASSERT_EQ(channels.exitCode, 0) << channels.err;
    EXPECT_THAT(channels.out, HasSubstr("colour \\x1b[2JR, G, B; special id (values 1); depth "
                                        "Z\\x1b]0;owned\\x07\n"));
    const std::string name = "Lamp\xc2\x9b"
                             "2J\xc2\x85";
    testsupport::writeCryptomatteFrame(dir / "c1.exr", 4, 4,
                                       {{{name.c_str(), cryptomatteId(name)}, 0, 0, 2, 2, 2.0}});
    const auto c1 = runIn(dir, {"init", "c1.exr", "--output", "c1.toml"});
    ASSERT_EQ(c1.exitCode, 0) << c1.err;
    EXPECT_THAT(c1.out, HasSubstr("Lamp\\u009b2J\\u0085"));
    EXPECT_EQ(c1.out.find("\xc2\x9b"), std::string::npos);
}

} // namespace
