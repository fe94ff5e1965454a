// The panel's window over a panel made in the test, one control of every
// type: the widget that shows each, its place, value and ghosting as the
// model holds them, and a user's action on each widget reaching the model
// and the control's event callback.
#include "orvit/window/look.h"
#include "orvit/window/panel_window.h"
#include "tests/orvit/panel/panel_host_support.h"
#include "tests/orvit/window/window_test_support.h"

#include <FL/Fl_Float_Input.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Toggle_Button.H>
#include <FL/fl_draw.H>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace orvit::panel;
using namespace orvit::window;
using orvit::window::ControlWidgets;
using orvit::window::PanelWindow;
using paneltest::CallLog;

const char* const kItems[] = {"One", "Two", "Three", nullptr};
const char* const kLines[] = {"", nullptr};

// A user's action: one of a control's widgets set to `value`, then its
// callback, as FLTK runs it.
template <typename Widget, typename Value>
std::function<void(ControlWidgets&)> userSets(Widget* ControlWidgets::*widget, Value value) {
    return [=](ControlWidgets& w) {
        (w.*widget)->value(value);
        (w.*widget)->do_callback();
    };
}

std::function<bool(const PanelControl&)> integerIs(int32_t v) {
    return [=](const PanelControl& c) { return c.value.integer == v; };
}

std::function<bool(const PanelControl&)> realIs(double v) {
    return [=](const PanelControl& c) { return c.value.real == v; };
}

// One control of every type, each with a value that is not the default.
class WindowOverPanel : public ::testing::Test {
  protected:
    WindowOverPanel() : panel("Test panel") {
        auto add = [&](const char* type, ControlDesc d, const char* label) {
            PanelControl* c = panel.addControl(type, &d, label);
            EXPECT_NE(c, nullptr) << type;
            paneltest::bindEvent(c->handle(), &log);
            return c;
        };
        tick = add("BoolControl", paneltest::plainDesc(DescBool), "Tick");
        toggle = add("BoolButtonControl", paneltest::plainDesc(DescBool), "E");
        popup = add("PopupControl", paneltest::listDesc(kItems, 3), "Pick");
        choice = add("ChoiceControl", paneltest::listDesc(kItems, 0), "");
        button = add("ButtonControl", paneltest::plainDesc(DescButton), "Go");
        real = add("FloatControl", paneltest::plainDesc(DescFloat), "");
        percent = add("PercentControl", paneltest::rangeDesc(0, 0, 100), "");
        slider = add("MiniSliderControl", paneltest::rangeDesc(100, 0, 100), "Position");
        colour = add("MiniRGBControl", paneltest::plainDesc(DescRGB), "");
        text = add("TextControl", paneltest::textDesc(kLines), "Mode");
        area = add("AreaControl", paneltest::areaDesc(50, 10), "");
        tick->value.integer = 1;
        toggle->value.integer = 1;
        popup->value.integer = 2;
        choice->value.integer = 1;
        real->value.real = 0.25;
        percent->value.real = 35.5;
        slider->value.integer = 40;
        colour->value.vector = {10, 20, 30};
        real->ghosted = true;
    }

    // The events noted for a control.
    size_t eventsOf(PanelControl* c) const {
        return static_cast<size_t>(
            std::count_if(log.calls.begin(), log.calls.end(), [&](auto& call) {
                return call.routine == "event" && call.control == c->handle();
            }));
    }

    Panel panel;
    CallLog log;
    PanelControl *tick, *toggle, *popup, *choice, *button, *real, *percent, *slider, *colour, *text,
        *area;
};

// The smallest box holding every widget of a control.
std::array<int, 4> bounds(const ControlWidgets& w) {
    std::vector<Fl_Widget*> parts = {w.label,  w.check,  w.button, w.choice,
                                     w.slider, w.number, w.swatch, w.area};
    parts.insert(parts.end(), w.channels.begin(), w.channels.end());
    parts.insert(parts.end(), w.lines.begin(), w.lines.end());
    int left = 1 << 30, top = 1 << 30, right = -(1 << 30), bottom = -(1 << 30);
    for (Fl_Widget* p : parts)
        if (p != nullptr) {
            left = std::min(left, p->x());
            top = std::min(top, p->y());
            right = std::max(right, p->x() + p->w());
            bottom = std::max(bottom, p->y() + p->h());
        }
    return {left, top, right - left, bottom - top};
}

