// The panel model through the service, control and drawing records, as a
// module sees it: placement, descriptors, values, callbacks and the canvas.
#include "panel_host_support.h"

#include "orvit/host/host_services.h"
#include "orvit/panel/panel_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using namespace orvit::panel;
using namespace paneltest;

class PanelModel : public HostPanelTest {
  protected:
    PanelModel() : HostPanelTest("T") {}

    Panel& model() { return *Panel::fromHandle(panel); }
    std::array<int32_t, 4> rect(ControlHandle c) {
        return {getInt(c, AttrX), getInt(c, AttrY), getInt(c, AttrWidth), getInt(c, AttrHeight)};
    }
};

const char* const kValues[] = {"  3 ", "  7 ", " 12 ", nullptr};
const char* const kSurfaces[] = {"Crate", "Lamp surface long", nullptr};
const char* const kModes[] = {"Fixed", "Depth", "G-Fixed", "G-Depth", nullptr};
const char* const kEmptyLine[] = {"", nullptr};
const char* const kTwoLines[] = {"ab", "abcd", nullptr};

TEST_F(PanelModel, PlacesEachNewControlBelowTheLowestAtTheLeftMarginSizedByType) {
    struct Case {
        const char* type;
        ControlDesc desc;
        const char* label;
        int32_t width; // label room (7 a character + 6) + body
        int32_t height;
    };
    const Case cases[] = {
        {"BoolControl", plainDesc(DescBool), "Enable Orvit", 84 + 6 + 20, 20},
        {"BoolControl", plainDesc(DescBool), "", 20, 20},
        {"PopupControl", listDesc(kValues, 3), "Special Buffer", 98 + 6 + 60, 20},
        {"PopupControl", listDesc(kSurfaces, 3), "Surface", 49 + 6 + 17 * 7 + 28, 20},
        {"ButtonControl", plainDesc(DescButton), "Copy", 28 + 16, 20},
        {"BoolButtonControl", plainDesc(DescBool), "E", 24, 20},
        {"ChoiceControl", listDesc(kModes, 0), "", (35 + 26) * 2 + (49 + 26) * 2, 20},
        {"FloatControl", plainDesc(DescFloat), "", 80, 20},
        {"FloatControl", plainDesc(DescFloat), "Distance", 56 + 6 + 80, 20},
        {"MiniRGBControl", plainDesc(DescRGB), "", 128, 20},
        {"MiniSliderControl", rangeDesc(100, 0, 100), "Position", 56 + 6 + 140, 20},
        {"PercentControl", rangeDesc(0, 0, 100), "", 140, 20},
        {"PercentControl", rangeDesc(60, 0, 100), "", 100, 20},
        {"TextControl", textDesc(kEmptyLine), "Mode", 28 + 6, 20},
        {"TextControl", textDesc(kTwoLines), "", 28, 40},
        {"AreaControl", areaDesc(500, 10), "", 500, 10},
        {"AreaControl", areaDesc(256, 192), "Pic", 21 + 6 + 256, 192},
    };
    int32_t y = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " \"" + c.label + "\"");
        ControlHandle h = add(c.type, c.desc, c.label);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(rect(h), (std::array<int32_t, 4>{10, y, c.width, c.height}));
        y += c.height + 4;
    }
    EXPECT_TRUE(model().faults.empty());

    // The labelled area draws from beyond its label.
    ControlHandle picture = model().controls().back()->handle();
    EXPECT_EQ(getInt(picture, AttrOriginX), 10 + 27);
    EXPECT_EQ(getInt(picture, AttrOriginY), getInt(picture, AttrY));

    // A control moved below all others pushes the next one down; one moved
    // up does not pull it up.
    ControlHandle moved = add("BoolControl", plainDesc(DescBool), "");
    setInt(moved, AttrY, 1000);
    setInt(moved, AttrX, 300);
    EXPECT_EQ(rect(add("BoolControl", plainDesc(DescBool), "")),
              (std::array<int32_t, 4>{10, 1024, 20, 20}));
    setInt(moved, AttrY, 0);
    EXPECT_EQ(getInt(add("BoolControl", plainDesc(DescBool), ""), AttrY), 1048);

    // The panel reports its content's height until the module sets one.
    int32_t height = 0;
    services->getPanelAttr(panel, PanelHeight, &height);
    EXPECT_EQ(height, 1048 + 20 + 10);
    height = 450;
    services->setPanelAttr(panel, PanelHeight, &height);
    height = 0;
    services->getPanelAttr(panel, PanelHeight, &height);
    EXPECT_EQ(height, 450);
}

