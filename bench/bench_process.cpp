// The glow kernels and process() on one 1920 x 1080 frame: one large disc,
// twelve small squares, a thin bar, a block cut by the left border (about
// 6,500 outline pixels). For each kernel case the literal reference and the
// module's kernel run side by side on the same planes: both times, their
// ratio, and whether all four layer planes are identical. Then process()
// enabled and disabled against a plain copy of the planes and against the
// bare cost of the host's per-pixel writes. Last, the peak memory.
//
//   bench_process [REPEATS] [--quick] [--4k] [--only CASE [--fill stamp|nearest]]
// --quick skips the literal run at R = 960; --4k makes the frame 3840 x 2160,
// the same picture at twice the scale (the Depth radii stay 2..100); --only
// runs the kernel of one case (numbered from 0 in the printed order) REPEATS
// times and nothing else, for a profiler, with --fill forcing one of the two
// fills of the Fixed modes. --only with the number just past the kernel cases
// runs only the process() figures; with a greater number, only that one of
// the enabled process() cases (numbered on from there) and the pass-through.
#include "bench_clock.h"
#include "module/abi/items.h"
#include "module/filter/kernel/glow_kernel.h"
#include "module/filter/process.h"
#include "module/services/services.h"
#include "module/settings/settings.h"
#include "orvit/core/memory_frame.h"
#include "tests/module/filter/reference_kernel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace orvit;
using bench::fastest;
using orvit::core::FrameBinding;
using orvit::core::MemoryFrame;

namespace {

// The frame's special plane, drawn for 1920 x 1080 and scaled to the frame's
// width; depths are set per case.
void paintShapes(MemoryFrame& frame) {
    const int scale = frame.width / 1920;
    for (size_t i = 0; i < frame.red.size(); ++i) {
        frame.red[i] = static_cast<uint8_t>(i * 7);
        frame.green[i] = static_cast<uint8_t>(i * 13);
        frame.blue[i] = static_cast<uint8_t>(i * 3);
    }
    // One pixel of the 1920 x 1080 drawing.
    auto put = [&](int x, int y) {
        for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx)
                frame.special[frame.at(x * scale + dx, y * scale + dy)] = 1;
    };
    const int cx = 960, cy = 540, r = 300;
    for (int y = cy - r; y <= cy + r; ++y)
        for (int x = cx - r; x <= cx + r; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
                put(x, y);
    for (int k = 0; k < 12; ++k) {
        const int x0 = 80 + (k % 6) * 300, y0 = 60 + (k / 6) * 850;
        for (int y = y0; y < y0 + 40; ++y)
            for (int x = x0; x < x0 + 40; ++x)
                put(x, y);
    }
    // A thin bar, three pixels high, across most of the frame.
    for (int y = 980; y < 983; ++y)
        for (int x = 100; x < 1100; ++x)
            put(x, y);
    // A block cut by the left border.
    for (int y = 400; y < 560; ++y)
        for (int x = 0; x < 60; ++x)
            put(x, y);
}

enum class Depths { Smooth, Noisy };

// Depths giving outline radii 2..100 at glow size 1 with K = 1:
// R = trunc((W / 2) / D). Smooth: the radius grows steadily from the left edge
// to the right; noisy: each pixel's radius at random.
void paintDepths(MemoryFrame& frame, Depths kind) {
    std::mt19937 rng(7);
    const float half = static_cast<float>(frame.width) / 2.0f;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            float d = half / (2.05f + static_cast<float>(x) * (98.0f / frame.width));
            if (kind == Depths::Noisy)
                d = half / (2.05f + static_cast<float>(rng() % 9800) * 0.01f);
            frame.depth[frame.at(x, y)] = d;
        }
}

// A camera with K = 1.
int cameraItem = 0;
ItemId firstItem(int32_t, ItemId) {
    return &cameraItem;
}
ItemId nextItem(ItemId) {
    return nullptr;
}
int32_t viewValues(ItemId, double, double* k, double* k2) {
    *k = 1.0;
    *k2 = 0.0;
    return 1;
}
ItemInfo itemInfo{firstItem, nextItem};
CameraInfo cameraInfo{nullptr, nullptr, nullptr, nullptr, nullptr, viewValues};
void* lookup(const char* name, int32_t) {
    if (std::strcmp(name, "LW Item Info 2") == 0)
        return &itemInfo;
    if (std::strcmp(name, "LW Camera Info") == 0)
        return &cameraInfo;
    return nullptr;
}

// A FrameSource straight over the frame's planes.
class PlaneSource final : public FrameSource {
  public:
    explicit PlaneSource(const MemoryFrame& f) : frame(f) {
        width = f.width;
        height = f.height;
    }
    const uint8_t* specialLine(int32_t y) override { return frame.special.data() + frame.at(0, y); }
    const float* depthLine(int32_t y) override { return frame.depth.data() + frame.at(0, y); }
    const MemoryFrame& frame;
};

