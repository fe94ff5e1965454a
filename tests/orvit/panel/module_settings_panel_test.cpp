// The settings panel of the built Orvit.p, opened through the interface
// activation on the stand-in's headless panel host, with scripts at it.
#include "module_panel.h"
#include "orvit/core/envelopes.h"
#include "orvit/core/memory_frame.h"
#include "orvit/panel/panel_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

using namespace orvit::core;
using namespace orvit::panel;
using paneltest::Opened;

// One setting line and its five key lines, as the module saves them; envelope
// lines go between.
std::vector<std::string> defaultSetting(int value) {
    return {std::to_string(value) + " 0 0 0.050000 50.000000",
            "0 0",
            "1 255 255 255 0",
            "0 255 255 255 20",
            "0 255 255 255 40",
            "0 255 255 255 60",
            "0 255 255 255 80"};
}

// Value 3 with a size envelope and two keys; value 12 in G-Fixed.
const std::vector<std::string> kSettings = {"v 04",
                                            "1 2",
                                            "3 1 0 0.060000 30.000000",
                                            "1 0",
                                            "keys 2",
                                            "0 0.040000000000000001",
                                            "1 0.089999999999999997",
                                            "1 255 40 10 0",
                                            "1 20 60 255 100",
                                            "0 255 255 255 40",
                                            "0 255 255 255 60",
                                            "0 255 255 255 80",
                                            "12 0 2 0.080000 75.000000",
                                            "0 0",
                                            "1 255 255 255 0",
                                            "0 255 255 255 20",
                                            "1 255 0 0 40",
                                            "0 255 255 255 60",
                                            "1 0 0 90 100"};

// The lines of `value`'s setting within saved lines: from its setting line
// to the last of its key lines.
std::vector<std::string> settingOf(const std::vector<std::string>& saved, int value) {
    const std::string start = std::to_string(value) + " ";
    for (size_t i = 2; i < saved.size(); ++i) {
        if (saved[i].rfind(start, 0) != 0 || saved[i].size() < 20)
            continue;
        size_t end = i + 2;
        for (const char flag : {saved[i + 1][0], saved[i + 1][2]})
            if (flag == '1')
                end += 1 + std::stoul(saved[end].substr(5));
        return {saved.begin() + static_cast<std::ptrdiff_t>(i),
                saved.begin() + static_cast<std::ptrdiff_t>(end + 5)};
    }
    return {};
}

class SettingsPanel : public paneltest::ModulePanelTest {
  protected:
    Instance loaded(const std::vector<std::string>& lines = kSettings) {
        return ModulePanelTest::loaded(lines);
    }
    // The script ran and opened one envelope editor: its title and label,
    // values 0 to `high`, a rest value of zero.
    static void expectOneEditor(const Opened& o, const std::string& title, const std::string& label,
                                float high) {
        ASSERT_EQ(o.error, "");
        ASSERT_EQ(o.editor.size(), 1u);
        EXPECT_EQ(o.editor[0].title, title);
        EXPECT_EQ(o.editor[0].label, label);
        EXPECT_EQ(o.editor[0].low, 0.0f);
        EXPECT_EQ(o.editor[0].high, high);
        EXPECT_TRUE(o.editor[0].restZero);
    }
};

