// The panel's preview of the last frame, drawn by the built Orvit.p into the
// headless host's canvas: each display choice at full and half resolution,
// the "Preview" button's glow, and when "Preview" has nothing to show.
#include "module_panel.h"
#include "orvit/core/memory_frame.h"
#include "orvit/panel/preview_picture.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace orvit::core;
using namespace orvit::panel;
using paneltest::Opened;

using Rgb = std::array<uint8_t, 3>;
const float kFar = 1300000014336.0f;

// What one snapshot element holds.
struct Sample {
    Rgb colour{};
    uint8_t special = 0;
    float depth = kFar;
};

// A 512 x 384 frame whose every second pixel of every second row, the one the
// snapshot samples, holds `at`(c, r); the rest hold other values, which the
// snapshot must never show. Its start time is 2.0, so that anything read at
// the frame's time rather than at 0 shows.
MemoryFrame frameOf(const std::function<Sample(int32_t c, int32_t r)>& at) {
    MemoryFrame f(512, 384);
    f.start = 2.0;
    for (int32_t y = 0; y < f.height; ++y)
        for (int32_t x = 0; x < f.width; ++x) {
            const size_t i = f.at(x, y);
            if (x % 2 != 0 || y % 2 != 0) {
                f.red[i] = f.green[i] = f.blue[i] = 201;
                f.depth[i] = 1000.0f;
                f.special[i] = 99;
                continue;
            }
            const Sample s = at(x / 2, y / 2);
            f.red[i] = s.colour[0];
            f.green[i] = s.colour[1];
            f.blue[i] = s.colour[2];
            f.special[i] = s.special;
            f.depth[i] = s.depth;
        }
    f.resetOutput();
    return f;
}

bool inBlock(int32_t c, int32_t r, int32_t left, int32_t top, int32_t size) {
    return c >= left && c < left + size && r >= top && r < top + size;
}

// One setting of value 3 and its five key lines: key 1 white at 0, the rest off.
std::vector<std::string> settingsOf3(const std::string& line, const std::string& flags,
                                     const std::vector<std::string>& envelopes = {}) {
    std::vector<std::string> lines = {"v 04", "1 1", line, flags};
    lines.insert(lines.end(), envelopes.begin(), envelopes.end());
    for (const char* key : {"1 255 255 255 0", "0 255 255 255 20", "0 255 255 255 40",
                            "0 255 255 255 60", "0 255 255 255 80"})
        lines.push_back(key);
    return lines;
}

// One opening with the host taking the preview area at the script's end.
struct Shown {
    Opened opened;
    Picture picture;
    DrawCounts redraw; // the calls of that last drawing of the area
};

class PanelPreview : public paneltest::ModulePanelTest {
  protected:
    Shown show(Instance& instance, const std::string& script) {
        ScriptedUser user(parseScript(script, "test"));
        PreviewTaker taker(user);
        Shown s;
        s.opened = open(instance, taker);
        EXPECT_EQ(user.error(), "");
        EXPECT_TRUE(taker.taken());
        s.picture = taker.picture();
        s.redraw = taker.redrawCalls();
        return s;
    }
    Instance rendered(const std::vector<std::string>& settings, MemoryFrame frame) {
        Instance instance = loaded(settings);
        instance.process(frame);
        return instance;
    }
};

Rgb grey(uint8_t g) {
    return {g, g, g};
}

// Every pixel of the picture against `expected`; the first mismatch is named.
void expectPicture(const Picture& p, const std::function<Rgb(int32_t c, int32_t r)>& expected) {
    ASSERT_EQ(p.width, 256);
    ASSERT_EQ(p.height, 192);
    for (int32_t r = 0; r < 192; ++r)
        for (int32_t c = 0; c < 256; ++c)
            ASSERT_EQ(p.pixel(c, r), expected(c, r)) << "x " << c << " y " << r;
}

const std::vector<std::string> kPlain = settingsOf3("3 1 0 0.050000 0.000000", "0 0");

Sample colourful(int32_t c, int32_t r) {
    Sample s;
    s.colour = {static_cast<uint8_t>(c), static_cast<uint8_t>(r),
                static_cast<uint8_t>(c * 7 + r * 3)};
    return s;
}