TEST_F(PanelModel, RefusesUnknownTypesAndDescriptorsTheTypeCannotTake) {
    const char* const* noItems = nullptr;
    const char* const empty[] = {nullptr};
    struct Case {
        const char* type;
        ControlDesc desc;
        bool made;
    };
    const Case cases[] = {
        {"BoolControl", plainDesc(DescBool), true},
        {"boolcontrol", plainDesc(DescBool), false},
        {"SliderControl", rangeDesc(100, 0, 100), false},
        {nullptr, plainDesc(DescBool), false},
        {"BoolControl", plainDesc(DescButton), false},
        {"ButtonControl", plainDesc(DescBool), false},
        {"PopupControl", listDesc(noItems, 3), false},
        {"PopupControl", listDesc(empty, 3), true},
        {"ChoiceControl", plainDesc(DescRange), false},
        {"TextControl", textDesc(nullptr), false},
        {"MiniSliderControl", rangeDesc(100, 5, 4), false},
        {"MiniSliderControl", rangeDesc(-1, 0, 100), false},
        {"PercentControl", rangeDesc(kMaxControlSide + 1, 0, 100), false},
        {"AreaControl", areaDesc(0, 10), false},
        {"AreaControl", areaDesc(10, kMaxControlSide + 1), false},
        {"AreaControl", areaDesc(kMaxControlSide, 1), true},
    };
    size_t made = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type != nullptr ? c.type : "(null)");
        const size_t faults = model().faults.size();
        ControlHandle h = services->addControl(panel, c.type, &c.desc, "x");
        EXPECT_EQ(h != nullptr, c.made);
        EXPECT_EQ(model().faults.size(), faults + (c.made ? 0 : 1));
        made += c.made;
    }
    EXPECT_EQ(services->addControl(panel, "BoolControl", nullptr, "x"), nullptr);
    EXPECT_EQ(model().controls().size(), made);
    EXPECT_THAT(model().faults[0], testing::HasSubstr("unknown type \"boolcontrol\""));

    // The host keeps copies: the module's strings may change or go.
    std::vector<std::string> items = {"one", "two"};
    const char* itemPointers[] = {items[0].c_str(), items[1].c_str(), nullptr};
    std::string label = "Choice";
    const ControlDesc d = listDesc(itemPointers, 3);
    ControlHandle list = services->addControl(panel, "PopupControl", &d, label.c_str());
    items[0][0] = 'X';
    label = "gone";
    const PanelControl& copy = *PanelControl::fromHandle(list);
    EXPECT_EQ(copy.description().items, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(copy.description().listParam, 3);
    EXPECT_EQ(copy.label(), "Choice");
}

