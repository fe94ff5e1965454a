// orvit edit without a panel to show, with bad scripts, and the write-back of
// the settings: inline in the scene or in their own file, through a
// temporary file and a rename.
#include "orvit/commands/edit_command.h"
#include "orvit/core/saved_lines.h"
#include "orvit/scene/scene_file.h"
#include "tests/support/demo_copy.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"
#include "tests/support/untaken_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

#ifdef ORVIT_PROGRAM

// A scene for orvit edit: no passes are read, so none need exist. Without
// objects it names an object file without surfaces, so that the panel finds
// no special value.
std::string sceneText(std::string objects, const std::string& filter) {
    if (objects.empty())
        objects = "'" ORVIT_TEST_DATA "/objects/empty.lwo'";
    return "[scene]\nobjects = [" + objects +
           "]\n[camera]\nfov = 60\n[frames]\nfirst = 1\nlast = 1\n"
           "[passes]\nfile = 'beauty.####.exr'\n[output]\nfile = 'out/o.####.png'\n"
           "[filter]\n" +
           filter;
}

const char* const kInline = "settings = '''v 04\n1 0\n'''\n";

TEST(OrvitEdit, WithoutSpecialValuesShowsTheModulesMessageWritesNothingAndFails) {
    testsupport::TempFolder dir;
    dir.write("s.toml", sceneText("", kInline));
    dir.write("f.toml", sceneText("", "settings_file = 'glow.txt'\n"));
    dir.write("glow.txt", "v 04\n0 0\n");
    dir.write("ok.txt", "tick \"Enable Orvit\" on\nok\n");
    for (const char* scene : {"s.toml", "f.toml"}) {
        SCOPED_TRACE(scene);
        const auto r =
            testsupport::runOrvit({"edit", dir / scene, "--script", dir / "ok.txt"}, dir / "");
        // Nothing was edited, which a script sees in the exit status.
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "There is no Special buffer.\nPlease set any Special buffers.\n");
        EXPECT_EQ(r.err, "orvit: scene '" + dir / scene +
                             "': the module showed its message instead of its panel; nothing "
                             "edited\n");
    }
    EXPECT_EQ(testsupport::readAll(dir / "s.toml"), sceneText("", kInline));
    EXPECT_EQ(testsupport::readAll(dir / "glow.txt"), "v 04\n0 0\n");
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"f.toml", "glow.txt", "ok.txt", "s.toml"}));
}

TEST(OrvitEdit, BadScriptsAndScenesGiveOneLineAndWriteNothing) {
    testsupport::TempFolder dir;
    dir.write("s.toml", sceneText("", kInline));
    dir.write("bad.txt", "tick \"Enable Orvit\" on\nchoose \"Mode\"\nok\n");
    dir.write("stdin.txt", "ok\nok\n");
    dir.write("ok.txt", "ok\n");
    // Files that are not regular: a pipe would hold the reader forever.
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    dir.write("missing-object.toml", sceneText("'none.lwo'", kInline));
    dir.write("pipe-object.toml", sceneText("'pipe'", kInline));
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string error; // the line's start, after "orvit: "
        std::string scene = "s.toml";
    };
    const Case cases[] = {
        {{"--script", dir / "bad.txt"},
         "/dev/null",
         "script '" + dir / "bad.txt" + "' line 2: choose \"Mode\": expected the item to choose"},
        {{"--script", "-"}, dir / "stdin.txt", "script '-' line 2: ok: the script ended at line 1"},
        {{"--script", dir / "none.txt"},
         "/dev/null",
         "script '" + dir / "none.txt" + "': does not exist"},
        {{"--script", dir / "pipe"},
         "/dev/null",
         "script '" + dir / "pipe" + "': is a named pipe, not a regular file"},
        {{"--script", dir / "ok.txt"},
         "/dev/null",
         "scene '" + dir / "missing-object.toml" + "': key 'scene.objects' names '" +
             dir / "none.lwo" + "', which does not exist",
         "missing-object.toml"},
        {{"--script", dir / "ok.txt"},
         "/dev/null",
         "scene '" + dir / "pipe-object.toml" + "': key 'scene.objects' names '" + dir / "pipe" +
             "', which is a named pipe, not a regular file",
         "pipe-object.toml"},
        {{"--script", dir / "ok.txt", "--module", dir / "none.p"},
         "/dev/null",
         dir / "none.p" + ": cannot open module file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        std::vector<std::string> args = {"edit", dir / c.scene};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = testsupport::runShell("timeout 60 " + testsupport::orvitCommand(args),
                                             dir / "", c.input);
        EXPECT_EQ(r.exitCode, 1);
        const auto lines = r.errLines();
        ASSERT_EQ(lines.size(), 1u) << r.err;
        EXPECT_EQ(lines[0].substr(0, c.error.size() + 7), "orvit: " + c.error);
    }
    EXPECT_EQ(testsupport::readAll(dir / "s.toml"), sceneText("", kInline));
}