TEST_F(SettingsPanel, ThirtyFiveControlsPlacedByTheHostAndMovedByTheModule) {
    Instance instance = loaded();
    const Opened o = open(instance, "ok\n");
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.answer, 1);
    // Type, label, descriptor, final place (x y width height), value, state.
    // Unmoved controls stand where the host put them: x 10, 4 below the
    // lowest; the others follow the module's formulas from those.
    EXPECT_EQ(o.controls,
              (std::vector<std::string>{
                  "1 BoolControl \"Enable Orvit\" bool at 10 10 110 20 value 1",
                  "2 BoolControl \"\" bool at 10 34 20 20 value 1",
                  "3 PopupControl \"Special Buffer\" list 3 [\"  3 \", \"  7 \", \" 12 \"] at 30 "
                  "34 164 20 value 0",
                  "4 PopupControl \"Surface\" list 3 [\"Alpha\", \"Beta\", \"Gamma\"] at 214 34 "
                  "118 20 value 1",
                  "5 ButtonControl \"Copy\" button at 372 34 44 20 value 0",
                  "6 ButtonControl \"Paste\" button at 416 34 51 20 value 0",
                  "7 BoolControl \"\" bool at 10 58 20 20 value 1",
                  "8 MiniRGBControl \"\" rgb at 30 58 128 20 value 255 40 10",
                  "9 MiniSliderControl \"Position\" range 100 0 100 at 158 58 202 20 value 0",
                  "10 BoolControl \"\" bool at 10 82 20 20 value 1",
                  "11 MiniRGBControl \"\" rgb at 30 82 128 20 value 20 60 255",
                  "12 MiniSliderControl \"Position\" range 100 0 100 at 158 82 202 20 value 100",
                  "13 BoolControl \"\" bool at 10 106 20 20 value 0",
                  "14 MiniRGBControl \"\" rgb at 30 106 128 20 value 255 255 255",
                  "15 MiniSliderControl \"Position\" range 100 0 100 at 158 106 202 20 value 40",
                  "16 BoolControl \"\" bool at 10 130 20 20 value 0",
                  "17 MiniRGBControl \"\" rgb at 30 130 128 20 value 255 255 255",
                  "18 MiniSliderControl \"Position\" range 100 0 100 at 158 130 202 20 value 60",
                  "19 BoolControl \"\" bool at 10 154 20 20 value 0",
                  "20 MiniRGBControl \"\" rgb at 30 154 128 20 value 255 255 255",
                  "21 MiniSliderControl \"Position\" range 100 0 100 at 158 154 202 20 value 80",
                  "22 AreaControl \"\" area 500 10 at 10 178 500 10 value 0",
                  "23 TextControl \"Mode\" text [\"\"] at 266 192 34 20 value 0",
                  "24 TextControl \"Distance\" text [\"\"] at 266 216 62 20 value 0",
                  "25 TextControl \"Transparency\" text [\"\"] at 266 240 90 20 value 0",
                  "26 ChoiceControl \"\" list 0 [\"Fixed\", \"Depth\", \"G-Fixed\", \"G-Depth\"] "
                  "at 356 192 272 20 value 0",
                  "27 FloatControl \"\" float at 350 216 80 20 value 0.059999999999999998 "
                  "ghosted",
                  "28 BoolButtonControl \"E\" bool at 430 216 24 20 value 1",
                  "29 PercentControl \"\" range 100 0 100 at 356 240 140 20 value 30",
                  "30 BoolButtonControl \"E\" bool at 496 240 24 20 value 0",
                  "31 AreaControl \"\" area 256 192 at 0 192 256 192 value 0",
                  "32 AreaControl \"\" area 256 5 at 0 384 256 5 value 0",
                  "33 ButtonControl \"Preview\" button at 0 394 65 20 value 0 ghosted",
                  "34 PopupControl \"\" list 3 [\"Color\", \"Depth\", \"Special\", \"Preview\"] at "
                  "65 394 77 20 value 0 ghosted",
                  "35 BoolControl \"1/2 res\" bool at 142 394 75 20 value 0",
              }));
    // The height read after the strip (its bottom + 10) plus 252.
    EXPECT_EQ(o.panel->height(), 188 + 10 + 252);
    EXPECT_EQ(host.panelHost.events.front(), "create Orvit by Tesk Ver 0.4beta");
    EXPECT_EQ(host.panelHost.events.back(), "destroy");
}