int32_t countOutline(const MemoryFrame& frame, int32_t minCount) {
    int32_t outline = 0;
    for (int y = 1; y < frame.height - 1; ++y)
        for (int x = 1; x < frame.width - 1; ++x) {
            if (frame.special[frame.at(x, y)] != 1)
                continue;
            int n = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    n += (dx || dy) && frame.special[frame.at(x + dx, y + dy)] == 1;
            outline += n >= minCount && n <= 7;
        }
    return outline;
}

struct KernelCase {
    const char* name;
    int32_t mode;
    double distance;
    Depths depths;
    bool literal;
    int32_t keys = 1; // enabled colour keys: one colour, or a ramp of several
};

// The first `keys` colour keys enabled, each its own colour.
void useKeys(GlowSetting* setting, int32_t keys) {
    for (int32_t i = 0; i < kColorKeyCount; ++i) {
        setting->keyEnabled[i] = i < keys ? 1 : 0;
        setting->keyRed[i] = static_cast<uint8_t>(255 - 60 * i);
        setting->keyGreen[i] = static_cast<uint8_t>(40 * i);
        setting->keyBlue[i] = static_cast<uint8_t>(90 + 30 * i);
    }
}

// A case's name with the Fixed modes' radius at this width in place of '#'.
std::string label(const KernelCase& c, int32_t width) {
    std::string name = c.name;
    const size_t mark = name.find('#');
    if (mark != std::string::npos)
        name.replace(mark, 1, std::to_string(static_cast<int32_t>(width * c.distance)));
    return name;
}

