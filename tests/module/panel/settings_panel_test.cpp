#include "module/services/services.h"
#include "module/settings/surface_table.h"
#include "panel_test_support.h"

#include <gtest/gtest.h>

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
    const std::vector<std::string> none;
    const std::vector<Row> rows = {
        {"BoolControl", "Enable Orvit", DescBool, none, 0, 0, false, false, false},
        {"BoolControl", "", DescBool, none, 0, 20, true, true, false},
        {"PopupControl",
         "Special Buffer",
         DescList,
         {"  3 ", "  7 ", " 12 "},
         20,
         20,
         true,
         true,
         false},
        {"PopupControl",
         "Surface",
         DescList,
         {"Crate", "Lamp", "Ring"},
         140,
         20,
         true,
         true,
         false},
        {"ButtonControl", "Copy", DescButton, none, 280, 20, true, true, false},
        {"ButtonControl", "Paste", DescButton, none, 380, 20, true, true, false},
        {"BoolControl", "", DescBool, none, 0, 40, true, true, false},
        {"MiniRGBControl", "", DescRGB, none, 20, 40, true, true, false},
        {"MiniSliderControl", "Position", DescRange, none, 120, 40, true, true, false},
        {"BoolControl", "", DescBool, none, 0, 60, true, true, false},
        {"MiniRGBControl", "", DescRGB, none, 20, 60, true, true, false},
        {"MiniSliderControl", "Position", DescRange, none, 120, 60, true, true, false},
        {"BoolControl", "", DescBool, none, 0, 80, true, true, false},
        {"MiniRGBControl", "", DescRGB, none, 20, 80, true, true, false},
        {"MiniSliderControl", "Position", DescRange, none, 120, 80, true, true, false},
        {"BoolControl", "", DescBool, none, 0, 100, true, true, false},
        {"MiniRGBControl", "", DescRGB, none, 20, 100, true, true, false},
        {"MiniSliderControl", "Position", DescRange, none, 120, 100, true, true, false},
        {"BoolControl", "", DescBool, none, 0, 120, true, true, false},
        {"MiniRGBControl", "", DescRGB, none, 20, 120, true, true, false},
        {"MiniSliderControl", "Position", DescRange, none, 120, 120, true, true, false},
        {"AreaControl", "", DescArea, none, 0, 140, true, false, true},
        {"TextControl", "Mode", DescText, {""}, 256, 150, false, false, false},
        {"TextControl", "Distance", DescText, {""}, 256, 170, false, false, false},
        {"TextControl", "Transparency", DescText, {""}, 256, 190, false, false, false},
        {"ChoiceControl",
         "",
         DescList,
         {"Fixed", "Depth", "G-Fixed", "G-Depth"},
         346,
         150,
         false,
         false,
         false},
        {"FloatControl", "", DescFloat, none, 340, 170, false, false, false},
        {"BoolButtonControl", "E", DescBool, none, 440, 170, true, true, false},
        {"PercentControl", "", DescRange, none, 346, 190, false, false, false},
        {"BoolButtonControl", "E", DescBool, none, 496, 190, true, true, false},
        {"AreaControl", "", DescArea, none, 0, 150, true, false, true},
        {"AreaControl", "", DescArea, none, 0, 342, true, false, true},
        {"ButtonControl", "Preview", DescButton, none, 0, 352, true, true, false},
        {"PopupControl",
         "",
         DescList,
         {"Color", "Depth", "Special", "Preview"},
         100,
         352,
         false,
         false,
         false},
        {"BoolControl", "1/2 res", DescBool, none, 200, 352, false, false, false},
    };
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

