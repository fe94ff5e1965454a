// wincheck MODULE: loads a module file as the host does and prints what it
// does with fixed inputs: the activation results, the settings it saves,
// digests of the frames it filters, and its settings panel worked by fixed
// scripts (controls, canvas digests, saved settings). The inputs are made here without any
// platform arithmetic, so two builds of the module (the Linux one, and the
// 32-bit Windows one under Wine) must print the same text; comparing the two
// outputs compares the frames and the saved lines bit for bit.
//
// The exit status is 1 when a check of the host's contract fails or the
// module is refused, 0 otherwise.

#include "orvit/core/host_error.h"
#include "orvit/core/loader.h"
#include "orvit/core/memory_frame.h"
#include "orvit/host/host_services.h"
#include "orvit/wincheck/check_settings.h"
#include "orvit/wincheck/digest.h"
#include "orvit/wincheck/panel_check.h"

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace orvit::wincheck {
namespace {

const char* const kServerName = "Tesk_Orvit";
const char* const kModeNames[] = {"Fixed", "Depth", "G-Fixed", "G-Depth"};
constexpr int32_t kWidth = 160;
constexpr int32_t kHeight = 120;
constexpr int kFrames = 3;
constexpr double kFrameRate = 24.0;

int failures = 0;

void check(bool ok, const std::string& what) {
    if (!ok) {
        std::printf("FAIL: %s\n", what.c_str());
        ++failures;
    }
}

std::string format(const char* pattern, double a) {
    char out[64];
    std::snprintf(out, sizeof out, pattern, a);
    return out;
}

// ---- Activation ----------------------------------------------------------

// The activation results a host relies on: versions other than 1 give 1 and
// leave the record untouched, version 1 fills all seven handler slots, and
// startup gives 4.
void checkActivations(const core::LoadedModule& module, GlobalFunc global,
                      InstanceHandle instance) {
    std::printf("startup: %d\n", static_cast<int>(module.startupResult()));
    check(module.startupResult() == 4, "startup returns 4");

    const core::ServerEntry& handler = module.findServer("ImageFilterHandler", kServerName);
    const core::ServerEntry& ui = module.findServer("ImageFilterInterface", kServerName);
    for (int32_t version : {0, 2}) {
        FilterHandler record;
        std::memset(&record, 0xA5, sizeof record);
        FilterHandler before = record;
        const int32_t result = handler.activate(version, global, &record);
        const bool untouched = std::memcmp(&record, &before, sizeof record) == 0;
        std::printf("activate ImageFilterHandler version %d: %d, record %s\n",
                    static_cast<int>(version), static_cast<int>(result),
                    untouched ? "untouched" : "changed");
        check(result == 1 && untouched, "handler refuses version " + std::to_string(version));

        const int32_t uiResult = ui.activate(version, global, instance);
        std::printf("activate ImageFilterInterface version %d: %d\n", static_cast<int>(version),
                    static_cast<int>(uiResult));
        check(uiResult == 1, "interface refuses version " + std::to_string(version));
    }

    FilterHandler record;
    std::memset(&record, 0, sizeof record);
    const int32_t result = handler.activate(1, global, &record);
    const int filled = (record.create != nullptr) + (record.destroy != nullptr) +
                       (record.copy != nullptr) + (record.load != nullptr) +
                       (record.save != nullptr) + (record.process != nullptr) +
                       (record.flags != nullptr);
    std::printf("activate ImageFilterHandler version 1: %d, %d of 7 slots filled\n",
                static_cast<int>(result), filled);
    check(result == 0 && filled == 7, "handler activation fills seven slots");
}

// ---- Settings --------------------------------------------------------------

// ---- Frames ----------------------------------------------------------------

// A rendered frame made of integer patterns only: colour ramps, a depth that
// is a small multiple of 1/8 (exact in a float), and special values 1 to 4 in
// shapes that move with the frame number, plus scattered single pixels.
core::MemoryFrame syntheticFrame(int frame) {
    core::MemoryFrame f(kWidth, kHeight);
    f.frame = frame;
    f.start = frame / kFrameRate;
    f.end = (frame + 1) / kFrameRate;
    uint32_t noise = 12345u + static_cast<uint32_t>(frame);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const size_t i = f.at(x, y);
            f.red[i] = static_cast<uint8_t>(x * 3 + y + frame * 17);
            f.green[i] = static_cast<uint8_t>(y * 2 + frame * 5);
            f.blue[i] = static_cast<uint8_t>((x ^ y) + 40);
            f.alpha[i] = static_cast<uint8_t>(255 - (x + y) % 64);
            f.depth[i] = 1.0f + static_cast<float>((x / 4 + y / 3 + frame * 3) % 48) / 8.0f;

            const int dx = x - (40 + frame * 4), dy = y - 45;
            uint8_t value = 0;
            if (dx * dx + dy * dy < 18 * 18)
                value = 1;
            else if (x >= 90 && x < 130 && y >= 20 + frame * 2 && y < 60 + frame * 2)
                value = 2;
            else if (x + y > 150 + frame * 3 && x + y < 170 + frame * 3 && y > 60)
                value = 3;
            else if ((x - 100) * (x - 100) + (y - 95) * (y - 95) < 15 * 15 &&
                     (x - 100) * (x - 100) + (y - 95) * (y - 95) >= 6 * 6)
                value = 4;
            noise = noise * 1103515245u + 12345u;
            if ((noise >> 16) % 97 == 0)
                value = static_cast<uint8_t>(1 + (noise >> 8) % 4);
            f.special[i] = value;
        }
    }
    // A pixel at depth 0 and a far one: no stamp from either.
    f.depth[f.at(110, 30)] = 0.0f;
    f.depth[f.at(115, 35)] = kHostFarDepth;
    return f;
}