// Peak resident memory of the benchmark so far, in MiB.
double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    int repeats = 5;
    bool quick = false;
    int only = -1;
    int32_t width = 1920;
    int32_t height = 1080;
    FillChoice fill = FillChoice::Fastest;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strcmp(argv[i], "--4k") == 0) {
            width = 3840;
            height = 2160;
        } else if (std::strcmp(argv[i], "--fill") == 0 && i + 1 < argc)
            fill = std::strcmp(argv[++i], "stamp") == 0 ? FillChoice::Stamp : FillChoice::Nearest;
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            only = std::atoi(argv[++i]);
        else
            repeats = std::max(1, std::atoi(argv[i]));
    }
    MemoryFrame frame(width, height);
    paintShapes(frame);
    orvit::globalLookup = lookup;
    const double framePlanesMiB = static_cast<double>(frame.red.size()) * 13.0 / (1024.0 * 1024.0);

    std::printf("frame %d x %d, outline pixels %d (Fixed, Depth) / %d (G-Fixed, G-Depth); "
                "processor time; fast: least of %d runs, literal: one run\n",
                width, height, countOutline(frame, 4), countOutline(frame, 5), repeats);
    std::printf("%-34s %12s %12s %9s  %s\n", "case", "literal ms", "fast ms", "ratio", "identical");

    const KernelCase cases[] = {
        {"Fixed R=# (0.05)", ModeFixed, 0.05, Depths::Smooth, true},
        {"Fixed R=# (0.10)", ModeFixed, 0.10, Depths::Smooth, true},
        {"Fixed R=# (0.50)", ModeFixed, 0.50, Depths::Smooth, !quick},
        {"G-Fixed R=# (0.05)", ModeGFixed, 0.05, Depths::Smooth, true},
        {"G-Fixed R=# (0.10)", ModeGFixed, 0.10, Depths::Smooth, true},
        {"Depth R 2..100, smooth depths", ModeDepth, 1.0, Depths::Smooth, true},
        {"Depth R 2..100, noisy depths", ModeDepth, 1.0, Depths::Noisy, true},
        {"G-Depth R 2..100, smooth depths", ModeGDepth, 1.0, Depths::Smooth, true},
        {"G-Depth R 2..100, noisy depths", ModeGDepth, 1.0, Depths::Noisy, true},
        {"Fixed R=#, three colours", ModeFixed, 0.05, Depths::Smooth, true, 3},
        {"Depth R 2..100 smooth, 3 colours", ModeDepth, 1.0, Depths::Smooth, true, 3},
        {"Depth R 2..100 noisy, 3 colours", ModeDepth, 1.0, Depths::Noisy, true, 3},
    };
    FilterInstance* instance = createInstance();
    GlowSetting setting;
    initSetting(&setting, nullptr, 1);
    const int kernelCases = static_cast<int>(sizeof cases / sizeof cases[0]);
    if (only >= 0 && only < kernelCases) {
        const KernelCase& c = cases[only];
        paintDepths(frame, c.depths);
        setting.mode = c.mode;
        setting.distance = c.distance;
        useKeys(&setting, c.keys);
        PlaneSource source(frame);
        const GlowRule rules[] = {kFixedRule, kDepthRule, kGFixedRule, kGDepthRule};
        const double fast = fastest(
            repeats, [&] { runGlowKernel(instance, &setting, source, rules[c.mode], fill); });
        std::printf("%-34s %12.2f ms\n", label(c, width).c_str(), fast);
        destroyInstance(instance);
        return 0;
    }
    for (const KernelCase& c : cases) {
        if (only >= kernelCases)
            break;
        paintDepths(frame, c.depths);
        setting.mode = c.mode;
        setting.distance = c.distance;
        useKeys(&setting, c.keys);
        PlaneSource source(frame);
        GlowKernel kernel = kernelForMode(c.mode);
        const double fast = fastest(repeats, [&] { kernel(instance, &setting, source); });
        if (!c.literal) {
            std::printf("%-34s %12s %12.2f %9s  %s\n", label(c, width).c_str(), "-", fast, "-",
                        "-");
            continue;
        }
        int32_t radius = 0;
        fixedRadius(&setting, source, &radius);
        reference::Layer ref;
        const double literal = fastest(1, [&] {
            ref = reference::glow(frame.special, frame.depth, width, height, setting, radius,
                                  setting.distance, 1.0);
        });
        const auto& layer = instance->glowLayer;
        const size_t n = ref.strength.size();
        const bool same = std::memcmp(layer.strength, ref.strength.data(), n) == 0 &&
                          std::memcmp(layer.red, ref.red.data(), n) == 0 &&
                          std::memcmp(layer.green, ref.green.data(), n) == 0 &&
                          std::memcmp(layer.blue, ref.blue.data(), n) == 0;
        std::printf("%-34s %12.1f %12.2f %8.1fx  %s\n", label(c, width).c_str(), literal, fast,
                    literal / fast, same ? "yes" : "NO");
        std::fflush(stdout);
    }
    destroyInstance(instance);

    // process(): disabled, enabled with one setting, a plain copy of the planes,
    // and the host's per-pixel writes alone.
    paintDepths(frame, Depths::Smooth);
    FilterInstance* filter = createInstance();
    auto runProcess = [&] {
        FrameBinding binding(frame);
        process(filter, binding.access());
    };
    const KernelCase enabledCases[] = {
        {"enabled, Fixed R=#", ModeFixed, 0.05, Depths::Smooth, false},
        {"enabled, Fixed R=#", ModeFixed, 0.10, Depths::Smooth, false},
        {"enabled, G-Fixed R=#", ModeGFixed, 0.05, Depths::Smooth, false},
        {"enabled, Depth R 2..100 smooth", ModeDepth, 1.0, Depths::Smooth, false},
        {"enabled, G-Depth R 2..100 smooth", ModeGDepth, 1.0, Depths::Smooth, false},
    };
    const int enabledCount = static_cast<int>(sizeof enabledCases / sizeof enabledCases[0]);
    const int onlyEnabled = only > kernelCases ? only - kernelCases - 1 : -1;
    filter->enabled = 0;
    const double passThrough = fastest(repeats, runProcess);
    std::printf("\n%-34s %12s %9s\n", "process", "ms", "ratio");
    if (onlyEnabled < 0) {
        const double copy = fastest(repeats, [&] {
            std::memcpy(frame.outRed.data(), frame.red.data(), frame.red.size());
            std::memcpy(frame.outGreen.data(), frame.green.data(), frame.green.size());
            std::memcpy(frame.outBlue.data(), frame.blue.data(), frame.blue.size());
            std::memcpy(frame.outAlpha.data(), frame.alpha.data(), frame.alpha.size());
        });
        const double writes = fastest(repeats, [&] {
            FrameBinding binding(frame);
            const FrameAccess* access = binding.access();
            for (int32_t y = 0; y < access->height; ++y)
                for (int32_t x = 0; x < access->width; ++x) {
                    const uint8_t rgb[3] = {0, 0, 0};
                    access->putRGB(x, y, rgb);
                    access->putAlpha(x, y, 0);
                }
        });
        std::printf("%-34s %12.2f %8.2fx  (of the plain copy)\n", "plain copy of the 4 planes",
                    copy, 1.0);
        std::printf("%-34s %12.2f %8.2fx  (of the plain copy)\n", "host putRGB+putAlpha per pixel",
                    writes, writes / copy);
        std::printf("%-34s %12.2f %8.2fx  (of the plain copy)\n", "pass-through (disabled)",
                    passThrough, passThrough / copy);
    } else {
        std::printf("%-34s %12.2f\n", "pass-through (disabled)", passThrough);
    }
    filter->enabled = 1;
    GlowSetting* one = appendSetting(filter, 1);
    one->enabled = 1;
    for (int e = 0; e < enabledCount; ++e) {
        if (onlyEnabled >= 0 && e != onlyEnabled)
            continue;
        const KernelCase& c = enabledCases[e];
        one->mode = c.mode;
        one->distance = c.distance;
        const double ms = fastest(repeats, runProcess);
        std::printf("%-34s %12.2f %8.2fx  (of the pass-through)\n", label(c, width).c_str(), ms,
                    ms / passThrough);
    }
    destroyInstance(filter);
    std::printf("\npeak memory %.0f MiB, of which the frame's own planes %.0f MiB\n", peakMiB(),
                framePlanesMiB);
    return 0;
}