TEST_F(SettingsPanel, CancelRestoresEverythingButTheClipboard) {
    GlowSetting* five = findOrAddSetting(instance.get(), 5); // not in the scene: kept
    five->sizeEnvelope = envelopes.make(0.02);
    ASSERT_TRUE(open([&] {
        panel.change(c(kEnable), 1);
        panel.changeVector(c(kKeyBox0 + 1), 10, 20, 30);
        c(kModeChoice)->intValue = 2;
        envelopes.editResult = 1;
        envelopes.editKeys = {{0.0, 0.01}};
        panel.press(c(kSizeE));
        panel.press(c(kCopy));
        panel.change(c(kSpecial), 1); // value 7: a new setting
        return 0;
    }));
    EXPECT_EQ(instance->enabled, 0);
    ASSERT_EQ(instance->settingCount, 1) << "settings made while open are dropped";
    const GlowSetting& kept = *instance->settings[0];
    EXPECT_EQ(kept.value, 5);
    ASSERT_NE(kept.sizeEnvelope, nullptr);
    EXPECT_EQ(fakes::FakeEnvelopes::valueOf(kept.sizeEnvelope), 0.02);
    // The clipboard keeps the copy of 3 as it stood.
    EXPECT_EQ(instance->clipboard.value, 3);
    EXPECT_EQ(instance->clipboard.keyRed[0], 10);
    EXPECT_EQ(instance->clipboard.mode, 2);
    ASSERT_NE(instance->clipboard.sizeEnvelope, nullptr);
    EXPECT_EQ(fakes::FakeEnvelopes::valueOf(instance->clipboard.sizeEnvelope), 0.01);
    EXPECT_EQ(instance->glowLayer.red, nullptr);
    EXPECT_EQ(instance->glowLayer.width, 0);
    instance.reset();
    EXPECT_EQ(envelopes.live(), 0) << "backup and edits released";
}

TEST_F(SettingsPanel, OkStoresTypedValuesAndTheEnableBox) {
    ASSERT_TRUE(open([&] {
        c(kDistance)->floatValue = 0.125; // typed: no callback
        c(kTransparency)->floatValue = 12.5;
        c(kEnable)->intValue = 1;
        return 1;
    }));
    EXPECT_EQ(instance->enabled, 1);
    ASSERT_EQ(instance->settingCount, 1);
    EXPECT_EQ(instance->settings[0]->distance, 0.125);
    EXPECT_EQ(instance->settings[0]->transparency, 12.5);
}

TEST_F(SettingsPanel, SwitchingValuesStoresShowsAndDropsThePreviewLayer) {
    ASSERT_TRUE(open([&] {
        panel.changeVector(c(kKeyBox0 + 1), 1, 2, 3);
        instance->glowLayer.red = static_cast<uint8_t*>(std::malloc(4)); // a preview's layer
        panel.change(c(kSpecial), 1);
        EXPECT_EQ(instance->selected->value, 7);
        EXPECT_EQ(c(kSurface)->intValue, 0) << "Crate carries 7 first";
        EXPECT_EQ(c(kKeyBox0 + 1)->vector[0], 255) << "7 shows its defaults";
        EXPECT_EQ(instance->glowLayer.red, nullptr);
        // The value box changes the shown value's setting at once.
        panel.change(c(kValueBox), 1);
        EXPECT_EQ(findOrAddSetting(instance.get(), 7)->enabled, 1);
        panel.change(c(kSpecial), 0);
        EXPECT_EQ(c(kKeyBox0 + 1)->vector[0], 1) << "3 shows its stored edit";
        EXPECT_EQ(c(kValueBox)->intValue, 0);
        return 1;
    }));
    ASSERT_EQ(instance->settingCount, 2);
    EXPECT_EQ(instance->settings[0]->keyRed[0], 1);
    EXPECT_EQ(instance->settings[1]->enabled, 1);
}

