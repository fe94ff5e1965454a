// orvit edit without a panel to show, with bad scripts, and the write-back of
// the settings: inline in the scene or in their own file, through a
// temporary file and a rename.
#include "app/run_command.h"
#include "app/temp_folder.h"
#include "standin/app/app_error.h"
#include "standin/app/edit.h"
#include "standin/core/line_io.h"

#include <gtest/gtest.h>
#include <toml++/toml.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using orvit::app::AppError;
using orvit::app::replaceFile;
using orvit::app::replaceInlineSettings;

namespace {

const std::vector<std::string> kNewLines = {"v 04", "1 1", "3 1 2 0.080000 35.000000", "0 0",
                                            "1 255 128 0 0"};

std::vector<std::string> settingsOf(const std::string& text) {
    const toml::table root = toml::parse(text);
    return orvit::standin::splitLines(root["filter"]["settings"].value_or(std::string()));
}

TEST(EditWriteBack, InlineSettingsAreReplacedAndEveryOtherByteKept) {
    struct Case {
        const char* name;
        std::string before; // the text up to the settings value
        std::string value;  // the settings value as written
        std::string after;  // the rest
        std::vector<std::string> lines;
    };
    const std::string head = "# scène\n[camera]\nfov = 60 # wide\n[filter]\nsettings = ";
    const Case cases[] = {
        {"literal", head, "'''\nv 04\n0 0\n'''",
         "   # the module's lines: é\n[frames]\nfirst = 1\n", kNewLines},
        {"basic", head, "\"v 04\\n0 0\\n\"", "\n[frames] # é\nfirst = 1", kNewLines},
        {"last", head, "'''v 04\n0 0'''", "", kNewLines},
        {"inline table", "filter = { settings = ", "\"v 04\\n0 0\"",
         ", note = 'x' }\n[camera]\nfov = 60\n", kNewLines},
        {"lines a literal cannot hold",
         head,
         "'''v 04'''",
         "\n",
         {"v 04", "a ''' b", "tab\there", "quote \" and \\ back"}},
        {"no lines", head, "'''v 04'''", "\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = c.before + c.value + c.after;
        const std::string out = replaceInlineSettings(text, "s.toml", c.lines);
        EXPECT_EQ(out.substr(0, c.before.size()), c.before);
        EXPECT_EQ(out.substr(out.size() - c.after.size()), c.after);
        EXPECT_EQ(settingsOf(out), c.lines) << out;
    }

    std::string error;
    try {
        replaceInlineSettings("[filter]\nsettings_file = 'g.txt'\n", "s.toml", kNewLines);
    } catch (const AppError& e) {
        error = e.what();
    }
    EXPECT_EQ(error, "scene 's.toml': key 'filter.settings' is no longer there");
}

TEST(EditWriteBack, ReplaceFileSwapsTheWholeFileKeepingItsPermissions) {
    apptest::TempFolder dir;
    dir.write("glow.txt", "old\n");
    fs::permissions(dir / "glow.txt",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    replaceFile(dir / "glow.txt", "new\nlines\n");
    EXPECT_EQ(apptest::readAll(dir / "glow.txt"), "new\nlines\n");
    EXPECT_EQ(fs::status(dir / "glow.txt").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(dir.files(), std::vector<std::string>{"glow.txt"});

    // Failures name the file and leave what was there, and no temporary.
    fs::create_directory(dir / "folder");
    dir.write("folder/keep", "kept");
    const std::string cases[] = {dir / "missing/glow.txt", dir / "folder"};
    for (const std::string& path : cases) {
        SCOPED_TRACE(path);
        std::string error;
        try {
            replaceFile(path, "new\n");
        } catch (const AppError& e) {
            error = e.what();
        }
        EXPECT_EQ(error.rfind("'" + path + "' cannot be replaced: ", 0), 0u) << error;
    }
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"folder", "glow.txt"}));
    EXPECT_EQ(apptest::readAll(dir / "folder/keep"), "kept");
}

#ifdef ORVIT_PROGRAM

// A scene for orvit edit: no passes are read, so none need exist.
std::string sceneText(const std::string& objects, const std::string& filter) {
    return "[scene]\nobjects = [" + objects +
           "]\n[camera]\nfov = 60\n[frames]\nfirst = 1\nlast = 1\n"
           "[passes]\nfile = 'beauty.####.exr'\n[output]\nfile = 'out/o.####.png'\n"
           "[filter]\n" +
           filter;
}

const char* const kInline = "settings = '''v 04\n1 0\n'''\n";

TEST(OrvitEdit, WithoutSpecialValuesPrintsTheModulesMessageAndWritesNothing) {
    apptest::TempFolder dir;
    dir.write("s.toml", sceneText("", kInline));
    dir.write("f.toml", sceneText("", "settings_file = 'glow.txt'\n"));
    dir.write("glow.txt", "v 04\n0 0\n");
    dir.write("ok.txt", "tick \"Enable Orvit\" on\nok\n");
    for (const char* scene : {"s.toml", "f.toml"}) {
        SCOPED_TRACE(scene);
        const auto r =
            apptest::runOrvit({"edit", dir / scene, "--script", dir / "ok.txt"}, dir / "");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "There is no Special buffer.\nPlease set any Special buffers.\n");
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(apptest::readAll(dir / "s.toml"), sceneText("", kInline));
    EXPECT_EQ(apptest::readAll(dir / "glow.txt"), "v 04\n0 0\n");
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"f.toml", "glow.txt", "ok.txt", "s.toml"}));
}

