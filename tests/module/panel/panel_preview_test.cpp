#include "module/abi/frame_access.h"
#include "module/panel/panel_preview.h"
#include "module/services/services.h"
#include "module/settings/surface_table.h"
#include "panel_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

using namespace orvit;
using fakes::FakeControl;
using namespace panelunit;

namespace {

constexpr size_t kElements = 256 * 192;

// Special values 3, 7 and 12, and a snapshot the test fills.
class Preview : public PanelFixture {
  protected:
    void SetUp() override {
        instance.reset(createInstance());
        const uint8_t a[4] = {3, 7, 12, 0};
        addSurface(instance.get(), "Shape", a);
        ASSERT_TRUE(obtainSnapshot(instance.get()));
        auto& s = instance->snapshot;
        std::memset(s.red, 0, kElements);
        std::memset(s.green, 0, kElements);
        std::memset(s.blue, 0, kElements);
        std::memset(s.special, 0, kElements);
        std::fill(s.depth, s.depth + kElements, kHostFarDepth);
        instance->maxDepth = 0.0f;
        instance->minDepth = kHostFarDepth;
        panel.makeCurrent();
    }

    // Runs `act` inside the open panel, then cancels.
    void whileOpen(const std::function<void()>& act) {
        ASSERT_TRUE(open([&] {
            act();
            return 0;
        }));
    }
    // The preview area redrawn alone with the given display choice.
    void redraw(int32_t display, bool half = false) {
        c(kDisplay)->intValue = display;
        c(kHalf)->intValue = half ? 1 : 0;
        panel.drawn.clear();
        FakeControl* area = c(kPreviewArea);
        area->record.drawControl(&area->record, DrawRefresh);
    }
    // The grey (or red) painted at snapshot element (r, c).
    int32_t paintedAt(int32_t r, int32_t col) {
        const FakeControl* area = c(kPreviewArea);
        for (const fakes::DrawCall& d : panel.drawn)
            if (d.x == area->x + col && d.y == area->y + r)
                return d.red;
        return -1;
    }
    // The first `n` elements of the snapshot's row 0, as painted.
    std::vector<int32_t> paintedRow(int32_t n) {
        std::vector<int32_t> row;
        for (int32_t col = 0; col < n; ++col)
            row.push_back(paintedAt(0, col));
        return row;
    }
};

} // namespace

TEST_F(Preview, ColourAtFullResolutionPaintsEveryElementInPlace) {
    auto& s = instance->snapshot;
    for (size_t i = 0; i < kElements; ++i) {
        s.red[i] = static_cast<uint8_t>(i);
        s.green[i] = static_cast<uint8_t>(i >> 8);
        s.blue[i] = static_cast<uint8_t>(i * 7);
    }
    whileOpen([&] {
        redraw(DisplayColor);
        ASSERT_EQ(panel.drawn.size(), kElements);
        const FakeControl* area = c(kPreviewArea);
        for (size_t i = 0; i < kElements; ++i) {
            const fakes::DrawCall& d = panel.drawn[i];
            const int32_t r = static_cast<int32_t>(i / 256), col = static_cast<int32_t>(i % 256);
            ASSERT_EQ(d.kind, "pixel");
            ASSERT_EQ(d.x, area->x + col);
            ASSERT_EQ(d.y, area->y + r);
            ASSERT_EQ(d.red, s.red[i]) << "x " << col << " y " << r;
            ASSERT_EQ(d.green, s.green[i]) << "x " << col << " y " << r;
            ASSERT_EQ(d.blue, s.blue[i]) << "x " << col << " y " << r;
        }
    });
}

TEST_F(Preview, HalfResolutionPaintsEverySecondSampleAsABox) {
    auto& s = instance->snapshot;
    s.red[0] = 40;
    s.red[257] = 99; // row 1, column 1: never shown
    whileOpen([&] {
        redraw(DisplayColor, true);
        ASSERT_EQ(panel.drawn.size(), 12288u);
        const fakes::DrawCall& first = panel.drawn[0];
        EXPECT_EQ(first.kind, "rgbBox");
        EXPECT_EQ(first.red, 40);
        EXPECT_EQ(first.width, 2);
        EXPECT_EQ(first.height, 2) << "covers (ox + 1, oy + 1) with element 0";
        for (const fakes::DrawCall& d : panel.drawn)
            ASSERT_NE(d.red, 99);
    });
}

TEST_F(Preview, DepthGreysFromNearestWhiteToFarthestBlack) {
    auto& s = instance->snapshot;
    const float depths[] = {10.0f, 20.0f, 30.0f, std::nanf("")};
    std::copy(std::begin(depths), std::end(depths), s.depth);
    instance->minDepth = 10.0f;
    instance->maxDepth = 30.0f;
    whileOpen([&] {
        redraw(DisplayDepth);
        // Elements 3 and 4: not a number, and the far background.
        EXPECT_EQ(paintedRow(5), (std::vector<int32_t>{255, 127, 0, 0, 0}));
    });
    // Every non-far sample at one depth: span 0, all black.
    std::fill(s.depth, s.depth + 10, 5.0f);
    instance->minDepth = instance->maxDepth = 5.0f;
    panel.makeCurrent();
    whileOpen([&] {
        redraw(DisplayDepth);
        for (const fakes::DrawCall& d : panel.drawn)
            ASSERT_EQ(d.red, 0);
    });
}