TEST_F(SettingsPanel, CopyOnOneValueAndPasteOnAnother) {
    ASSERT_TRUE(open([&] {
        panel.change(c(kValueBox), 1);
        c(kModeChoice)->intValue = 3;
        c(kTransparency)->floatValue = 70.0;
        panel.press(c(kCopy));
        panel.change(c(kSpecial), 1);
        panel.press(c(kPaste));
        EXPECT_EQ(c(kModeChoice)->intValue, 3);
        EXPECT_EQ(c(kValueBox)->intValue, 1);
        return 1;
    }));
    const GlowSetting& seven = *findOrAddSetting(instance.get(), 7);
    EXPECT_EQ(seven.value, 7);
    EXPECT_EQ(seven.owner, instance.get());
    EXPECT_EQ(seven.enabled, 1);
    EXPECT_EQ(seven.mode, 3);
    EXPECT_EQ(seven.transparency, 70.0);
}

TEST_F(SettingsPanel, GradientStripByEnabledKeyCount) {
    ASSERT_TRUE(open([&]() -> int32_t {
        const FakeControl* strip = c(kStrip);
        panel.change(c(kKeyBox0), 0);
        if (panel.drawn.empty()) {
            ADD_FAILURE() << "nothing drawn";
            return 1;
        }
        fakes::DrawCall last = panel.drawn.back();
        EXPECT_EQ(last.kind, "box");
        EXPECT_EQ(last.red, 4098);
        EXPECT_EQ(std::vector<int32_t>({last.x, last.y, last.width, last.height}),
                  std::vector<int32_t>({strip->x, strip->y, 500, 10}));

        panel.changeVector(c(kKeyBox0 + 4), 9, 8, 7); // key 1's colour; key 1 still off
        panel.drawn.clear();
        panel.change(c(kKeyBox0 + 3), 1); // key 1 on, at position 20
        if (panel.drawn.size() != 1u) {
            ADD_FAILURE() << panel.drawn.size() << " calls, not one box";
            return 1;
        }
        EXPECT_EQ(panel.drawn[0].kind, "rgbBox");
        EXPECT_EQ(std::vector<int32_t>({panel.drawn[0].red, panel.drawn[0].green,
                                        panel.drawn[0].blue, panel.drawn[0].width}),
                  std::vector<int32_t>({9, 8, 7, 500}));

        panel.drawn.clear();
        panel.change(c(kKeyBox0), 1); // keys 0 (white at 0) and 1
        EXPECT_EQ(panel.drawn.size(), 500u);
        for (size_t i = 0; i < panel.drawn.size(); ++i) {
            EXPECT_EQ(panel.drawn[i].x, strip->x + static_cast<int32_t>(i));
            EXPECT_EQ(panel.drawn[i].width, 1);
        }
        EXPECT_EQ(panel.drawn[0].red, 255);
        EXPECT_EQ(panel.drawn[499].red, 9) << "from key 1's entry on";
        return 1;
    }));
    EXPECT_EQ(instance->settings[0]->keyEnabled[1], 1) << "the strip stores the keys";
}