TEST_F(PanelModel, ValuesTravelInTheRecordOfTheirTypeAndBadRecordsChangeNothing) {
    ControlHandle box = add("BoolControl", plainDesc(DescBool), "");
    ControlHandle field = add("FloatControl", plainDesc(DescFloat), "");
    ControlHandle percent = add("PercentControl", rangeDesc(0, 0, 100), "");
    ControlHandle colour = add("MiniRGBControl", plainDesc(DescRGB), "");
    ControlHandle popup = add("PopupControl", listDesc(kValues, 3), "");

    // Fresh controls hold zero.
    EXPECT_EQ(getInt(box, AttrValue), 0);
    EXPECT_EQ(getReal(field), 0.0);

    setInt(box, AttrValue, 1);
    setInt(popup, AttrValue, 2);
    setReal(field, 0.0625);
    setReal(percent, 37.5);
    setRgb(colour, 255, 128, 7);
    EXPECT_EQ(getInt(box, AttrValue), 1);
    EXPECT_EQ(getInt(popup, AttrValue), 2);
    EXPECT_EQ(getReal(field), 0.0625);
    EXPECT_EQ(getReal(percent), 37.5);
    ControlValue back{};
    back.type = ValueIntVector;
    colour->getControlAttr(colour, AttrValue, &back);
    EXPECT_EQ(back.intVector[0], 255);
    EXPECT_EQ(back.intVector[1], 128);
    EXPECT_EQ(back.intVector[2], 7);
    EXPECT_TRUE(model().faults.empty());

    // Integers and doubles convert: a float read as an integer truncates.
    EXPECT_EQ(getInt(field, AttrValue), 0);
    setReal(field, -2.75);
    EXPECT_EQ(getInt(field, AttrValue), -2);
    EXPECT_EQ(getReal(box), 1.0);
    setInt(percent, AttrValue, 40);
    EXPECT_EQ(getReal(percent), 40.0);

    // A vector control takes only a vector record, and only it fills one;
    // read-only and unknown attributes and missing records change nothing.
    const size_t faults = model().faults.size();
    setInt(colour, AttrValue, 9);
    EXPECT_EQ(getInt(colour, AttrValue), -12345);
    ControlValue vector{};
    vector.type = ValueIntVector;
    vector.intVector[0] = 77;
    box->getControlAttr(box, AttrValue, &vector);
    EXPECT_EQ(vector.intVector[0], 77);
    setInt(box, AttrOriginX, 50);
    EXPECT_EQ(getInt(box, AttrOriginX), 10);
    setInt(box, 99, 1);
    EXPECT_EQ(getInt(box, 99), -12345);
    box->setControlAttr(box, AttrValue, nullptr);
    box->getControlAttr(box, AttrValue, nullptr);
    setInt(box, AttrWidth, -1);
    EXPECT_EQ(getInt(box, AttrWidth), 20);
    EXPECT_EQ(model().faults.size(), faults + 9);
    EXPECT_EQ(getInt(box, AttrValue), 1);
    colour->getControlAttr(colour, AttrValue, &back);
    EXPECT_EQ(back.intVector[0], 255);

    // Pointers: callbacks and user data come back as given.
    int marker = 0;
    setPointer(box, AttrUserData, &marker);
    ControlValue pointer{};
    pointer.type = ValueInt;
    box->getControlAttr(box, AttrUserData, &pointer);
    const void* userData = pointer.pointer; // a copy: the field is not pointer-aligned
    EXPECT_EQ(userData, &marker);
    CallLog log;
    bindEvent(popup, &log);
    popup->getControlAttr(popup, AttrEventCallback, &pointer);
    ControlEventFunc bound = nullptr;
    std::memcpy(&bound, &pointer.pointer, sizeof bound);
    EXPECT_EQ(bound, &noteEvent);
}

TEST_F(PanelModel, AUserChangeSetsTheValueThenCallsTheEventCallbackButTheModuleSettingDoesNot) {
    ControlHandle popup = add("PopupControl", listDesc(kValues, 3), "Special Buffer");
    ControlHandle button = add("ButtonControl", plainDesc(DescButton), "Copy");
    ControlHandle toggle = add("BoolButtonControl", plainDesc(DescBool), "E");
    ControlHandle plain = add("BoolControl", plainDesc(DescBool), "");
    CallLog log;
    for (ControlHandle c : {popup, button, toggle})
        bindEvent(c, &log);

    setInt(popup, AttrValue, 1);
    setInt(toggle, AttrValue, 1);
    EXPECT_TRUE(log.calls.empty());

    Panel& p = model();
    ControlPayload two;
    two.integer = 2;
    EXPECT_TRUE(p.userChange(*PanelControl::fromHandle(popup), two));
    EXPECT_TRUE(p.userPress(*PanelControl::fromHandle(button)));
    EXPECT_TRUE(p.userPress(*PanelControl::fromHandle(toggle)));
    EXPECT_TRUE(p.userPress(*PanelControl::fromHandle(toggle)));
    // A control without a callback just takes the value.
    ControlPayload on;
    on.integer = 1;
    EXPECT_TRUE(p.userChange(*PanelControl::fromHandle(plain), on));
    EXPECT_EQ(getInt(plain, AttrValue), 1);

    ASSERT_EQ(log.calls.size(), 4u);
    const int32_t expectedValues[] = {2, 0, 0, 1};
    const ControlHandle expectedControls[] = {popup, button, toggle, toggle};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(log.calls[i].control, expectedControls[i]) << i;
        EXPECT_EQ(log.calls[i].userData, &log) << i;
        EXPECT_EQ(log.calls[i].value, expectedValues[i]) << "value seen by call " << i;
    }

    // A ghosted control takes nothing until drawn Normal again.
    popup->drawControl(popup, DrawGhosted);
    EXPECT_FALSE(p.userChange(*PanelControl::fromHandle(popup), on));
    EXPECT_FALSE(p.userPress(*PanelControl::fromHandle(popup)));
    EXPECT_EQ(getInt(popup, AttrValue), 2);
    popup->drawControl(popup, DrawRefresh);
    EXPECT_TRUE(PanelControl::fromHandle(popup)->ghosted);
    popup->drawControl(popup, DrawNormal);
    EXPECT_TRUE(p.userChange(*PanelControl::fromHandle(popup), on));
    EXPECT_EQ(log.calls.size(), 5u);
}