TEST_F(Preview, SpecialMasksThePopupsValue) {
    auto& s = instance->snapshot;
    const uint8_t values[] = {3, 7, 12};
    std::copy(std::begin(values), std::end(values), s.special);
    whileOpen([&] {
        panel.change(c(kSpecial), 1);
        redraw(DisplaySpecial);
        EXPECT_EQ(paintedRow(3), (std::vector<int32_t>{0, 255, 0}));
        EXPECT_EQ(paintedAt(5, 5), 0);
    });
}

TEST_F(Preview, PreviewCompositeUsesTheStaticTransparencyOver256) {
    // A 20 x 20 block of 3 whose core glows white at strength 255.
    auto& s = instance->snapshot;
    for (int r = 50; r < 70; ++r)
        for (int col = 50; col < 70; ++col)
            s.special[r * 256 + col] = 3;
    s.red[60 * 256 + 60] = 10;
    struct Case {
        double transparency;
        int32_t black; // over a snapshot of 0
        int32_t ten;   // over 10
    };
    const Case cases[] = {{0.0, 254, 255}, {50.0, 127, 137}, {150.0, 0, 0}, {100.0, 0, 10}};
    for (const Case& k : cases) {
        SCOPED_TRACE("transparency " + std::to_string(k.transparency));
        panel.makeCurrent();
        whileOpen([&] {
            c(kTransparency)->floatValue = k.transparency;
            c(kDistance)->floatValue = 0.0;
            panel.press(c(kPreviewButton));
            EXPECT_EQ(c(kDisplay)->intValue, DisplayPreview);
            EXPECT_EQ(instance->glowLayer.width, 256);
            EXPECT_EQ(instance->glowLayer.height, 192);
            redraw(DisplayPreview);
            EXPECT_EQ(paintedAt(55, 55), k.black);
            EXPECT_EQ(paintedAt(60, 60), k.ten);
            EXPECT_EQ(paintedAt(0, 0), 0) << "no glow: the snapshot itself";
        });
        EXPECT_EQ(instance->glowLayer.red, nullptr) << "released on closing";
    }
}

TEST_F(Preview, PreviewDrawsNothingWithoutALayerOfItsOwnValue) {
    whileOpen([&] {
        panel.press(c(kPreviewButton));
        redraw(DisplayPreview);
        EXPECT_EQ(panel.drawn.size(), kElements);
        panel.change(c(kSpecial), 1); // another value drops the layer
        redraw(DisplayPreview);
        EXPECT_TRUE(panel.drawn.empty());
        redraw(7);
        EXPECT_TRUE(panel.drawn.empty()) << "no such display choice";
    });
}

TEST_F(Preview, PreviewRunsTheShownModeAtTimeZeroOnTheSnapshot) {
    // A size envelope is read at the snapshot's time, 0.0, with a width of 256.
    GlowSetting* three = findOrAddSetting(instance.get(), 3);
    three->sizeEnvelope = envelopes.make({{0.0, 0.05}, {1.0, 0.5}});
    auto& s = instance->snapshot;
    for (int r = 50; r < 70; ++r)
        for (int col = 50; col < 70; ++col)
            s.special[r * 256 + col] = 3;
    whileOpen([&] {
        c(kModeChoice)->intValue = 2; // G-Fixed: no core fill
        panel.press(c(kPreviewButton));
        ASSERT_EQ(envelopes.evaluations.size(), 1u);
        EXPECT_EQ(envelopes.evaluations[0].time, 0.0);
        ASSERT_NE(instance->glowLayer.strength, nullptr);
        EXPECT_EQ(instance->glowLayer.strength[60 * 256 + 60], 37)
            << "nine from the outline: falloff[9] of R = 12, not a filled core";
        // R = trunc(256 x 0.05) = 12: the glow reaches 11 beyond the edge, not 12.
        EXPECT_GT(instance->glowLayer.strength[60 * 256 + 80], 0);
        EXPECT_EQ(instance->glowLayer.strength[60 * 256 + 81], 0);
    });
}

TEST_F(Preview, WithoutASnapshotNothingIsDrawnOrRun) {
    releaseSnapshot(instance.get());
    whileOpen([&] {
        EXPECT_TRUE(c(kPreviewButton)->ghosted);
        panel.press(c(kPreviewButton)); // a host that offers it anyway
        EXPECT_EQ(instance->glowLayer.red, nullptr);
        EXPECT_NE(c(kDisplay)->intValue, DisplayPreview);
        redraw(DisplayColor);
        EXPECT_TRUE(panel.drawn.empty());
    });
}