TEST_F(PanelPreview, ColourShowsEachElementInPlaceAndHalfResolutionEverySecondAsABox) {
    Instance instance = rendered(kPlain, frameOf(colourful));

    const Shown full = show(instance, "cancel\n");
    EXPECT_EQ(full.redraw.pixels, 49152u);
    EXPECT_EQ(full.redraw.rgbBoxes, 0u);
    expectPicture(full.picture, [](int32_t c, int32_t r) { return colourful(c, r).colour; });

    const Shown half = show(instance, "tick \"1/2 res\" on\ncancel\n");
    EXPECT_EQ(half.redraw.pixels, 0u);
    EXPECT_EQ(half.redraw.rgbBoxes, 12288u);
    EXPECT_EQ(half.picture.pixel(1, 1), colourful(0, 0).colour);
    expectPicture(half.picture, [](int32_t c, int32_t r) {
        return colourful(c & ~1, r & ~1).colour; // element 257 never shows
    });
}

TEST_F(PanelPreview, DepthIsGreyFromNearestWhiteToFarthestBlack) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        std::function<float(int32_t c, int32_t r)> depth;
        std::function<uint8_t(int32_t c, int32_t r)> grey;
    };
    const Case cases[] = {
        {"10, 20 and 30 over far background, one not a number",
         [&](int32_t c, int32_t r) {
             return c == 200 && r == 20         ? nan
                    : inBlock(c, r, 10, 10, 20) ? 10.0f
                    : inBlock(c, r, 50, 10, 20) ? 20.0f
                    : inBlock(c, r, 90, 10, 20) ? 30.0f
                                                : kFar;
         },
         [](int32_t c, int32_t r) -> uint8_t {
             return inBlock(c, r, 10, 10, 20) ? 255 : inBlock(c, r, 50, 10, 20) ? 127 : 0;
         }},
        {"one depth throughout: span 0",
         [](int32_t c, int32_t r) { return inBlock(c, r, 0, 0, 100) ? kFar : 5.0f; },
         [](int32_t, int32_t) -> uint8_t { return 0; }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Instance instance = rendered(kPlain, frameOf([&](int32_t c, int32_t r) {
                                         Sample s;
                                         s.depth = k.depth(c, r);
                                         return s;
                                     }));
        for (const char* half : {"off", "on"}) {
            SCOPED_TRACE(half);
            const Shown shown =
                show(instance, std::string("choose popup right of \"Preview\" Depth\n"
                                           "tick \"1/2 res\" ") +
                                   half + "\ncancel\n");
            const bool halved = half[1] == 'n';
            expectPicture(shown.picture, [&](int32_t c, int32_t r) {
                return halved ? grey(k.grey(c & ~1, r & ~1)) : grey(k.grey(c, r));
            });
        }
    }
}

TEST_F(PanelPreview, SpecialMasksTheValueThePopupShows) {
    auto special = [](int32_t c, int32_t r) -> uint8_t {
        return inBlock(c, r, 10, 10, 30)    ? 3
               : inBlock(c, r, 50, 10, 30)  ? 7
               : inBlock(c, r, 90, 10, 30)  ? 12
               : inBlock(c, r, 130, 10, 30) ? 9
                                            : 0;
    };
    Instance instance = rendered(kPlain, frameOf([&](int32_t c, int32_t r) {
                                     Sample s = colourful(c, r);
                                     s.special = special(c, r);
                                     return s;
                                 }));
    for (const char* value : {"3", "7", "12"}) {
        SCOPED_TRACE(value);
        const Shown shown = show(instance, std::string("choose \"Special Buffer\" ") + value +
                                               "\nchoose popup right of \"Preview\" Special\n"
                                               "cancel\n");
        const int v = std::stoi(value);
        expectPicture(shown.picture,
                      [&](int32_t c, int32_t r) { return grey(special(c, r) == v ? 255 : 0); });
    }
}

// Value 3 covers a 60 x 60 block of the snapshot, left edge at column 20,
// coloured (0, 10, 0) over black. Its core glows 255 at strength 255.
Sample blockOf3(int32_t c, int32_t r) {
    Sample s;
    if (inBlock(c, r, 20, 30, 60)) {
        s.special = 3;
        s.colour = {0, 10, 0};
    }
    return s;
}

