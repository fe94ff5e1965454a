// The preview area found among a panel's controls and taken from its canvas.
#include "orvit/panel/preview_picture.h"
#include "panel_host_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using namespace orvit::host;
using namespace orvit::panel;
using namespace paneltest;

// A user that runs `act` on the open panel, then answers `answer`.
struct Acting : PanelUser {
    std::function<void(Panel&)> act;
    int32_t answer = 1;
    int32_t run(Panel& panel, int32_t) override {
        if (act)
            act(panel);
        return answer;
    }
};

// The area paints each pixel (x, y) of its own as (x, y, 7) from its origin.
extern "C" void ORVIT_CALL paintArea(ControlHandle control, void* userData, int32_t) {
    const int32_t ox = getInt(control, AttrOriginX), oy = getInt(control, AttrOriginY);
    auto* calls = static_cast<int*>(userData);
    ++*calls;
    const DrawFuncs* draw = panelServices()->drawFuncs;
    for (int32_t y = 0; y < 192; ++y)
        for (int32_t x = 0; x < 256; ++x)
            draw->drawRGBPixel(PanelControl::fromHandle(control)->panel().handle(), x, y, 7, ox + x,
                               oy + y);
}

TEST(PreviewPicture, TheTakerRedrawsTheFirst256By192AreaAtTheEndAndKeepsItsPixels) {
    struct Case {
        const char* name;
        std::vector<std::array<int32_t, 2>> areas; // sizes, in creation order
        const char* label;                         // of every area
        bool releaseFirst;                         // the user's run releases the panel
        bool taken;
        int painted; // the 256 x 192 area's draws
    };
    const Case cases[] = {
        {"the one area", {{256, 192}}, "", false, true, 1},
        {"after others, labelled", {{256, 5}, {500, 10}, {256, 192}}, "Preview", false, true, 1},
        {"none of that size", {{256, 191}, {255, 192}}, "", false, false, 0},
        {"released before the answer", {{256, 192}}, "", true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostServices host;
        const PanelServices* services = panelServices();
        PanelHandle panel = services->createPanel("t", services);
        int painted = 0;
        for (const auto& size : c.areas) {
            const ControlDesc desc = areaDesc(size[0], size[1]);
            ControlHandle area = services->addControl(panel, "AreaControl", &desc, c.label);
            if (size[0] == 256 && size[1] == 192) {
                bindRoutine(area, AttrDrawCallback, ControlDrawFunc{paintArea}, &painted);
            }
        }
        Acting user;
        user.answer = 7;
        if (c.releaseFirst)
            user.act = [&](Panel& p) { host.panelHost.destroyPanel(p.handle()); };
        PreviewTaker taker(user);
        host.panelHost.user = &taker;
        EXPECT_EQ(services->openPanel(panel, 7), 7) << "the user's answer";
        EXPECT_EQ(taker.taken(), c.taken);
        EXPECT_EQ(painted, c.painted);
        services->destroyPanel(panel);
        if (!c.taken)
            continue;
        EXPECT_EQ(taker.redrawCalls().pixels, 49152u);
        const Picture& p = taker.picture();
        ASSERT_EQ(p.width, 256);
        ASSERT_EQ(p.height, 192);
        ASSERT_EQ(p.rgb.size(), 256u * 192u * 3u);
        for (int32_t y = 0; y < 192; ++y)
            for (int32_t x = 0; x < 256; ++x) {
                const size_t i = (static_cast<size_t>(y) * 256 + x) * 3;
                ASSERT_EQ(
                    (std::array<uint8_t, 3>{p.rgb[i], p.rgb[i + 1], p.rgb[i + 2]}),
                    (std::array<uint8_t, 3>{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7}))
                    << "x " << x << " y " << y;
            }
    }
}

} // namespace