// The host places each control by its rule as it is added; the module then
// moves some by formulas over the controls as they stand at that moment, and
// the mode rows once all exist. Replayed here from the host's own sizes.
TEST_F(SettingsPanel, PositionsFollowTheModulesFormulasFromTheHostsPlacement) {
    Instance instance = loaded();
    const Opened o = open(instance, "ok\n");
    const auto& made = o.panel->controls();
    ASSERT_EQ(made.size(), 35u);
    struct Place {
        int32_t x, y, w, h;
    };
    std::vector<Place> p;
    auto at = [&](int n) -> Place& { return p.at(static_cast<size_t>(n) - 1); };
    auto bottom = [&](int last) {
        int32_t b = 0;
        for (int n = 1; n <= last; ++n)
            b = std::max(b, at(n).y + at(n).h);
        return b;
    };
    for (const auto& c : made) {
        const int n = c->index();
        const std::array<int32_t, 3> body = {
            labelWidth(c->type(), c->label()),
            controlBody(c->type(), c->description(), c->label())[0],
            controlBody(c->type(), c->description(), c->label())[1]};
        const int32_t y = p.empty() ? kPanelMargin : bottom(n - 1) + kPanelGap;
        p.push_back({kPanelMargin, y, body[0] + body[1], body[2]});
        Place& q = p.back();
        // Right of control `left`, on the row of control `row`, `gap` apart.
        auto rightOf = [&](int left, int32_t gap, int row) {
            q.x = at(left).x + at(left).w + gap;
            q.y = at(row).y;
        };
        const int keyPart = n >= 7 && n <= 21 ? (n - 7) % 3 : -1; // box, colour, slider
        if (n == 3 || n == 6)
            rightOf(n - 1, 0, 2);
        else if (n == 4)
            rightOf(3, 20, 2);
        else if (n == 5)
            rightOf(4, 40, 2);
        else if (keyPart > 0)
            rightOf(n - 1, 0, n - keyPart);
        else if (n == 31)
            q = {0, at(23).y, q.w, q.h};
        else if (n == 32)
            q = {at(31).x, at(31).y + at(31).h, q.w, q.h};
        else if (n == 33)
            q = {at(31).x, at(31).y + at(31).h + 10, q.w, q.h};
        else if (n == 34 || n == 35)
            rightOf(n - 1, 0, 33);
    }
    const int32_t column = at(23).x + at(31).w;
    for (int label : {23, 24, 25})
        at(label).x = column;
    const int32_t field = at(25).x + at(25).w;
    at(26).x = field;
    at(26).y = at(23).y;
    at(27).x = field - 6;
    at(27).y = at(24).y;
    at(28).x = field - 6 + at(27).w;
    at(28).y = at(24).y;
    at(29).x = field;
    at(29).y = at(25).y;
    at(30).x = field + at(29).w;
    at(30).y = at(25).y;

    for (const auto& c : made) {
        const Place& q = at(c->index());
        EXPECT_EQ((std::array<int32_t, 4>{c->x, c->y, c->width, c->height}),
                  (std::array<int32_t, 4>{q.x, q.y, q.w, q.h}))
            << "control " << c->index() << " " << c->label();
    }
    // The height the host reported after the strip, plus 252.
    EXPECT_EQ(o.panel->height(), bottom(22) + kPanelMargin + 252);
    EXPECT_EQ(control(o, 29).description().rangeWidth, 100);
}

TEST_F(SettingsPanel, OpensOnTheFirstValueWhoseNewSettingStaysOnlyAfterOk) {
    std::vector<std::string> lines = {"v 04", "0 1"};
    const std::vector<std::string> twelve = settingOf(kSettings, 12);
    lines.insert(lines.end(), twelve.begin(), twelve.end());

    for (const char* answer : {"ok", "cancel"}) {
        SCOPED_TRACE(answer);
        Instance instance = loaded(lines);
        const Opened o = open(instance, std::string(answer) + "\n");
        ASSERT_EQ(o.result, 0);
        const std::vector<std::string> saved = instance.save();
        if (std::string(answer) == "ok") {
            EXPECT_EQ(saved[1], "0 2");
            EXPECT_EQ(settingOf(saved, 3), defaultSetting(3));
        } else {
            EXPECT_EQ(saved, lines);
        }
        EXPECT_EQ(settingOf(saved, 12), twelve);
        EXPECT_EQ(describeValue(control(o, 4)), "1") << "Beta, the first surface carrying 3";
    }
}

