#include "module/services/services.h"
#include "module/settings/surface_table.h"
#include "panel_test_support.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

using namespace orvit;
using fakes::FakeControl;
using namespace panelunit;

namespace {

// A scene with special values 3, 7 and 12 on three surfaces.
class SettingsPanel : public PanelFixture {
  protected:
    void SetUp() override {
        instance.reset(createInstance());
        const uint8_t ring[4] = {7, 12, 0, 0}, lamp[4] = {3, 0, 0, 0}, crate[4] = {7, 0, 0, 0};
        addSurface(instance.get(), "Ring", ring);
        addSurface(instance.get(), "Lamp", lamp);
        addSurface(instance.get(), "Crate", crate);
        panel.makeCurrent();
    }
};

} // namespace

TEST_F(SettingsPanel, ThirtyFiveControlsWithTheirDescriptorsAndPlaces) {
    // The fake host places each control at x 0 below the lowest so far: 20
    // high (areas their own height), 100 wide (boxes 20 + 8 per label letter,
    // sliders 150, labels 90, areas their own width).
    struct Row {
        const char* type;
        const char* label;
        int32_t descType;
        std::vector<std::string> items;
        int32_t x, y;
        bool instanceData, event, draw;
    };
    const std::vector<std::string> none, specials = {"  3 ", "  7 ", " 12 "},
                                         surfaces = {"Crate", "Lamp", "Ring"},
                                         modes = {"Fixed", "Depth", "G-Fixed", "G-Depth"},
                                         displays = {"Color", "Depth", "Special", "Preview"};
    std::vector<Row> rows = {
        {"BoolControl", "Enable Orvit", DescBool, none, 0, 0, false, false, false},
        {"BoolControl", "", DescBool, none, 0, 20, true, true, false},
        {"PopupControl", "Special Buffer", DescList, specials, 20, 20, true, true, false},
        {"PopupControl", "Surface", DescList, surfaces, 140, 20, true, true, false},
        {"ButtonControl", "Copy", DescButton, none, 280, 20, true, true, false},
        {"ButtonControl", "Paste", DescButton, none, 380, 20, true, true, false},
    };
    // The five colour keys, a line each: enable box, colour, position.
    for (int32_t y = 40; y <= 120; y += 20) {
        rows.push_back({"BoolControl", "", DescBool, none, 0, y, true, true, false});
        rows.push_back({"MiniRGBControl", "", DescRGB, none, 20, y, true, true, false});
        rows.push_back(
            {"MiniSliderControl", "Position", DescRange, none, 120, y, true, true, false});
    }
    const Row below[] = {
        {"AreaControl", "", DescArea, none, 0, 140, true, false, true},
        {"TextControl", "Mode", DescText, {""}, 256, 150, false, false, false},
        {"TextControl", "Distance", DescText, {""}, 256, 170, false, false, false},
        {"TextControl", "Transparency", DescText, {""}, 256, 190, false, false, false},
        {"ChoiceControl", "", DescList, modes, 346, 150, false, false, false},
        {"FloatControl", "", DescFloat, none, 340, 170, false, false, false},
        {"BoolButtonControl", "E", DescBool, none, 440, 170, true, true, false},
        {"PercentControl", "", DescRange, none, 346, 190, false, false, false},
        {"BoolButtonControl", "E", DescBool, none, 496, 190, true, true, false},
        {"AreaControl", "", DescArea, none, 0, 150, true, false, true},
        {"AreaControl", "", DescArea, none, 0, 342, true, false, true},
        {"ButtonControl", "Preview", DescButton, none, 0, 352, true, true, false},
        {"PopupControl", "", DescList, displays, 100, 352, false, false, false},
        {"BoolControl", "1/2 res", DescBool, none, 200, 352, false, false, false},
    };
    rows.insert(rows.end(), std::begin(below), std::end(below));
    ASSERT_TRUE(open([&] {
        EXPECT_EQ(panel.controls.size(), rows.size());
        for (size_t i = 0; i < rows.size() && i < panel.controls.size(); ++i) {
            const Row& r = rows[i];
            const FakeControl* f = c(static_cast<int>(i));
            SCOPED_TRACE("control " + std::to_string(i + 1) + " " + r.type + " '" + r.label + "'");
            EXPECT_EQ(f->type, r.type);
            EXPECT_EQ(f->label, r.label);
            EXPECT_EQ(f->descType, r.descType);
            EXPECT_EQ(f->items, r.items);
            EXPECT_EQ(f->x, r.x);
            EXPECT_EQ(f->y, r.y);
            EXPECT_EQ(f->userData, r.instanceData ? instance.get() : nullptr);
            EXPECT_EQ(f->event != nullptr, r.event);
            EXPECT_EQ(f->draw != nullptr, r.draw);
        }
        return 1;
    }));
    // Descriptor fields the table leaves out, read from the host's copies.
}

