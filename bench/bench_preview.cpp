// One redraw of the settings panel's 256 x 192 preview area through the
// headless host: the built Orvit.p loaded by the stand-in, a 1920 x 1080
// frame rendered so the panel has a snapshot, the panel opened, and the
// area drawn again and again (drawControl, Refresh) in each display choice
// at full resolution (49,152 pixel calls) and half resolution (12,288 box
// calls). The time covers the module's colour of each element and the
// host's drawing call into the canvas.
//
//   bench_preview [REPEATS]
#include "bench_clock.h"
#include "orvit/core/loader.h"
#include "orvit/core/memory_frame.h"
#include "orvit/host/host_services.h"
#include "orvit/panel/panel_host.h"
#include "orvit/panel/preview_picture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

using namespace orvit::core;
using namespace orvit::host;
using namespace orvit::panel;

namespace {

// Colour noise, a disc of special value 1 and depths from 2 to 40.
MemoryFrame benchFrame() {
    MemoryFrame f(1920, 1080);
    uint32_t seed = 99;
    for (int32_t y = 0; y < f.height; ++y)
        for (int32_t x = 0; x < f.width; ++x) {
            const size_t i = f.at(x, y);
            seed = seed * 1664525u + 1013904223u;
            f.red[i] = static_cast<uint8_t>(seed >> 24);
            f.green[i] = static_cast<uint8_t>(seed >> 16);
            f.blue[i] = static_cast<uint8_t>(seed >> 8);
            const int32_t dx = x - 960, dy = y - 540;
            f.special[i] = dx * dx + dy * dy < 300 * 300 ? 1 : 0;
            f.depth[i] = 2.0f + 38.0f * static_cast<float>(x) / static_cast<float>(f.width);
        }
    f.resetOutput();
    return f;
}

const std::vector<std::string> kSettings = {"v 04",
                                            "1 1",
                                            "1 1 0 0.050000 30.000000",
                                            "0 0",
                                            "1 255 200 80 0",
                                            "1 255 0 0 100",
                                            "0 0 0 0 40",
                                            "0 0 0 0 60",
                                            "0 0 0 0 80"};

// Times redraws of the preview area while the panel is open.
class Timer : public PanelUser {
  public:
    explicit Timer(int repeats) : repeats_(repeats) {}

    int32_t run(Panel& panel, int32_t) override {
        PanelControl* area = findPreviewArea(panel);
        PanelControl* display = nullptr;
        PanelControl* half = nullptr;
        PanelControl* button = nullptr;
        for (const auto& c : panel.controls()) {
            if (c->type() == ControlType::Popup && c->label().empty())
                display = c.get();
            if (c->label() == "1/2 res")
                half = c.get();
            if (c->label() == "Preview")
                button = c.get();
        }
        if (area == nullptr || display == nullptr || half == nullptr || button == nullptr) {
            std::fprintf(stderr, "bench_preview: the panel has no preview controls\n");
            return 0;
        }
        panel.userPress(*button); // the glow layer for "Preview"
        std::printf("%-9s %-5s %10s %8s %12s %12s\n", "display", "res", "calls", "ms", "ns/call",
                    "redraws/s");
        const char* const names[] = {"Color", "Depth", "Special", "Preview"};
        for (int32_t choice = 0; choice < 4; ++choice)
            for (int32_t halved = 0; halved < 2; ++halved) {
                ControlPayload v;
                v.integer = choice;
                panel.userChange(*display, v);
                v.integer = halved;
                panel.userChange(*half, v);
                const DrawCounts before = panel.draws;
                const double ms =
                    bench::fastest(repeats_, [&] { panel.drawControl(*area, DrawRefresh); });
                // Every redraw makes the same calls.
                const size_t calls =
                    (panel.draws.pixels + panel.draws.rgbBoxes - before.pixels - before.rgbBoxes) /
                    static_cast<size_t>(repeats_);
                std::printf("%-9s %-5s %10zu %8.3f %12.1f %12.0f\n", names[choice],
                            halved != 0 ? "half" : "full", calls, ms,
                            calls > 0 ? ms * 1e6 / static_cast<double>(calls) : 0.0, 1e3 / ms);
            }
        return 0;
    }

  private:
    int repeats_;
};

} // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    try {
        HostServices host;
        host.quiet = true;
        host.scene.cameras.push_back(Camera{{{0.0, 1.0}}});
        // The objects carry special value 1, so that the panel opens.
        host.scene.objects = {ORVIT_DEMO_OBJECT};
        LoadedModule module(ORVIT_BUILT_MODULE);
        ImageFilter filter(module, "Tesk_Orvit", HostServices::lookup());
        Instance instance = filter.create();
        instance.load(kSettings);
        MemoryFrame frame = benchFrame();
        instance.process(frame);
        Timer timer(repeats);
        host.panelHost.user = &timer;
        std::printf("preview area redraws through the headless host, least of %d each\n", repeats);
        filter.openInterface(instance);
        host.panelHost.user = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_preview: %s\n", e.what());
        return 1;
    }
    return 0;
}
