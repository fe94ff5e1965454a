// Times process() on a 1920 x 1080 frame with one large shape and several
// small ones: a disabled pass-through, then one enabled setting per case.
#include "filter/process.h"
#include "host/items.h"
#include "services/services.h"
#include "settings/settings.h"
#include "standin/core/memory_frame.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace orvit;
using standin::FrameBinding;
using standin::MemoryFrame;

namespace {

struct Case {
    const char* name;
    int32_t mode;
    double distance;
};

void paintScene(MemoryFrame& frame) {
    for (size_t i = 0; i < frame.red.size(); ++i) {
        frame.red[i] = static_cast<uint8_t>(i * 7);
        frame.green[i] = static_cast<uint8_t>(i * 13);
        frame.blue[i] = static_cast<uint8_t>(i * 3);
    }
    // A large disc of value 1 in the middle, nearer to the camera.
    const int cx = frame.width / 2, cy = frame.height / 2, r = 300;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const size_t i = frame.at(x, y);
            frame.depth[i] = kHostFarDepth;
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) {
                frame.special[i] = 1;
                frame.depth[i] = 10.0f + static_cast<float>(y - (cy - r)) * 0.72f;
            }
        }
    // Twelve small squares of value 1 spread over the frame, at several depths.
    for (int k = 0; k < 12; ++k) {
        const int x0 = 80 + (k % 6) * 300, y0 = 60 + (k / 6) * 850;
        for (int y = y0; y < y0 + 40; ++y)
            for (int x = x0; x < x0 + 40; ++x) {
                frame.special[frame.at(x, y)] = 1;
                frame.depth[frame.at(x, y)] = 10.0f + 15.0f * static_cast<float>(k);
            }
    }
}

// A camera with K = 1, so that a glow size of 1.0 spreads the outline radii
// of the scene's depths (10 to about 440) over 2..100 pixels at width 1920.
int cameraItem = 0;
ItemId firstItem(int32_t, ItemId) {
    return &cameraItem;
}
int32_t viewValues(ItemId, double, double* k, double* k2) {
    *k = 1.0;
    *k2 = 0.0;
    return 1;
}
ItemInfo itemInfo{firstItem, nullptr};
CameraInfo cameraInfo{nullptr, nullptr, nullptr, nullptr, nullptr, viewValues};
void* lookup(const char* name, int32_t) {
    if (std::strcmp(name, "LW Item Info 2") == 0)
        return &itemInfo;
    if (std::strcmp(name, "LW Camera Info") == 0)
        return &cameraInfo;
    return nullptr;
}

double timeProcess(FilterInstance* instance, MemoryFrame& frame, int repeats) {
    std::vector<double> runs;
    for (int i = 0; i < repeats; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        FrameBinding binding(frame);
        process(instance, binding.access());
        auto t1 = std::chrono::steady_clock::now();
        runs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    MemoryFrame frame(1920, 1080);
    paintScene(frame);

    FilterInstance* instance = createInstance();
    instance->enabled = 0;
    const double passThrough = timeProcess(instance, frame, repeats);
    std::printf("frame 1920x1080, median of %d runs\n", repeats);
    std::printf("%-28s %10.2f ms  ratio %6.2f\n", "pass-through (disabled)", passThrough, 1.0);

    const Case cases[] = {
        {"Fixed 0.01", ModeFixed, 0.01},
        {"Fixed 0.05", ModeFixed, 0.05},
        {"Fixed 0.1", ModeFixed, 0.1},
        {"G-Fixed 0.05", ModeGFixed, 0.05},
        {"Depth 1.0 (R 2..100)", ModeDepth, 1.0},
        {"G-Depth 1.0 (R 2..100)", ModeGDepth, 1.0},
    };
    orvit::globalLookup = lookup;
    instance->enabled = 1;
    GlowSetting* setting = appendSetting(instance, 1);
    setting->enabled = 1;
    for (const Case& c : cases) {
        setting->mode = c.mode;
        setting->distance = c.distance;
        const double ms = timeProcess(instance, frame, repeats);
        std::printf("%-28s %10.2f ms  ratio %6.2f\n", c.name, ms, ms / passThrough);
    }
    destroyInstance(instance);
    return 0;
}