TEST_F(SettingsPanel, DescriptorFieldsAndOpeningState) {
    ASSERT_TRUE(open([&] {
        EXPECT_EQ(c(kSpecial)->listParam, 3);
        EXPECT_EQ(c(kSurface)->listParam, 3);
        EXPECT_EQ(c(kDisplay)->listParam, 3);
        EXPECT_EQ(c(kModeChoice)->listParam, 0);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(std::vector<int32_t>(c(8 + 3 * i)->range, c(8 + 3 * i)->range + 3),
                      (std::vector<int32_t>{100, 0, 100}));
        EXPECT_EQ(c(kTransparency)->range[1], 0);
        EXPECT_EQ(c(kTransparency)->range[2], 100);
        EXPECT_EQ(c(kStrip)->area[0], 500);
        EXPECT_EQ(c(kStrip)->area[1], 10);
        EXPECT_EQ(c(kPreviewArea)->area[0], 256);
        EXPECT_EQ(c(kPreviewArea + 1)->area[1], 5);
        // The first surface carrying 3 is "Lamp"; value 3 has a default setting.
        EXPECT_EQ(c(kSurface)->intValue, 1);
        EXPECT_EQ(c(kSpecial)->intValue, 0);
        EXPECT_EQ(panel.height, 180 + 252);
        EXPECT_TRUE(c(kPreviewButton)->ghosted) << "no rendered frame yet";
        EXPECT_TRUE(c(kDisplay)->ghosted);
        EXPECT_NE(instance->selected, nullptr);
        EXPECT_EQ(instance->selected->value, 3);
        EXPECT_EQ(c(kDistance)->floatValue, 0.05);
        EXPECT_EQ(c(kTransparency)->floatValue, 50.0);
        EXPECT_EQ(c(kKeyBox0)->intValue, 1);
        EXPECT_EQ(c(kKeyBox0 + 2 + 3)->intValue, 20) << "key 1 position";
        EXPECT_EQ(c(kKeyBox0 + 1)->vector[0], 255);
        return 1;
    }));
    EXPECT_EQ(panel.calls.back(), "destroyPanel");
    EXPECT_NE(std::find(panel.calls.begin(), panel.calls.end(), "openPanel 7"), panel.calls.end());
    ASSERT_EQ(instance->settingCount, 1) << "the default setting of 3 stays after OK";
    EXPECT_EQ(instance->selected, nullptr);

    // With a snapshot the preview controls open enabled; a default setting
    // made on opening is gone after Cancel.
    releaseSettings(instance.get());
    ASSERT_TRUE(obtainSnapshot(instance.get()));
    panel.makeCurrent();
    ASSERT_TRUE(open([&] {
        EXPECT_FALSE(c(kPreviewButton)->ghosted);
        EXPECT_FALSE(c(kDisplay)->ghosted);
        EXPECT_EQ(instance->settingCount, 1);
        return 0;
    }));
    EXPECT_EQ(instance->settingCount, 0);
}