TEST_F(SettingsPanel, SwitchingValuesStoresTheShownOneAndShowsTheOther) {
    Instance instance = loaded();
    const Opened o = open(instance, "choose \"Mode\" Depth\n"
                                    "set key 1 colour 1 2 3\n"
                                    "choose \"Special Buffer\" 7\n"
                                    "choose \"Mode\" G-Depth\n"
                                    "type \"Distance\" 0.125\n"
                                    "choose \"Special Buffer\" 12\n"
                                    "choose \"Special Buffer\" 3\n"
                                    "ok\n");
    ASSERT_EQ(o.error, "");
    // The panel shows 3's edits again, on its surface.
    EXPECT_EQ(describeValue(control(o, 26)), "1");
    EXPECT_EQ(describeValue(control(o, 8)), "1 2 3");
    EXPECT_EQ(describeValue(control(o, 4)), "1");
    EXPECT_TRUE(control(o, 27).ghosted) << "3 has a size envelope";
    const std::vector<std::string> saved = instance.save();
    EXPECT_EQ(settingOf(saved, 3)[0], "3 1 1 0.060000 30.000000");
    EXPECT_EQ(settingOf(saved, 3)[5], "1 1 2 3 0");
    // 7 was made with the defaults and kept its edits.
    std::vector<std::string> seven = defaultSetting(7);
    seven[0] = "7 0 3 0.125000 50.000000";
    EXPECT_EQ(settingOf(saved, 7), seven);
}

