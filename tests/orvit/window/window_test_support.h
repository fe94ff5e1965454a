// Opens the settings panel of the built Orvit.p on the demo scene's objects,
// with any panel user: the headless script runner or a window worked by a
// driver, so that the two can be given the same actions and compared.
#pragma once

#include "orvit/core/loader.h"
#include "orvit/core/memory_frame.h"
#include "orvit/core/saved_lines.h"
#include "orvit/host/host_services.h"
#include "orvit/panel/panel_model.h"
#include "orvit/panel/script_runner.h"
#include "orvit/window/display.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace windowtest {

// Skips the test where no X display can be opened.
#define REQUIRE_DISPLAY()                                                                          \
    do {                                                                                           \
        std::string why_;                                                                          \
        if (!orvit::window::openDisplay(&why_))                                                    \
            GTEST_SKIP() << why_;                                                                  \
    } while (0)

inline std::string demoFile(const std::string& name) {
    return std::string(ORVIT_DEMO_FOLDER) + "/" + name;
}

// The demo scene's settings: four values, each in its own mode, the lamp
// with a transparency envelope and the comet with a size envelope.
inline std::vector<std::string> demoSettings() {
    std::ifstream in(demoFile("glow.txt"), std::ios::binary);
    return orvit::core::splitLines(
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

// A 320 x 240 frame: a colour ramp, the four demo values in four blocks at
// depths 10 to 30, the far depth around them.
inline orvit::core::MemoryFrame demoFrame() {
    orvit::core::MemoryFrame f(320, 240);
    f.frame = 5;
    f.start = 5 / 24.0;
    f.end = 6 / 24.0;
    for (int32_t y = 0; y < f.height; ++y)
        for (int32_t x = 0; x < f.width; ++x) {
            const size_t i = f.at(x, y);
            f.red[i] = static_cast<uint8_t>(x * 255 / (f.width - 1));
            f.green[i] = static_cast<uint8_t>(y * 255 / (f.height - 1));
            f.blue[i] = 64;
            f.depth[i] = 1.3e12f;
            const int block = (x / 80) + 1;
            if (y >= 80 && y < 160 && x % 80 >= 20 && x % 80 < 60) {
                f.special[i] = static_cast<uint8_t>(block);
                f.depth[i] = 10.0f + 5.0f * static_cast<float>(block - 1) + 0.01f * (y - 80);
            }
        }
    return f;
}

// What a panel opening left behind.
struct Opening {
    std::vector<std::string> saved;    // the settings as the module saves them afterwards
    std::vector<std::string> controls; // describeControls as the panel closed
    orvit::panel::Canvas canvas;       // the panel's canvas as it closed
    bool opened = false;               // the user was asked
};

// Loads `settings` into an instance of Orvit.p, renders demoFrame() through it
// first when `withFrame`, and opens its settings panel with `user` at it.
inline Opening openPanel(orvit::panel::PanelUser& user, const std::vector<std::string>& settings,
                         bool withFrame) {
    using namespace orvit::core;
    using namespace orvit::host;
    using namespace orvit::panel;
    using namespace orvit::window;
    HostServices host;
    host.quiet = true;
    for (const char* object : {"lamp.lwo", "crate.lwo", "ring.lwo", "comet.lwo"})
        host.scene.objects.push_back(demoFile(std::string("objects/") + object));
    Camera camera;
    camera.horizontalFov.push_back({0.0, 60.0 * 3.14159265358979 / 180.0});
    host.scene.cameras.push_back(camera);

    struct Noting : PanelUser {
        PanelUser& user;
        bool asked = false;
        explicit Noting(PanelUser& u) : user(u) {}
        int32_t run(Panel& panel, int32_t flags) override {
            asked = true;
            return user.run(panel, flags);
        }
    } noting(user);
    host.panelHost.user = &noting;

    Opening out;
    const LoadedModule module(ORVIT_PLUGIN_FILE);
    const ImageFilter filter(module, "Tesk_Orvit", HostServices::lookup());
    Instance instance = filter.create();
    instance.load(settings);
    if (withFrame) {
        MemoryFrame frame = demoFrame();
        instance.process(frame);
    }
    filter.openInterface(instance);
    out.saved = instance.save();
    out.opened = noting.asked;
    if (!host.panelHost.panels().empty()) {
        Panel& panel = *host.panelHost.panels().back();
        out.controls = describeControls(panel);
        out.canvas = panel.canvas();
    }
    return out;
}

// The headless host's opening with `script` at the panel; its error, if any,
// in *error.
inline Opening openHeadless(const std::string& script, const std::vector<std::string>& settings,
                            bool withFrame, std::string* error = nullptr) {
    orvit::panel::ScriptedUser user(orvit::panel::parseScript(script, "test"));
    Opening out = openPanel(user, settings, withFrame);
    if (error != nullptr)
        *error = user.error();
    return out;
}

// The first pixel where two boxes differ, as "x y: R G B vs R G B"; empty
// when they are the same.
inline std::string firstDifference(const orvit::panel::Canvas& a, const orvit::panel::Canvas& b,
                                   int x, int y, int w, int h) {
    for (int row = y; row < y + h; ++row)
        for (int col = x; col < x + w; ++col) {
            const auto p = a.pixel(col, row), q = b.pixel(col, row);
            if (p != q)
                return std::to_string(col) + " " + std::to_string(row) + ": " +
                       std::to_string(p[0]) + " " + std::to_string(p[1]) + " " +
                       std::to_string(p[2]) + " vs " + std::to_string(q[0]) + " " +
                       std::to_string(q[1]) + " " + std::to_string(q[2]);
        }
    return "";
}

} // namespace windowtest