TEST(OrvitEdit, WithoutADisplayTheWindowIsRefusedInOneLineNamingScript) {
    testsupport::TempFolder dir;
    dir.write("s.toml", sceneText("", kInline));
    const char* const given = std::getenv("DISPLAY");
    const std::string display = given != nullptr ? given : "";
    const std::string unset = "orvit: no display to open the panel's window on (DISPLAY is not "
                              "set); use --script FILE to work the panel from a script";
    struct Case {
        const char* display; // null: not set
        std::string error;
    };
    const Case cases[] = {
        {nullptr, unset},
        {"", unset},
        {":65000", "orvit: the display ':65000' cannot be opened; use --script FILE to work the "
                   "panel from a script"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        if (c.display != nullptr)
            setenv("DISPLAY", c.display, 1);
        else
            unsetenv("DISPLAY");
        const auto r = testsupport::runOrvit({"edit", dir / "s.toml"}, dir / "");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.errLines(), std::vector<std::string>{c.error});
        EXPECT_EQ(r.out, "");
    }
    if (given != nullptr)
        setenv("DISPLAY", display.c_str(), 1);
    else
        unsetenv("DISPLAY");
    EXPECT_EQ(testsupport::readAll(dir / "s.toml"), sceneText("", kInline));
}

// Settings the module did not take exactly are not opened: saving would drop
// or change what it did not read.
TEST(OrvitEdit, SettingsTheModuleDidNotTakeAreNotOpened) {
    testsupport::TempFolder dir;
    dir.write("ok.txt", "ok\n");
    // One load that stops early and one that reads past the end.
    for (const char* file : {"version-05.txt", "keys-cut-short.txt"}) {
        SCOPED_TRACE(file);
        const testsupport::UntakenSettings& untaken = testsupport::untakenSettings(file);
        const std::string settings = untaken.path();
        const std::string before = testsupport::readAll(settings);
        dir.write("s.toml", sceneText("", "settings_file = '" + settings + "'\n"));
        const auto r =
            testsupport::runOrvit({"edit", dir / "s.toml", "--script", dir / "ok.txt"}, dir / "");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.errLines(), std::vector<std::string>{untaken.errorLine()});
        EXPECT_EQ(testsupport::readAll(settings), before);
    }
}

