// The windowed host against the headless one on the built Orvit.p: the same
// actions, done to the FLTK widgets or run as a script, leave the same saved
// settings and the same controls; the window shows the preview and the
// gradient strip exactly as the canvas holds them.
#include "tests/orvit/window/window_test_support.h"

#include "module/filter/color_ramp.h"
#include "orvit/panel/preview_picture.h"
#include "orvit/window/capture.h"
#include "orvit/window/panel_window.h"
#include "orvit/window/window_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using orvit::panel::Canvas;
using orvit::panel::parseScript;
using orvit::window::PanelWindow;
using orvit::window::WindowScriptDriver;
using orvit::window::WindowUser;
using windowtest::Opening;

const orvit::window::FrameSpan kFrames{1, 6, 24.0};

Opening openWindow(const std::string& script, bool withFrame, WindowScriptDriver::Colours colours,
                   std::string* error) {
    WindowUser user(kFrames);
    WindowScriptDriver driver(parseScript(script, "test"), user, colours);
    Opening out = windowtest::openPanel(user, windowtest::demoSettings(), withFrame);
    *error = driver.error();
    EXPECT_EQ(user.error(), "");
    return out;
}

TEST(WindowHost, EveryKindOfScriptedEditGivesTheHeadlessHostsSettingsAndControls) {
    REQUIRE_DISPLAY();
    struct Case {
        const char* name;
        const char* script;
        bool withFrame;
        bool changes; // the saved settings differ from the scene's
    };
    const Case cases[] = {
        {"boxes", "tick \"Enable Orvit\" off\ntick box left of \"Special Buffer\" off\nok", false,
         true},
        {"keys of another value",
         "choose \"Special Buffer\" 3\ntick key 3 box on\nset key 3 colour 10 200 30\n"
         "set key 3 position 45\nset key 1 position 5\ntick key 2 box off\nok",
         false, true},
        {"mode and typed fields",
         "choose \"Special Buffer\" 2\nchoose \"Mode\" G-Depth\ntype \"Distance\" 0.08\n"
         "type \"Transparency\" 42.5\nok",
         false, true},
        {"surface", "choose \"Surface\" Ring\nset key 1 colour 0 0 0\nok", false, true},
        {"copy and paste",
         "choose \"Special Buffer\" 2\npress \"Copy\"\nchoose \"Special Buffer\" 3\n"
         "press \"Paste\"\nok",
         false, true},
        {"size envelope accepted",
         "choose \"Special Buffer\" 2\n"
         "press button right of \"Distance\" then accept 0 0.02, 0.2 0.06, 0.1 0.04, 0.1 0.05\nok",
         false, true},
        {"envelope kept, then removed",
         "press button right of \"Transparency\" then cancel\n"
         "press button right of \"Transparency\" then remove\ntype \"Transparency\" 15\nok",
         false, true},
        {"comet's envelope replaced",
         "choose \"Special Buffer\" 4\npress button right of \"Distance\" then accept 0.1 0.05\n"
         "press button right of \"Transparency\" then accept 0 100, 0.25 0\nok",
         false, true},
        {"preview and display",
         "choose \"Special Buffer\" 3\npress \"Preview\"\nchoose popup right of \"Preview\" Depth\n"
         "tick \"1/2 res\" on\nok",
         true, false},
        {"edits cancelled",
         "tick \"Enable Orvit\" off\nchoose \"Special Buffer\" 4\nset key 2 colour 1 2 3\n"
         "type \"Transparency\" 99\ncancel",
         false, false},
    };
    const std::vector<std::string> scene = windowtest::demoSettings();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string headlessError;
        const Opening headless =
            windowtest::openHeadless(c.script, scene, c.withFrame, &headlessError);
        ASSERT_EQ(headlessError, "");
        EXPECT_EQ(headless.saved != scene, c.changes);
        for (auto colours :
             {WindowScriptDriver::Colours::Chooser, WindowScriptDriver::Colours::Fields}) {
            std::string error;
            const Opening window = openWindow(c.script, c.withFrame, colours, &error);
            EXPECT_EQ(error, "");
            EXPECT_TRUE(window.opened);
            EXPECT_EQ(window.saved, headless.saved);
            EXPECT_EQ(window.controls, headless.controls);
        }
    }
}

TEST(WindowHost, LinesThatCannotBeDoneCancelThePanelAsTheHeadlessHostDoes) {
    REQUIRE_DISPLAY();
    struct Case {
        const char* script;
        const char* error;
    };
    const Case cases[] = {
        {"tick \"Enable Orvit\" off\npress \"Preview\"\nok",
         "script 'test' line 2: press \"Preview\": the control is ghosted: a user cannot change "
         "it"},
        {"tick \"Enable Orvit\" off\ntype \"Transparency\" 20\nok",
         "script 'test' line 2: type \"Transparency\" 20: the control is ghosted: a user cannot "
         "change it"},
        {"press \"Copy\" then cancel\nok",
         "script 'test' line 1: press \"Copy\" then cancel: the line answers an envelope editor, "
         "but the press opened none"},
        {"press button right of \"Distance\"\nok",
         "script 'test' line 1: press button right of \"Distance\": the press opened the envelope "
         "editor \"Glow size envelope\", which the line does not answer"},
    };
    const std::vector<std::string> scene = windowtest::demoSettings();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        std::string error;
        const Opening window =
            openWindow(c.script, false, WindowScriptDriver::Colours::Chooser, &error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(window.saved, scene);
    }

    // The editor's window takes only values in the module's range.
    std::string error;
    const Opening window = openWindow("press button right of \"Distance\" then accept 0 0.5\nok",
                                      false, WindowScriptDriver::Colours::Chooser, &error);
    EXPECT_THAT(error,
                testing::HasSubstr("refused the key 0 0.5: Size takes values from 0 to 0.1"));
    EXPECT_EQ(window.saved, scene);
}

