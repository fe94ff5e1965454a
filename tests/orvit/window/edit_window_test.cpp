// orvit edit with the window at the panel: the settings written back are the
// headless host's, byte for byte, given the same actions.
#include "tests/orvit/window/window_test_support.h"

#include "orvit/commands/edit_command.h"
#include "orvit/window/window_driver.h"
#include "tests/support/demo_copy.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;
using orvit::commands::EditResult;

using testsupport::copyDemo;
using testsupport::readAll;

TEST(EditInWindow, WritesTheSettingsFileAsTheScriptedEditDoes) {
    REQUIRE_DISPLAY();
    testsupport::TempFolder dir;
    struct Case {
        const char* script;
        EditResult::Outcome outcome;
    };
    const Case cases[] = {
        {"choose \"Special Buffer\" 2\nchoose \"Mode\" Fixed\ntype \"Distance\" 0.045\n"
         "set key 2 colour 200 100 50\npress button right of \"Transparency\" then accept 0 80, "
         "0.25 20\nok",
         EditResult::Outcome::Written},
        {"tick \"Enable Orvit\" off\ncancel", EditResult::Outcome::Cancelled},
        {"ok", EditResult::Outcome::Unchanged},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const orvit::panel::Script script = orvit::panel::parseScript(c.script, "test");
        const std::string headlessScene = copyDemo(dir, "headless" + std::to_string(n));
        const std::string windowScene = copyDemo(dir, "window" + std::to_string(n++));

        const EditResult headless =
            orvit::commands::editScene(headlessScene, script, ORVIT_PLUGIN_FILE);
        orvit::window::WindowUser user({1, 6, 24.0});
        orvit::window::WindowScriptDriver driver(script, user);
        const EditResult window = orvit::commands::editScene(windowScene, user, ORVIT_PLUGIN_FILE);
        EXPECT_EQ(driver.error(), "");

        EXPECT_EQ(headless.outcome, c.outcome);
        EXPECT_EQ(window.outcome, c.outcome);
        EXPECT_EQ(window.lines, headless.lines);
        EXPECT_EQ(window.controls, headless.controls);
        const std::string headlessFile =
            readAll((fs::path(headlessScene).parent_path() / "glow.txt").string());
        EXPECT_EQ(readAll((fs::path(windowScene).parent_path() / "glow.txt").string()),
                  headlessFile);
        EXPECT_EQ(headlessFile != readAll(windowtest::demoFile("glow.txt")),
                  c.outcome == EditResult::Outcome::Written);
    }
}

} // namespace