TEST(OrvitEdit, ChangesEveryKindOfSettingInTheDemoSceneThenSettingsAndRenderShowIt) {
    testsupport::TempFolder dir;
    const std::string scene = testsupport::copyDemo(dir);
    const std::string sceneBefore = testsupport::readAll(scene);
    const auto first = testsupport::runOrvit(
        {"render", scene, "--frames", "5", "--output", dir / "before.####.png"}, dir / "");
    ASSERT_EQ(first.exitCode, 0) << first.err;

    dir.write("edit.txt", "# every kind of change\n"
                          "choose \"Special Buffer\" 2\n"
                          "set key 1 colour 10 200 30\n"
                          "set key 5 position 90\n"
                          "tick key 5 box on\n"
                          "choose \"Mode\" G-Fixed\n"
                          "type \"Distance\" 0.04\n"
                          "type \"Transparency\" 45\n"
                          "press button right of \"Distance\" then cancel\n"
                          "choose \"Surface\" Comet\n"
                          "choose \"Special Buffer\" 1\n"
                          "press button right of \"Transparency\" then accept 0 50, 0.25 5\n"
                          "press \"Copy\"\n"
                          "choose \"Special Buffer\" 3\n"
                          "press \"Paste\"\n"
                          "choose \"Special Buffer\" 4\n"
                          "press button right of \"Distance\" then remove\n"
                          "type \"Distance\" 0.02\n"
                          "tick box left of \"Special Buffer\" off\n"
                          "ok\n");
    const auto r = testsupport::runOrvit({"edit", scene, "--script", dir / "edit.txt"}, dir / "");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "OK: settings written to " + dir / "demo/glow.txt" + " (36 lines)\n");
    EXPECT_EQ(testsupport::readAll(scene), sceneBefore);
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"before.0005.png", "demo", "edit.txt"}));

    const std::vector<std::string> lines =
        orvit::core::splitLines(testsupport::readAll(dir / "demo/glow.txt"));
    const auto settings = testsupport::runOrvit({"settings", scene}, dir / "");
    ASSERT_EQ(settings.exitCode, 0) << settings.err;
    EXPECT_EQ(orvit::core::splitLines(settings.out), lines);
    // Buffer 1's transparency envelope and keys, which the paste gave buffer 3.
    const std::vector<std::string> pasted = {"0 1",
                                             "keys 2",
                                             "0 50",
                                             "0.25 5",
                                             "1 255 250 220 0",
                                             "1 255 220 90 25",
                                             "1 255 140 30 55",
                                             "1 180 40 10 85",
                                             "1 60 0 0 100"};
    std::vector<std::string> expected;
    for (const std::vector<std::string>& part :
         {std::vector<std::string>{"v 04", "1 4", "1 1 0 0.060000 35.000000"},
          pasted,
          {"2 1 2 0.040000 45.000000", "0 0", "1 10 200 30 0", "1 60 200 255 20", "1 0 110 255 60",
           "1 0 30 120 100", "1 255 255 255 90"},
          {"3 1 0 0.060000 35.000000"},
          pasted,
          {"4 0 3 0.020000 10.000000", "0 0", "1 255 255 255 0", "1 120 255 160 40",
           "1 0 120 255 100", "0 255 255 255 60", "0 255 255 255 80"}})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(lines, expected);

    const auto after = testsupport::runOrvit(
        {"render", scene, "--frames", "5", "--output", dir / "after.####.png"}, dir / "");
    ASSERT_EQ(after.exitCode, 0) << after.err;
    EXPECT_NE(testsupport::readAll(dir / "after.0005.png"),
              testsupport::readAll(dir / "before.0005.png"));

    // The same script ending in Cancel writes nothing.
    std::string text = testsupport::readAll(dir / "edit.txt");
    text.replace(text.rfind("ok\n"), 3, "cancel\n");
    dir.write("cancel.txt", text);
    const std::string glow = testsupport::readAll(dir / "demo/glow.txt");
    const auto cancelled =
        testsupport::runOrvit({"edit", scene, "--script", dir / "cancel.txt"}, dir / "");
    ASSERT_EQ(cancelled.exitCode, 0) << cancelled.err;
    EXPECT_EQ(cancelled.out, "Cancel: nothing written\n");
    EXPECT_EQ(testsupport::readAll(dir / "demo/glow.txt"), glow);
    EXPECT_EQ(testsupport::readAll(scene), sceneBefore);
}

TEST(OrvitEdit, WritesInlineSettingsBackIntoTheSceneAndNothingElse) {
    testsupport::TempFolder dir;
    const std::string scene = testsupport::copyDemo(dir);
    std::string text = testsupport::readAll(scene);
    const std::string glow = testsupport::readAll(dir / "demo/glow.txt");
    text.replace(text.find("settings_file = \"glow.txt\""), 26,
                 "settings = '''\n" + glow + "'''   # inline");
    dir.write("demo/scene.toml", text);
    // Edited through a symlink, the scene it names takes the settings and the
    // link stays.
    const std::string link = dir / "demo/shot.toml";
    fs::create_symlink("scene.toml", link);
    dir.write("s.txt", "choose \"Special Buffer\" 2\ntype \"Transparency\" 12\nok\n");
    const auto r = testsupport::runOrvit({"edit", link, "--script", "-"}, dir / "", dir / "s.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string expected = text;
    const auto at = expected.find("2 1 1 0.700000 60.000000");
    expected.replace(at, 24, "2 1 1 0.700000 12.000000");
    EXPECT_EQ(testsupport::readAll(scene), expected);
    EXPECT_TRUE(fs::is_symlink(link));

    dir.write("cancel.txt", "choose \"Special Buffer\" 3\ntype \"Transparency\" 30\ncancel\n");
    const auto cancelled =
        testsupport::runOrvit({"edit", scene, "--script", dir / "cancel.txt"}, dir / "");
    ASSERT_EQ(cancelled.exitCode, 0) << cancelled.err;
    EXPECT_EQ(cancelled.out, "Cancel: nothing written\n");
    EXPECT_EQ(testsupport::readAll(scene), expected);
}

#endif

} // namespace
