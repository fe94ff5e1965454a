// The built Orvit.p driven through the stand-in's loader must give exactly
// what the module's code gives when called directly.
#include "module/filter/process.h"
#include "module/services/services.h"
#include "module/settings/settings.h"
#include "module/settings/settings_lines.h"
#include "orvit/core/envelopes.h"
#include "orvit/core/host_error.h"
#include "orvit/core/loader.h"
#include "orvit/core/memory_frame.h"
#include "orvit/core/saved_lines.h"
#include "orvit/host/host_services.h"
#include "tests/support/fakes/fake_camera.h"
#include "tests/support/saved_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace orvit::core;
using namespace orvit::host;

const double kFov = 1.2; // radians, horizontal

// A 96 x 64 frame: noisy colour, shapes of special values 1 to 4 (blocks,
// a disc, a cross, a thin line) and a depth that grows to the lower right.
MemoryFrame makeFrame() {
    MemoryFrame f(96, 64);
    f.frame = 3;
    f.start = 2.5;
    f.end = 2.5;
    uint32_t seed = 12345;
    for (size_t i = 0; i < f.red.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        f.red[i] = static_cast<uint8_t>(seed >> 24);
        f.green[i] = static_cast<uint8_t>(seed >> 16);
        f.blue[i] = static_cast<uint8_t>(seed >> 8);
        f.alpha[i] = static_cast<uint8_t>(seed);
    }
    for (int32_t y = 0; y < f.height; ++y)
        for (int32_t x = 0; x < f.width; ++x) {
            uint8_t v = 0;
            if (x >= 8 && x < 30 && y >= 6 && y < 26)
                v = 1;
            if ((x - 60) * (x - 60) + (y - 18) * (y - 18) <= 100)
                v = 2;
            if ((x >= 20 && x < 40 && y == 45) || (x == 30 && y >= 35 && y < 55))
                v = 3;
            if (x >= 50 && x < 90 && y >= 40 && y < 58)
                v = 4;
            if (x == 5 && y > 30)
                v = 4;
            f.special[f.at(x, y)] = v;
            f.depth[f.at(x, y)] = 4.0f + 0.25f * static_cast<float>(x + y);
        }
    f.resetOutput();
    return f;
}

// Saved settings: one entry per mode, two colour keys each; the Depth entry
// has a size envelope and the Fixed one a transparency envelope.
std::vector<std::string> entryLines(int mode) {
    switch (mode) {
    case 0:
        return testsupport::kFixedEntryWithEnvelope;
    case 1:
        return {"2 1 1 1.000000 80.000000",
                "1 0",
                "keys 2",
                "0 0.5",
                "10 1.5",
                "1 0 255 255 0",
                "1 0 0 255 70",
                "0 255 255 255 40",
                "0 255 255 255 60",
                "0 255 255 255 80"};
    case 2:
        return {"1 1 2 0.040000 0.000000",
                "0 0",
                "1 255 255 255 0",
                "1 40 255 40 50",
                "0 255 255 255 40",
                "0 255 255 255 60",
                "1 0 0 0 100"};
    default:
        return {"4 1 3 2.000000 70.000000", "0 0",
                "1 250 120 10 10",          "1 10 20 250 90",
                "0 255 255 255 40",         "0 255 255 255 60",
                "0 255 255 255 80"};
    }
}

std::vector<std::string> settingsLines(const std::vector<int>& modes) {
    std::vector<std::string> lines = {"v 04", "1 " + std::to_string(modes.size())};
    for (int mode : modes)
        for (const std::string& line : entryLines(mode))
            lines.push_back(line);
    return lines;
}

// The unit path: the module's own code, with the stand-in's envelopes and a
// fake camera answering the same K.
struct UnitRun {
    explicit UnitRun(const std::vector<std::string>& lines) : camera(std::tan(kFov / 2)) {
        orvit::envelopeService = orvit::core::envelopeService();
        instance = orvit::createInstance();
        LineReader reader(lines);
        orvit::loadSettings(instance, reader.state());
    }
    ~UnitRun() {
        orvit::destroyInstance(instance);
        orvit::envelopeService = nullptr;
    }
    void process(MemoryFrame& frame) {
        frame.resetOutput();
        FrameBinding binding(frame);
        orvit::process(instance, binding.access());
    }
    std::vector<std::string> save() {
        std::vector<std::string> lines;
        LineWriter writer(lines);
        orvit::saveSettings(instance, writer.state());
        return lines;
    }

    fakes::FakeCamera camera;
    orvit::FilterInstance* instance = nullptr;
};