TEST_F(SettingsPanel, EnvelopeButtonOutcomes) {
    struct Case {
        int32_t result;
        bool hadEnvelope;
        bool expectEnvelope;
        double expectValue;
    };
    const Case cases[] = {
        {1, false, true, 0.07}, {1, true, true, 0.07},  {0, false, false, 0.0},
        {0, true, true, 0.03},  {-1, true, false, 0.0}, {-1, false, false, 0.0},
        {5, true, true, 0.03},  {5, false, false, 0.0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE("result " + std::to_string(k.result) + (k.hadEnvelope ? " with" : " without"));
        instance.reset(createInstance());
        const uint8_t lamp[4] = {3, 0, 0, 0};
        addSurface(instance.get(), "Lamp", lamp);
        if (k.hadEnvelope)
            findOrAddSetting(instance.get(), 3)->sizeEnvelope = envelopes.make(0.03);
        panel.makeCurrent();
        envelopes.editResult = k.result;
        envelopes.editKeys = {{0.0, 0.07}};
        envelopes.editRequests.clear();
        const int liveBefore = envelopes.live();
        ASSERT_TRUE(open([&] {
            c(kSizeE)->intValue = 1 - c(kSizeE)->intValue; // the host toggles the button
            panel.press(c(kSizeE));
            EXPECT_EQ(c(kSizeE)->intValue, k.expectEnvelope ? 1 : 0);
            EXPECT_EQ(c(kDistance)->ghosted, k.expectEnvelope);
            return 1;
        }));
        const GlowSetting& s = *instance->settings[0];
        ASSERT_EQ(s.sizeEnvelope != nullptr, k.expectEnvelope);
        if (k.expectEnvelope) {
            EXPECT_EQ(fakes::FakeEnvelopes::valueOf(s.sizeEnvelope), k.expectValue);
        }
        EXPECT_EQ(envelopes.live(),
                  liveBefore - (k.hadEnvelope ? 1 : 0) + (k.expectEnvelope ? 1 : 0))
            << "no envelope leaks whatever the answer";
        ASSERT_EQ(envelopes.editRequests.size(), 1u);
        const EnvelopeEditRequest& r = envelopes.editRequests[0];
        EXPECT_EQ(r.panelServices, &panel.service);
        EXPECT_STREQ(r.title, "Glow size envelope");
        EXPECT_STREQ(r.label, "Size");
        EXPECT_EQ(r.low, 0.0f);
        EXPECT_EQ(r.high, 0.1f);
        for (unsigned char byte : r.zero)
            ASSERT_EQ(byte, 0);
    }

    // The transparency button's request.
    instance.reset(createInstance());
    const uint8_t lamp[4] = {3, 0, 0, 0};
    addSurface(instance.get(), "Lamp", lamp);
    panel.makeCurrent();
    envelopes.editRequests.clear();
    envelopes.editResult = 1;
    ASSERT_TRUE(open([&] {
        panel.press(c(kTransE));
        EXPECT_TRUE(c(kTransparency)->ghosted);
        return 1;
    }));
    ASSERT_EQ(envelopes.editRequests.size(), 1u);
    EXPECT_STREQ(envelopes.editRequests[0].title, "Glow trans envelope");
    EXPECT_STREQ(envelopes.editRequests[0].label, "Transparency");
    EXPECT_EQ(envelopes.editRequests[0].high, 100.0f);
    EXPECT_NE(instance->settings[0]->transparencyEnvelope, nullptr);
}

TEST_F(SettingsPanel, ControlTheHostCannotMakeLeavesNoPanelAndTheInstanceUntouched) {
    findOrAddSetting(instance.get(), 3)->enabled = 1;
    for (int refuse = 0; refuse < 35; ++refuse) {
        SCOPED_TRACE("control " + std::to_string(refuse + 1) + " refused");
        panel.refuseControl = refuse;
        panel.makeCurrent();
        const int destroyed = panel.panelsDestroyed;
        bool opened = false;
        EXPECT_FALSE(open([&] {
            opened = true;
            return 1;
        }));
        EXPECT_FALSE(opened);
        EXPECT_EQ(panel.panelsDestroyed, destroyed + 1);
        EXPECT_EQ(currentPanel, nullptr);
        EXPECT_EQ(static_cast<int>(panel.controls.size()), 0);
        ASSERT_EQ(instance->settingCount, 1);
        EXPECT_EQ(instance->settings[0]->enabled, 1);
    }
}

TEST_F(SettingsPanel, ManyOpeningsReleaseAllTheyMake) {
    for (int round = 0; round < 50; ++round) {
        panel.makeCurrent();
        ASSERT_TRUE(open([&] {
            envelopes.editResult = 1;
            panel.press(c(kSizeE));
            panel.press(c(kCopy));
            panel.change(c(kSpecial), round % 3);
            return round % 2;
        }));
    }
    instance.reset();
    EXPECT_EQ(envelopes.live(), 0);
}