std::string frameDigest(const core::MemoryFrame& f) {
    Digest d;
    d.add(f.outRed);
    d.add(f.outGreen);
    d.add(f.outBlue);
    d.add(f.outAlpha);
    return d.text();
}

size_t changedPixels(const core::MemoryFrame& f) {
    size_t n = 0;
    for (size_t i = 0; i < f.red.size(); ++i)
        n += (f.outRed[i] != f.red[i] || f.outGreen[i] != f.green[i] || f.outBlue[i] != f.blue[i] ||
              f.outAlpha[i] != f.alpha[i])
                 ? 1
                 : 0;
    return n;
}

// Renders every frame through the instance and prints one line per frame.
std::vector<std::string> renderFrames(core::Instance& instance, const char* label) {
    std::vector<std::string> digests;
    for (int frame = 0; frame < kFrames; ++frame) {
        core::MemoryFrame f = syntheticFrame(frame);
        instance.process(f);
        const size_t changed = changedPixels(f);
        digests.push_back(frameDigest(f));
        std::printf("frame %d %-8s %s changed %zu\n", frame, label, digests.back().c_str(),
                    changed);
        check(std::memcmp(f.outAlpha.data(), f.alpha.data(), f.alpha.size()) == 0,
              std::string(label) + ": alpha passes through");
    }
    return digests;
}

// The kernels' falloff tables rest on the platform's cos, which the frames
// above sample at a few radii only. Every radius up to kTableRadii, computed
// the kernels' way, shows whether the maths linked into each build agrees.
// (Square roots need no such check: IEEE rounds them exactly.)
constexpr int32_t kTableRadii = 2000;

void printFalloffDigest() {
    Digest falloff;
    for (int32_t r = 1; r <= kTableRadii; ++r) {
        for (int32_t d = 0; d <= r; ++d) {
            const double angle = (static_cast<double>(d) * 3.141592) / static_cast<double>(r);
            const double wave = (std::cos(angle) + 1.0) * 127.5;
            const auto byte = static_cast<uint8_t>(static_cast<int32_t>(wave));
            falloff.add(&byte, 1);
        }
    }
    std::printf("falloff tables R 1..%d: %s\n", static_cast<int>(kTableRadii),
                falloff.text().c_str());
}