TEST_F(SettingsPanel, OkStoresTypedValuesAndTheBoxesActAtOnce) {
    struct Case {
        const char* script;
        const char* setting3Line; // the first line of 3's setting
        const char* enabledLine;  // line 2 of the saved settings
    };
    const Case cases[] = {
        {"type \"Transparency\" 12.5\nok\n", "3 1 0 0.060000 12.500000", "1 2"},
        {"press button right of \"Distance\" then remove\ntype \"Distance\" 0.0875\nok\n",
         "3 1 0 0.087500 30.000000", "1 2"},
        {"tick box left of \"Special Buffer\" off\nchoose \"Special Buffer\" 7\nok\n",
         "3 0 0 0.060000 30.000000", "1 3"},
        {"tick \"Enable Orvit\" off\nok\n", "3 1 0 0.060000 30.000000", "0 2"},
        {"type \"Transparency\" 12.5\ntick \"Enable Orvit\" off\ncancel\n",
         "3 1 0 0.060000 30.000000", "1 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        Instance instance = loaded();
        const Opened o = open(instance, c.script);
        ASSERT_EQ(o.error, "");
        const std::vector<std::string> saved = instance.save();
        EXPECT_EQ(saved[1], c.enabledLine);
        EXPECT_EQ(settingOf(saved, 3)[0], c.setting3Line);
    }
}

TEST_F(SettingsPanel, CancelRestoresEverythingButTheClipboard) {
    Instance instance = loaded();
    const Opened first = open(instance, "set key 2 colour 9 9 9\n"
                                        "choose \"Mode\" G-Fixed\n"
                                        "tick \"Enable Orvit\" off\n"
                                        "press button right of \"Distance\" then remove\n"
                                        "press button right of \"Transparency\" then accept 0 "
                                        "10, 1 90\n"
                                        "press \"Copy\"\n"
                                        "cancel\n");
    ASSERT_EQ(first.error, "");
    EXPECT_EQ(instance.save(), kSettings);

    // The copy made before Cancel is still on the clipboard.
    const Opened second = open(instance, "choose \"Special Buffer\" 7\npress \"Paste\"\nok\n");
    ASSERT_EQ(second.error, "");
    const std::vector<std::string> seven = settingOf(instance.save(), 7);
    ASSERT_EQ(seven.size(), 10u);
    EXPECT_EQ(seven[0], "7 1 2 0.060000 30.000000");
    EXPECT_EQ(seven[1], "0 1") << "size removed, transparency accepted";
    EXPECT_EQ(seven[6], "1 9 9 9 100");
    EXPECT_EQ(describeValue(control(second, 30)), "1");
    EXPECT_TRUE(control(second, 29).ghosted);
    EXPECT_FALSE(control(second, 27).ghosted);
}

// 7 has no setting until the switch makes one; 12 has its own, in another
// mode, off.
TEST_F(SettingsPanel, CopyOnOneValueAndPasteOnAnotherTakesAllButTheValue) {
    for (const char* target : {"7", "12"}) {
        SCOPED_TRACE(target);
        Instance instance = loaded();
        const Opened o = open(instance, std::string("press \"Copy\"\n"
                                                    "choose \"Special Buffer\" ") +
                                            target + "\npress \"Paste\"\nok\n");
        ASSERT_EQ(o.error, "");
        const std::vector<std::string> saved = instance.save();
        std::vector<std::string> expected = settingOf(saved, 3);
        expected[0] = target + expected[0].substr(1);
        EXPECT_EQ(settingOf(saved, std::stoi(target)), expected);
        EXPECT_TRUE(control(o, 27).ghosted) << "3's size envelope came along";
        EXPECT_EQ(describeValue(control(o, 2)), "1") << "and its on/off flag";
        EXPECT_EQ(describeValue(control(o, 8)), "255 40 10");
        EXPECT_EQ(describeValue(control(o, 3)), target == std::string("7") ? "1" : "2");
    }
}

TEST_F(SettingsPanel, TheGradientStripIsOneBoxForFewerThanTwoKeysElseFiveHundredColumns) {
    struct Case {
        const char* script;
        std::array<uint8_t, 3> first;  // the strip's first column
        std::array<uint8_t, 3> middle; // column 250, where key 2 at 50 % starts
    };
    const std::array<uint8_t, 3> grey = {112, 112, 112};
    const Case cases[] = {
        {"tick key 1 box off\ntick key 2 box off\nok\n", grey, grey},
        {"tick key 1 box off\nset key 2 colour 10 20 30\nok\n", {10, 20, 30}, {10, 20, 30}},
        {"set key 2 position 50\nset key 2 colour 20 60 255\nok\n", {255, 40, 10}, {20, 60, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        Instance instance = loaded();
        const Opened o = open(instance, c.script);
        ASSERT_EQ(o.error, "");
        const PanelControl& strip = control(o, 22);
        const Canvas& canvas = o.panel->canvas();
        const int32_t x = strip.originX(), y = strip.originY();
        EXPECT_EQ(canvas.pixel(x, y), c.first);
        EXPECT_EQ(canvas.pixel(x, y + 9), c.first);
        EXPECT_EQ(canvas.pixel(x + 250, y), c.middle);
        EXPECT_NE(canvas.pixel(x + 499, y), kCanvasBackground);
        EXPECT_EQ(canvas.pixel(x + 500, y), kCanvasBackground);
        EXPECT_EQ(canvas.pixel(x, y + 10), kCanvasBackground);
    }
}

TEST_F(SettingsPanel, TheEnvelopeButtonsFollowTheEditorsAnswer) {
    struct Case {
        const char* answer;
        std::vector<std::string> sizeLines; // flags line, then 3's size envelope
        bool ghosted;
        const char* button;
    };
    const Case cases[] = {
        {"accept 0 0.01, 2 0.1", {"1 0", "keys 2", "0 0.01", "2 0.10000000000000001"}, true, "1"},
        {"cancel",
         {"1 0", "keys 2", "0 0.040000000000000001", "1 0.089999999999999997"},
         true,
         "1"},
        {"remove", {"0 0"}, false, "0"},
        {"answer 7",
         {"1 0", "keys 2", "0 0.040000000000000001", "1 0.089999999999999997"},
         true,
         "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        const size_t envelopes = liveEnvelopes();
        {
            Instance instance = loaded();
            const Opened o =
                open(instance,
                     std::string("press button right of \"Distance\" then ") + c.answer + "\nok\n");
            ASSERT_NO_FATAL_FAILURE(expectOneEditor(o, "Glow size envelope", "Size", 0.1f));
            EXPECT_EQ(o.editor[0].panelServices, &host.panelServices);
            const std::vector<std::string> three = settingOf(instance.save(), 3);
            EXPECT_EQ(
                std::vector<std::string>(three.begin() + 1, three.begin() + 1 + c.sizeLines.size()),
                c.sizeLines);
            EXPECT_EQ(control(o, 27).ghosted, c.ghosted);
            EXPECT_EQ(describeValue(control(o, 28)), c.button);
        }
        EXPECT_EQ(liveEnvelopes(), envelopes) << "every envelope made went again";
    }

    // 3 has no transparency envelope: the press turns the button on, and
    // every answer but acceptance must turn it off again.
    struct TransCase {
        const char* answer;
        const char* flags; // the saved line of 3's envelope flags
        bool ghosted;
        const char* button;
    };
    const TransCase transCases[] = {
        {"cancel", "1 0", false, "0"},           {"answer 5", "1 0", false, "0"},
        {"answer -2", "1 0", false, "0"},        {"remove", "1 0", false, "0"},
        {"accept 0 10, 1 90", "1 1", true, "1"},
    };
    for (const TransCase& c : transCases) {
        SCOPED_TRACE(c.answer);
        const size_t envelopes = liveEnvelopes();
        {
            Instance instance = loaded();
            const Opened o = open(instance, std::string("press button right of \"Transparency\" "
                                                        "then ") +
                                                c.answer + "\nok\n");
            ASSERT_NO_FATAL_FAILURE(
                expectOneEditor(o, "Glow trans envelope", "Transparency", 100.0f));
            EXPECT_EQ(settingOf(instance.save(), 3).at(1), c.flags);
            EXPECT_EQ(describeValue(control(o, 30)), c.button);
            EXPECT_EQ(control(o, 29).ghosted, c.ghosted);
        }
        EXPECT_EQ(liveEnvelopes(), envelopes);
    }
}

TEST_F(SettingsPanel, PreviewControlsAreGhostedUntilAFrameIsRendered) {
    Instance instance = loaded();
    const Opened before = open(instance, "ok\n");
    EXPECT_TRUE(control(before, 33).ghosted);
    EXPECT_TRUE(control(before, 34).ghosted);
    const Opened refused = open(instance, "press \"Preview\"\nok\n");
    EXPECT_EQ(refused.error, "script 'test' line 1: press \"Preview\": the control is ghosted: a "
                             "user cannot change it");

    MemoryFrame frame(64, 48);
    instance.process(frame);
    const Opened after = open(instance, "choose popup right of \"Preview\" Depth\n"
                                        "tick \"1/2 res\" on\n"
                                        "press \"Preview\"\n"
                                        "ok\n");
    EXPECT_EQ(after.error, "");
    EXPECT_FALSE(control(after, 33).ghosted);
    EXPECT_FALSE(control(after, 34).ghosted);
}

TEST_F(SettingsPanel, AControlTheHostCannotMakeDropsThePanelUnopenedAndChangesNothing) {
    for (const int refused : {1, 3, 9, 22, 28, 35}) {
        SCOPED_TRACE(refused);
        const size_t envelopes = liveEnvelopes();
        {
            Instance instance = loaded();
            host.panelHost.refuseControl = refused;
            const Opened o = open(instance, "press \"Copy\"\nok\n");
            host.panelHost.refuseControl = 0;
            EXPECT_EQ(o.result, 2);
            ASSERT_NE(o.panel, nullptr);
            EXPECT_FALSE(o.panel->opened);
            EXPECT_EQ(instance.save(), kSettings);
        }
        EXPECT_EQ(liveEnvelopes(), envelopes);
    }
}

TEST_F(SettingsPanel, ManyOpeningsReleaseAllTheyMake) {
    const size_t envelopes = liveEnvelopes();
    {
        Instance instance = loaded();
        const char* const scripts[] = {
            "press button right of \"Distance\" then accept 0 0.02, 1 0.03\n"
            "press \"Copy\"\nchoose \"Special Buffer\" 7\npress \"Paste\"\nok\n",
            "press button right of \"Transparency\" then accept 0 5\n"
            "choose \"Special Buffer\" 12\npress \"Paste\"\ncancel\n",
            "press button right of \"Distance\" then answer 3\n"
            "press button right of \"Distance\" then remove\nok\n",
        };
        for (int i = 0; i < 150; ++i) {
            const Opened o = open(instance, scripts[i % 3]);
            ASSERT_EQ(o.error, "") << i;
        }
        EXPECT_EQ(host.panelHost.livePanels(), 0u);
    }
    EXPECT_EQ(liveEnvelopes(), envelopes);
}

} // namespace