TEST(OrvitEdit, BadScriptsAndScenesGiveOneLineAndWriteNothing) {
    apptest::TempFolder dir;
    dir.write("s.toml", sceneText("", kInline));
    dir.write("bad.txt", "tick \"Enable Orvit\" on\nchoose \"Mode\"\nok\n");
    dir.write("stdin.txt", "ok\nok\n");
    dir.write("ok.txt", "ok\n");
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string error; // the line's start, after "orvit: "
    };
    const Case cases[] = {
        {{"--script", dir / "bad.txt"},
         "/dev/null",
         "script '" + dir / "bad.txt" + "' line 2: choose \"Mode\": expected the item to choose"},
        {{"--script", "-"}, dir / "stdin.txt", "script '-' line 2: ok: the script ended at line 1"},
        {{"--script", dir / "none.txt"},
         "/dev/null",
         "script '" + dir / "none.txt" + "' cannot be read: no such file"},
        {{"--script", dir / "ok.txt", "--module", dir / "none.p"},
         "/dev/null",
         dir / "none.p" + ": cannot open module file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        std::vector<std::string> args = {"edit", dir / "s.toml"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = apptest::runOrvit(args, dir / "", c.input);
        EXPECT_EQ(r.exitCode, 1);
        const auto lines = r.errLines();
        ASSERT_EQ(lines.size(), 1u) << r.err;
        EXPECT_EQ(lines[0].substr(0, c.error.size() + 7), "orvit: " + c.error);
    }
    EXPECT_EQ(apptest::readAll(dir / "s.toml"), sceneText("", kInline));
}

TEST(OrvitEdit, WithoutADisplayTheWindowIsRefusedInOneLineNamingScript) {
    apptest::TempFolder dir;
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
        const auto r = apptest::runOrvit({"edit", dir / "s.toml"}, dir / "");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.errLines(), std::vector<std::string>{c.error});
        EXPECT_EQ(r.out, "");
    }
    if (given != nullptr)
        setenv("DISPLAY", display.c_str(), 1);
    else
        unsetenv("DISPLAY");
    EXPECT_EQ(apptest::readAll(dir / "s.toml"), sceneText("", kInline));
}

// Settings the module did not take exactly are not opened: saving would drop
// or change what it did not read.
TEST(OrvitEdit, SettingsTheModuleDidNotTakeAreNotOpened) {
    apptest::TempFolder dir;
    dir.write("ok.txt", "ok\n");
    const std::string data = std::string(ORVIT_TEST_DATA) + "/settings/";
    struct Case {
        const char* file;
        std::string expected; // after "orvit: settings 'FILE': "
    } cases[] = {
        {"version-05.txt",
         "the module stopped reading at line 2 of 9 (\"1 1\"): lines 3 to 9 were not read"},
        {"keys-cut-short.txt", "the module read past the end, after line 6 of 6 "
                               "(\"0 255 255 255 20\"): the settings are cut short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string settings = data + c.file;
        const std::string before = apptest::readAll(settings);
        dir.write("s.toml", sceneText("", "settings_file = '" + settings + "'\n"));
        const auto r =
            apptest::runOrvit({"edit", dir / "s.toml", "--script", dir / "ok.txt"}, dir / "");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.errLines(),
                  std::vector<std::string>{"orvit: settings '" + settings + "': " + c.expected});
        EXPECT_EQ(apptest::readAll(settings), before);
    }
}

#endif

} // namespace