void printLines(const char* label, const std::vector<std::string>& lines) {
    std::printf("%s: %zu lines, digest %s\n", label, lines.size(), digestOf(lines).c_str());
    for (const std::string& line : lines)
        std::printf("  | %s\n", line.c_str());
}

// Where the panel cases write their object files: the system's folder for
// temporary files, else the current one.
std::string scratchFolder() {
    for (const char* name : {"TMPDIR", "TEMP", "TMP"})
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0')
            return value;
    return ".";
}

int run(const char* path) {
    host::HostServices services;
    services.quiet = true;
    // K = tan(fov / 2) goes from 0.5 to about 0.7 over the frames.
    services.scene.cameras.push_back(core::Camera{{{0.0, 0.92729521800161219}, {0.1, 1.2}}});
    const GlobalFunc global = host::HostServices::lookup();

    core::LoadedModule module(path);
    core::ImageFilter filter(module, kServerName, global);
    core::Instance probe = filter.create();
    checkActivations(module, global, probe.handle());
    std::printf("flags: 0x%04" PRIX32 "\n", probe.flags());
    check(probe.flags() == 0x1001, "flags 0x1001");
    for (int frame = 0; frame < kFrames; ++frame)
        std::printf(
            "camera K at frame %d: %s\n", frame,
            format("%.17g", host::cameraK(services.scene.cameras[0], frame / kFrameRate)).c_str());

    printFalloffDigest();

    // A new instance saves the two lines of an empty, disabled filter.
    const std::vector<std::string> empty = probe.save();
    printLines("new instance saves", empty);
    check(empty == std::vector<std::string>({"v 04", "0 0"}), "new instance saves v 04, 0 0");

    // Every mode alone, then all four together.
    const std::vector<Setting> settings = modeSettings();
    for (const Setting& s : settings) {
        core::Instance one = filter.create();
        one.load(sceneLines(1, {s}));
        renderFrames(one, kModeNames[s.mode]);
    }
    const std::vector<std::string> allLines = sceneLines(1, settings);
    core::Instance all = filter.create();
    const size_t read = all.load(allLines);
    check(read == allLines.size(), "load reads every line");
    const std::vector<std::string> allDigests = renderFrames(all, "all");

    // Saved lines are the loaded ones; loading them again gives the same
    // frames, and so does a copy made by the host's copy operation.
    const std::vector<std::string> saved = all.save();
    printLines("saved settings", saved);
    check(saved == allLines, "saved lines equal the loaded ones");
    core::Instance reloaded = filter.create();
    reloaded.load(saved);
    check(renderFrames(reloaded, "reloaded") == allDigests, "reloaded settings give same frames");
    core::Instance copied = filter.create();
    copied.copyFrom(all);
    check(copied.save() == saved, "copy saves the same lines");

    // The unversioned form loads with its entries and no envelopes.
    core::Instance old = filter.create();
    old.load({"1 1", "3 1 2 0.100000 25.000000", "1 255 0 0 0", "1 0 0 255 100", "0 0 0 0 0",
              "0 0 0 0 0", "0 0 0 0 0"});
    printLines("unversioned settings saved as", old.save());
    renderFrames(old, "old");

    // A disabled filter passes every pixel through.
    core::Instance off = filter.create();
    off.load(sceneLines(0, settings));
    core::MemoryFrame f = syntheticFrame(0);
    off.process(f);
    std::printf("disabled filter changes %zu pixels\n", changedPixels(f));
    check(changedPixels(f) == 0, "disabled filter passes through");

    // The settings panel with scripts at it.
    failures += runPanelChecks(module, filter, services, scratchFolder());

    std::printf("%s\n", failures == 0 ? "all checks passed" : "checks failed");
    return failures == 0 ? 0 : 1;
}

} // namespace
} // namespace orvit::wincheck

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wincheck MODULE\n");
        return 2;
    }
    try {
        return orvit::wincheck::run(argv[1]);
    } catch (const std::exception& e) {
        std::printf("FAIL: %s\n", e.what());
        return 1;
    }
}