// The key controls of the panel as a setting, for the ramp the strip shows.
orvit::GlowSetting shownKeys(orvit::panel::Panel& panel) {
    orvit::GlowSetting s{};
    for (int k = 0; k < orvit::kColorKeyCount; ++k) {
        orvit::panel::ScriptTarget t;
        t.base = orvit::panel::ScriptTarget::Base::Key;
        t.key = k + 1;
        std::string why;
        t.part = "box";
        s.keyEnabled[k] = orvit::panel::resolveTarget(t, panel, &why)->value.integer;
        t.part = "position";
        s.keyPosition[k] = orvit::panel::resolveTarget(t, panel, &why)->value.integer;
        t.part = "colour";
        const auto rgb = orvit::panel::resolveTarget(t, panel, &why)->value.vector;
        s.keyRed[k] = rgb[0];
        s.keyGreen[k] = rgb[1];
        s.keyBlue[k] = rgb[2];
    }
    return s;
}

TEST(WindowHost, PreviewAndGradientStripShowTheCanvasPixelForPixel) {
    REQUIRE_DISPLAY();
    struct Case {
        const char* value;
        const char* display;
        const char* half;
    };
    // Each script ends with an action after which the module redraws the
    // panel, and so the headless canvas: the press of "Preview", or the
    // choice of a value.
    const Case cases[] = {
        {"3", "Preview", "off"}, {"3", "Preview", "on"}, {"1", "Color", "off"},
        {"2", "Depth", "off"},   {"4", "Special", "on"}, {"2", "Color", "on"},
    };
    for (const Case& c : cases) {
        const std::string display = c.display;
        const std::string lines = display == "Preview"
                                      ? std::string("choose \"Special Buffer\" ") + c.value +
                                            "\ntick \"1/2 res\" " + c.half + "\npress \"Preview\"\n"
                                      : "choose popup right of \"Preview\" " + display +
                                            "\ntick \"1/2 res\" " + c.half +
                                            "\nchoose \"Special Buffer\" " + c.value + "\n";
        SCOPED_TRACE(lines);
        std::string headlessError;
        const Opening headless = windowtest::openHeadless(lines + "ok", windowtest::demoSettings(),
                                                          true, &headlessError);
        ASSERT_EQ(headlessError, "");

        WindowUser user(kFrames);
        const orvit::panel::Script script = parseScript(lines + "cancel", "test");
        WindowScriptDriver driver(script, user);
        Canvas shot;
        orvit::GlowSetting keys{};
        int previewX = -1, previewY = -1, stripX = -1, stripY = -1;
        user.onOpen = [&](PanelWindow& w) {
            for (size_t i = 0; i + 1 < script.actions.size(); ++i)
                ASSERT_TRUE(driver.perform(w, script.actions[i])) << driver.error();
            shot = orvit::window::captureWindow(w);
            keys = shownKeys(w.panel());
            if (const auto* preview = orvit::panel::findPreviewArea(w.panel())) {
                previewX = preview->originX();
                previewY = preview->originY();
            }
            for (const auto& control : w.panel().controls())
                if (control->type() == orvit::panel::ControlType::Area &&
                    control->description().areaHeight == 10) {
                    stripX = control->originX();
                    stripY = control->originY();
                }
            w.cancelButton()->do_callback();
        };
        windowtest::openPanel(user, windowtest::demoSettings(), true);
        ASSERT_GE(previewX, 0);
        ASSERT_GE(stripX, 0);

        EXPECT_EQ(windowtest::firstDifference(shot, headless.canvas, previewX, previewY,
                                              orvit::panel::kPreviewWidth,
                                              orvit::panel::kPreviewHeight),
                  "");
        // Something was drawn: the picture is not the bare background.
        EXPECT_NE(headless.canvas.pixel(previewX + 100, previewY + 100),
                  orvit::panel::kCanvasBackground);

        orvit::ColorRamp ramp{};
        ASSERT_NE(orvit::buildColorRamp(&ramp, &keys, 500), nullptr);
        ASSERT_GE(ramp.keyCount, 2);
        for (int i = 0; i < 500; ++i)
            for (int row = 0; row < 10; ++row) {
                const std::array<uint8_t, 3> expected = {ramp.red[i], ramp.green[i], ramp.blue[i]};
                ASSERT_EQ(shot.pixel(stripX + i, stripY + row), expected)
                    << "strip column " << i << " row " << row;
            }
        orvit::freeColorRamp(&ramp);
    }
}

} // namespace