TEST_F(WindowOverPanel, EachControlIsShownByItsWidgetInItsPlaceWithItsValue) {
    PanelWindow window(panel);
    struct Case {
        PanelControl* control;
        std::function<bool(const ControlWidgets&)> shows;
    };
    const Case cases[] = {
        {tick, [](auto& w) { return w.check != nullptr && w.check->value() == 1; }},
        {toggle,
         [](auto& w) {
             return dynamic_cast<Fl_Toggle_Button*>(w.button) != nullptr &&
                    w.button->value() == 1 && std::string(w.button->label()) == "E";
         }},
        {popup,
         [](auto& w) {
             return w.choice != nullptr && w.choice->size() == 4 && w.choice->value() == 2 &&
                    std::string(w.choice->text(0)) == "One" && w.label != nullptr;
         }},
        {choice, [](auto& w) { return w.choice != nullptr && w.choice->value() == 1; }},
        {button,
         [](auto& w) {
             return w.button != nullptr && dynamic_cast<Fl_Toggle_Button*>(w.button) == nullptr &&
                    std::string(w.button->label()) == "Go";
         }},
        {real,
         [](auto& w) {
             return dynamic_cast<Fl_Float_Input*>(w.number) != nullptr && w.slider == nullptr &&
                    std::string(w.number->value()) == "0.25";
         }},
        {percent,
         [](auto& w) {
             return dynamic_cast<Fl_Float_Input*>(w.number) != nullptr && w.slider != nullptr &&
                    std::string(w.number->value()) == "35.5" && w.slider->value() == 35.5;
         }},
        {slider,
         [](auto& w) {
             return dynamic_cast<Fl_Int_Input*>(w.number) != nullptr && w.slider != nullptr &&
                    std::string(w.number->value()) == "40" && w.slider->value() == 40 &&
                    std::string(w.label->label()) == "Position";
         }},
        {colour,
         [](auto& w) {
             return w.swatch != nullptr && std::string(w.channels[0]->value()) == "10" &&
                    std::string(w.channels[1]->value()) == "20" &&
                    std::string(w.channels[2]->value()) == "30" &&
                    w.swatch->color() == fl_rgb_color(10, 20, 30);
         }},
        {text,
         [](auto& w) {
             return w.lines.size() == 1 && w.label != nullptr &&
                    std::string(w.label->label()) == "Mode";
         }},
        {area, [](auto& w) { return w.area != nullptr; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(controlTypeName(c.control->type()));
        const ControlWidgets* w = window.widgetsOf(*c.control);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(c.shows(*w));
        const std::array<int, 4> expected = {c.control->x, c.control->y, c.control->width,
                                             c.control->height};
        EXPECT_EQ(bounds(*w), expected);
        EXPECT_EQ(w->active(), c.control != real);
        EXPECT_EQ(w->number != nullptr && w->number->active() != 0,
                  w->number != nullptr && c.control != real);
    }
    // The window holds the whole panel and the bar below it.
    EXPECT_GE(window.w(), panel.canvas().width);
    EXPECT_EQ(window.h(), panel.canvas().height + PanelWindow::kBarHeight);
    EXPECT_EQ(std::string(window.label()), "Test panel");
}

TEST_F(WindowOverPanel, TheModulesDrawRequestsBringTheWidgetsInLine) {
    PanelWindow window(panel);
    ControlWidgets& number = *window.widgetsOf(*real);
    ControlWidgets& popupWidgets = *window.widgetsOf(*popup);

    // Values set by the module show once it asks for the panel to be drawn.
    paneltest::setInt(popup->handle(), AttrValue, 0);
    paneltest::setReal(percent->handle(), 80.0);
    panel.drawPanel(DrawRefresh);
    EXPECT_EQ(popupWidgets.choice->value(), 0);
    EXPECT_EQ(std::string(window.widgetsOf(*percent)->number->value()), "80");

    // Ghosting and its end reach the widgets at once.
    panel.drawControl(*real, DrawNormal);
    EXPECT_TRUE(number.number->active());
    panel.drawControl(*popup, DrawGhosted);
    EXPECT_FALSE(popupWidgets.choice->active());
    EXPECT_FALSE(popupWidgets.label->active());

    // A move follows the control.
    paneltest::setInt(button->handle(), AttrX, 300);
    panel.drawControl(*button, DrawRefresh);
    EXPECT_EQ(window.widgetsOf(*button)->button->x(), 300);

    // A value out of a popup's list shows no item.
    paneltest::setInt(popup->handle(), AttrValue, 7);
    panel.drawPanel(DrawRefresh);
    EXPECT_EQ(popupWidgets.choice->value(), -1);
}

TEST_F(WindowOverPanel, AUsersActionSetsTheValueThenCallsTheEventCallbackOnce) {
    PanelWindow window(panel);
    real->ghosted = false;
    window.sync();
    using W = ControlWidgets;
    struct Case {
        const char* name;
        PanelControl* control;
        std::function<void(ControlWidgets&)> act;
        std::function<bool(const PanelControl&)> holds;
        size_t events;
    };
    const Case cases[] = {
        {"box off", tick, userSets(&W::check, 0), integerIs(0), 1},
        {"toggle pressed", toggle, userSets(&W::button, 0), integerIs(0), 1},
        {"popup item", popup, userSets(&W::choice, 0), integerIs(0), 1},
        {"choice item", choice, userSets(&W::choice, 2), integerIs(2), 1},
        {"button", button, [](W& w) { w.button->do_callback(); }, integerIs(0), 1},
        {"number typed", real, userSets(&W::number, " 1.5 "), realIs(1.5), 1},
        {"not a number", real, userSets(&W::number, "1.5x"), realIs(1.5), 0},
        {"percent above its range", percent, userSets(&W::number, "150"), realIs(100.0), 1},
        {"percent slid", percent, userSets(&W::slider, 20), realIs(20.0), 1},
        {"slider below its range", slider, userSets(&W::number, "-5"), integerIs(0), 1},
        {"slider slid", slider, userSets(&W::slider, 70), integerIs(70), 1},
        {"slider not whole", slider, userSets(&W::number, "7.5"), integerIs(70), 0},
        {"colour channel", colour,
         [](W& w) {
             w.channels[1]->value("300");
             w.channels[1]->do_callback();
         },
         [](const PanelControl& c) {
             return c.value.vector == std::array<int32_t, 3>{10, 255, 30};
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = eventsOf(c.control);
        ControlWidgets& w = *window.widgetsOf(*c.control);
        c.act(w);
        EXPECT_TRUE(c.holds(*c.control));
        EXPECT_EQ(eventsOf(c.control) - before, c.events);
        // The widgets show what the model now holds.
        if (w.number != nullptr) {
            EXPECT_EQ(std::string(w.number->value()),
                      c.control->type() == ControlType::MiniSlider
                          ? std::to_string(c.control->value.integer)
                          : orvit::window::numberText(c.control->value.real));
        }
    }

    // A ghosted control takes nothing.
    panel.drawControl(*slider, DrawGhosted);
    window.widgetsOf(*slider)->slider->value(10);
    window.widgetsOf(*slider)->slider->do_callback();
    EXPECT_EQ(slider->value.integer, 70);
}

TEST_F(WindowOverPanel, OkEntersWhatWasTypedAndLeftCancelAndTheCloseBoxDoNot) {
    real->ghosted = false;
    struct Case {
        const char* name;
        std::function<void(PanelWindow&)> close;
        int32_t answer;
    };
    const Case cases[] = {
        {"OK", [](PanelWindow& w) { w.okButton()->do_callback(); }, 1},
        {"Cancel", [](PanelWindow& w) { w.cancelButton()->do_callback(); }, 0},
        {"close box", [](PanelWindow& w) { w.do_callback(); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        real->value.real = 0.25;
        PanelWindow window(panel);
        Fl_Input* typed = window.widgetsOf(*real)->number;
        typed->value("0.75");
        typed->set_changed();
        const size_t before = eventsOf(real);
        c.close(window);
        EXPECT_EQ(window.answer(), c.answer);
        EXPECT_EQ(real->value.real, c.answer == 1 ? 0.75 : 0.25);
        EXPECT_EQ(eventsOf(real) - before, c.answer == 1 ? 1u : 0u);
    }
}

// Every label reads whole in the room the placement rule gives it (7 pixels
// a character), in a smaller font where it must; the mode and distance
// controls say what they mean.
TEST(WindowLabels, EveryLabelReadsWholeAndModeAndDistanceExplainThemselves) {
    REQUIRE_DISPLAY();
    Panel panel("Labels");
    const char* const modes[] = {"Fixed", "Depth", "G-Fixed", "G-Depth", nullptr};
    ControlDesc choice = paneltest::listDesc(modes, 0);
    panel.addControl("ChoiceControl", &choice, "Mode");
    ControlDesc real = paneltest::plainDesc(DescFloat);
    panel.addControl("FloatControl", &real, "Distance");
    ControlDesc percent = paneltest::rangeDesc(0, 0, 100);
    panel.addControl("PercentControl", &percent, "Transparency");
    ControlDesc popup = paneltest::listDesc(kItems, 3);
    panel.addControl("PopupControl", &popup, "Special Buffer");
    panel.addControl("PopupControl", &popup, "WMWM"); // wider than 7 pixels a letter
    PanelWindow window(panel);
    size_t labels = 0;
    for (const auto& control : panel.controls()) {
        const ControlWidgets& w = *window.widgetsOf(*control);
        SCOPED_TRACE(control->label());
        ASSERT_NE(w.label, nullptr);
        ++labels;
        const int size = w.label->shownSize();
        EXPECT_GE(size, 8);
        fl_font(w.label->labelfont(), size);
        EXPECT_LE(fl_width(w.label->label()), w.label->w());
        const Fl_Widget* body = w.choice != nullptr ? static_cast<Fl_Widget*>(w.choice) : w.number;
        const std::string tip = body->tooltip() != nullptr ? body->tooltip() : "";
        if (control->label() == "Mode")
            EXPECT_THAT(tip, testing::HasSubstr("G-Fixed, G-Depth"));
        else if (control->label() == "Distance")
            EXPECT_THAT(tip, testing::HasSubstr("a fraction of the frame's width"));
        else
            EXPECT_EQ(tip, "");
    }
    EXPECT_EQ(labels, 5u);
}

} // namespace