TEST_F(PanelModel, DrawPanelCallsEveryAreaInCreationOrderAndDrawControlOnlyItsOwn) {
    CallLog log;
    ControlHandle first = add("AreaControl", areaDesc(20, 10), "");
    ControlHandle box = add("BoolControl", plainDesc(DescBool), "");
    ControlHandle second = add("AreaControl", areaDesc(20, 10), "");
    ControlHandle unbound = add("AreaControl", areaDesc(20, 10), "");
    ControlHandle third = add("AreaControl", areaDesc(20, 10), "");
    // Bound out of order, and a non-area with a draw callback too.
    bindDraw(third, &log);
    bindDraw(box, &log);
    bindDraw(first, &log);
    bindDraw(second, &log);

    services->drawPanel(panel, DrawRefresh);
    ASSERT_EQ(log.calls.size(), 3u);
    EXPECT_EQ(log.calls[0].control, first);
    EXPECT_EQ(log.calls[1].control, second);
    EXPECT_EQ(log.calls[2].control, third);
    EXPECT_EQ(log.calls[2].mode, DrawRefresh);

    log.calls.clear();
    second->drawControl(second, DrawRefresh);
    box->drawControl(box, DrawRefresh);
    unbound->drawControl(unbound, DrawRefresh);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].control, second);

    // A callback asking for another redraw of the panel or itself gets none.
    log.calls.clear();
    log.then = [](ControlHandle control, CallLog*) {
        panelServices()->drawPanel(PanelControl::fromHandle(control)->panel().handle(),
                                   DrawRefresh);
        control->drawControl(control, DrawRefresh);
    };
    services->drawPanel(panel, DrawRefresh);
    EXPECT_EQ(log.calls.size(), 3u);
}