// The loaded path: Orvit.p through the loader and the stand-in's services.
struct LoadedRun {
    LoadedRun() : module(ORVIT_PLUGIN_FILE), filter(module, "Tesk_Orvit", HostServices::lookup()) {
        host.quiet = true;
        host.scene.objects = {"none.lwo"};
        host.scene.cameras.push_back({{{0.0, kFov}}});
    }
    HostServices host;
    LoadedModule module;
    ImageFilter filter;
};

// Counts differing bytes and reports the first pixel that differs.
void expectSameFrame(const MemoryFrame& a, const MemoryFrame& b) {
    const std::vector<uint8_t> MemoryFrame::*planes[] = {
        &MemoryFrame::outRed, &MemoryFrame::outGreen, &MemoryFrame::outBlue,
        &MemoryFrame::outAlpha};
    const char* names[] = {"red", "green", "blue", "alpha"};
    for (int p = 0; p < 4; ++p) {
        const auto& pa = a.*planes[p];
        const auto& pb = b.*planes[p];
        ASSERT_EQ(pa.size(), pb.size());
        size_t differing = 0;
        for (size_t i = 0; i < pa.size(); ++i)
            if (pa[i] != pb[i] && differing++ == 0)
                ADD_FAILURE() << names[p] << " differs first at x " << i % a.width << ", y "
                              << i / a.width << ": " << int(pa[i]) << " vs " << int(pb[i]);
        EXPECT_EQ(differing, 0u) << names[p] << " bytes differ";
    }
}

// The glow must show, or equal frames would prove nothing.
size_t glowingPixels(const MemoryFrame& f) {
    size_t n = 0;
    for (size_t i = 0; i < f.red.size(); ++i)
        n += f.outRed[i] != f.red[i] || f.outGreen[i] != f.green[i] || f.outBlue[i] != f.blue[i];
    return n;
}

TEST(OrvitModule, ExportsOnlyTheDescriptor) {
    const std::string command = std::string("nm -D --defined-only '") + ORVIT_PLUGIN_FILE + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3)
            names.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0) << command;
    EXPECT_EQ(names, std::set<std::string>{"_mod_descrip"});
}

TEST(OrvitModule, FramesMatchTheUnitPathByteForByteInEveryMode) {
    const std::vector<std::vector<int>> runs = {{0}, {1}, {2}, {3}, {0, 1, 2, 3}, {3, 2, 1, 0}};
    for (const auto& modes : runs) {
        std::string label = "modes";
        for (int m : modes)
            label += " " + std::to_string(m);
        SCOPED_TRACE(label);
        const auto lines = settingsLines(modes);

        LoadedRun loaded;
        auto instance = loaded.filter.create();
        EXPECT_EQ(instance.load(lines), lines.size());
        auto copy = loaded.filter.create();
        copy.copyFrom(instance);
        MemoryFrame viaModule = makeFrame();
        instance.process(viaModule);
        MemoryFrame viaCopy = makeFrame();
        copy.process(viaCopy);

        UnitRun unit(lines);
        MemoryFrame direct = makeFrame();
        unit.process(direct);

        EXPECT_GT(glowingPixels(direct), 100u);
        expectSameFrame(viaModule, direct);
        expectSameFrame(viaCopy, direct);

        // Settings save identically from all three, and as they were read.
        EXPECT_EQ(instance.save(), lines);
        EXPECT_EQ(copy.save(), lines);
        EXPECT_EQ(unit.save(), lines);
    }
    EXPECT_EQ(liveEnvelopes(), 0u);
}

TEST(OrvitModule, HandlerAnswersFlagsAndInterfaceNeedsThePanelService) {
    LoadedRun loaded;
    auto instance = loaded.filter.create();
    EXPECT_EQ(instance.flags(), 0x1001u);

    // A host without a panel service: the activation stops at that look-up
    // with result 2.
    loaded.host.withheld = {"LWPanelServices"};
    loaded.host.lookups.clear();
    std::string error;
    try {
        loaded.filter.openInterface(instance);
    } catch (const HostError& e) {
        error = e.what();
    }
    EXPECT_THAT(error,
                testing::HasSubstr(
                    "server ImageFilterInterface \"Tesk_Orvit\" refused activation (result 2"));
    EXPECT_EQ(loaded.host.lookups,
              (std::vector<std::string>{"Info Messages", "EnvelopeHandler", "LWPanelServices"}));
    EXPECT_TRUE(loaded.host.panelHost.events.empty());

    loaded.host.withheld = {"EnvelopeHandler"};
    loaded.host.lookups.clear();
    EXPECT_THROW(loaded.filter.openInterface(instance), HostError);
    ASSERT_EQ(loaded.host.messages.size(), 1u);
    EXPECT_EQ(loaded.host.messages[0].first, "Looking for EnvelopeHandler");
    EXPECT_EQ(loaded.host.messages[0].second, "Got plexora.p?");
}

} // namespace