TEST_F(PanelPreview, PreviewAddsTheGlowOfTheSettingRunOnTheSnapshotAtTimeZero) {
    struct Case {
        const char* name;
        std::vector<std::string> settings;
        Rgb core;      // at (50, 60), inside the block
        int32_t reach; // the glow's radius left of column 20
    };
    const Case cases[] = {
        // 65025 / 256 = 254.0039; over 10 it passes 255. The radius is 5 %
        // of the snapshot's 256 columns, not of the frame's 512.
        {"transparency 0", kPlain, {254, 255, 254}, 12},
        {"transparency 50", settingsOf3("3 1 0 0.050000 50.000000", "0 0"), {127, 137, 127}, 12},
        // The transparency envelope is not the preview's: the static value is.
        {"a transparency envelope of 100",
         settingsOf3("3 1 0 0.050000 0.000000", "0 1", {"keys 1", "0 100"}),
         {254, 255, 254},
         12},
        // The size envelope is read at time 0 (0.02 of 256), not at the
        // frame's time 2.0 (0.1).
        // Above 100 the glow takes away, to no less than 0: no colour
        // outside 0..255 reaches the host (its faults would note one).
        {"transparency 150", settingsOf3("3 1 0 0.050000 150.000000", "0 0"), {0, 0, 0}, 0},
        {"a size envelope",
         settingsOf3("3 1 0 0.050000 0.000000", "1 0", {"keys 2", "0 0.02", "2 0.1"}),
         {254, 255, 254},
         5},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Instance instance = rendered(k.settings, frameOf(blockOf3));
        const Shown shown = show(instance, "press \"Preview\"\ncancel\n");
        EXPECT_EQ(describeValue(control(shown.opened, 34)), "3") << "the display is \"Preview\"";
        EXPECT_EQ(shown.redraw.pixels, 49152u);
        EXPECT_EQ(shown.picture.pixel(50, 60), k.core);
        // At the radius the falloff is 0; one pixel nearer it is not.
        if (k.reach > 0) {
            EXPECT_EQ(shown.picture.pixel(20 - k.reach, 60), grey(0));
            EXPECT_NE(shown.picture.pixel(20 - k.reach + 1, 60), grey(0));
        }
        EXPECT_EQ(shown.picture.pixel(200, 150), grey(0)) << "far from the block";
    }
}

// "Preview" shows only the layer of the last press: switching to another
// value, or closing the panel, discards it, and "Preview" then draws nothing.
TEST_F(PanelPreview, PreviewDrawsNothingOnceTheLayerIsDiscarded) {
    struct Case {
        const char* name;
        const char* before; // a first opening, or nothing
        const char* script;
        size_t pixels; // drawn by the last redraw of the area
    };
    const Case cases[] = {
        {"pressed, the same value chosen again", nullptr,
         "press \"Preview\"\nchoose \"Special Buffer\" 3\ncancel\n", 49152},
        {"pressed, then another value", nullptr,
         "press \"Preview\"\nchoose \"Special Buffer\" 7\ncancel\n", 0},
        {"pressed, then back to the same value", nullptr,
         "press \"Preview\"\nchoose \"Special Buffer\" 7\nchoose \"Special Buffer\" 3\ncancel\n",
         0},
        {"pressed and closed with OK, shown on the next opening", "press \"Preview\"\nok\n",
         "choose popup right of \"Preview\" Preview\ncancel\n", 0},
        {"pressed and closed with Cancel, shown on the next opening", "press \"Preview\"\ncancel\n",
         "choose popup right of \"Preview\" Preview\ncancel\n", 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Instance instance = rendered(kPlain, frameOf(blockOf3));
        if (k.before != nullptr)
            show(instance, k.before);
        const Shown shown = show(instance, k.script);
        EXPECT_EQ(shown.redraw.pixels, k.pixels);
    }
}

TEST_F(PanelPreview, WithoutARenderedFrameThePreviewDrawsNothing) {
    Instance instance = loaded(kPlain);
    const Shown shown = show(instance, "cancel\n");
    EXPECT_TRUE(control(shown.opened, 34).ghosted);
    EXPECT_EQ(shown.redraw.pixels + shown.redraw.rgbBoxes, 0u);
    expectPicture(shown.picture, [](int32_t, int32_t) { return kCanvasBackground; });
}

} // namespace