TEST_F(PanelModel, DrawingLandsInTheCanvasInPanelPixels) {
    ControlHandle strip = add("AreaControl", areaDesc(50, 10), "");
    add("AreaControl", areaDesc(30, 40), "Wide label");
    const DrawFuncs* draw = services->drawFuncs;
    const int32_t ox = getInt(strip, AttrOriginX), oy = getInt(strip, AttrOriginY);

    draw->drawBox(panel, 4098, ox, oy, 50, 10);
    const Canvas& canvas = model().canvas();
    // Wide enough for the labelled area (10 + 76 + 30) plus the margin;
    // high enough for both plus the margin.
    EXPECT_EQ(canvas.width, 10 + 76 + 30 + 10);
    EXPECT_EQ(canvas.height, 10 + 10 + 4 + 40 + 10);
    EXPECT_EQ(canvas.pixel(ox, oy), (std::array<uint8_t, 3>{112, 112, 112}));
    EXPECT_EQ(canvas.pixel(ox + 49, oy + 9), (std::array<uint8_t, 3>{112, 112, 112}));
    EXPECT_EQ(canvas.pixel(ox + 50, oy), kCanvasBackground);
    EXPECT_EQ(canvas.pixel(ox, oy + 10), kCanvasBackground);

    struct Case {
        std::array<int32_t, 3> rgb;
        std::array<uint8_t, 3> painted;
    };
    // A colour outside 0..255 is painted clamped and noted.
    const Case colours[] = {{{1, 2, 3}, {1, 2, 3}}, {{300, -5, 255}, {255, 0, 255}}};
    for (const Case& c : colours) {
        draw->drawRGBPixel(panel, c.rgb[0], c.rgb[1], c.rgb[2], 3, 4);
        EXPECT_EQ(model().canvas().pixel(3, 4), c.painted);
    }
    draw->drawRGBBox(panel, 0, 256, 0, 3, 4, 1, 1);
    EXPECT_EQ(model().faults,
              (std::vector<std::string>{"drawRGBPixel colour 300 -5 255 outside "
                                        "0..255",
                                        "drawRGBBox colour 0 256 0 outside 0..255"}));
    for (int i = 0; i < 200; ++i)
        draw->drawRGBPixel(panel, -1, 0, 0, 0, 0);
    EXPECT_EQ(model().faults.size(), Panel::kMaxFaults + 1);
    EXPECT_EQ(model().faults.back(), "further faults not noted");
    draw->drawBox(panel, 12345, 0, 0, 2, 2);
    EXPECT_EQ(model().canvas().pixel(1, 1), (std::array<uint8_t, 3>{255, 0, 255}));
    draw->drawBox(panel, 4096, 5, 5, 1, 1);
    draw->drawBox(panel, 4097, 6, 5, 1, 1);
    EXPECT_EQ(model().canvas().pixel(5, 5), (std::array<uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(model().canvas().pixel(6, 5), (std::array<uint8_t, 3>{255, 255, 255}));

    // Boxes reaching past any edge are clipped.
    draw->drawRGBBox(panel, 9, 8, 7, -5, -5, 10000, 7);
    EXPECT_EQ(model().canvas().pixel(0, 0), (std::array<uint8_t, 3>{9, 8, 7}));
    EXPECT_EQ(model().canvas().pixel(canvas.width - 1, 1), (std::array<uint8_t, 3>{9, 8, 7}));
    EXPECT_EQ(model().canvas().pixel(0, 2), kCanvasBackground);
    draw->drawRGBBox(panel, 1, 1, 1, 0, 0, -3, 5);
    EXPECT_EQ(model().canvas().pixel(0, 0), (std::array<uint8_t, 3>{9, 8, 7}));

    EXPECT_EQ(model().draws.pixels, 202u);
    EXPECT_EQ(model().draws.boxes, 4u);
    EXPECT_EQ(model().draws.rgbBoxes, 3u);

    // A taller panel makes a taller canvas, keeping what was drawn.
    int32_t height = 300;
    services->setPanelAttr(panel, PanelHeight, &height);
    EXPECT_EQ(model().canvas().height, 300);
    EXPECT_EQ(model().canvas().pixel(ox, oy), (std::array<uint8_t, 3>{112, 112, 112}));

    // A released panel draws nothing and its controls answer nothing.
    Panel& released = model();
    services->destroyPanel(panel);
    draw->drawRGBPixel(panel, 0, 0, 0, ox, oy);
    EXPECT_EQ(released.draws.pixels, 202u);
    EXPECT_EQ(getInt(strip, AttrX), -12345);
    setInt(strip, AttrX, 99);
    EXPECT_EQ(released.controls()[0]->x, 10);
}

TEST_F(PanelModel, DescribesEachControlOnOneLine) {
    ControlHandle popup = add("PopupControl", listDesc(kValues, 3), "Special Buffer");
    ControlHandle field = add("FloatControl", plainDesc(DescFloat), "");
    add("TextControl", textDesc(kEmptyLine), "Mode");
    add("MiniSliderControl", rangeDesc(100, 0, 100), "Position");
    add("AreaControl", areaDesc(500, 10), "");
    ControlHandle colour = add("MiniRGBControl", plainDesc(DescRGB), "");
    setInt(popup, AttrValue, 1);
    setReal(field, 0.05);
    field->drawControl(field, DrawGhosted);
    setRgb(colour, 1, 2, 3);
    EXPECT_EQ(describeControls(model()),
              (std::vector<std::string>{
                  "1 PopupControl \"Special Buffer\" list 3 [\"  3 \", \"  7 \", \" 12 \"] at "
                  "10 10 164 20 value 1",
                  "2 FloatControl \"\" float at 10 34 80 20 value 0.050000000000000003 ghosted",
                  "3 TextControl \"Mode\" text [\"\"] at 10 58 34 20 value 0",
                  "4 MiniSliderControl \"Position\" range 100 0 100 at 10 82 202 20 value 0",
                  "5 AreaControl \"\" area 500 10 at 10 106 500 10 value 0",
                  "6 MiniRGBControl \"\" rgb at 10 120 128 20 value 1 2 3",
              }));
}

} // namespace
