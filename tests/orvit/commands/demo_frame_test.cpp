// One demo frame rendered by the orvit program (Orvit.p through the loader,
// passes from files, image out) equals the same frame rendered by the
// module's code called directly with equivalent host services.
#include "module/filter/process.h"
#include "module/services/services.h"
#include "module/settings/settings.h"
#include "module/settings/settings_lines.h"
#include "orvit/core/envelopes.h"
#include "orvit/core/memory_frame.h"
#include "orvit/core/saved_lines.h"
#include "orvit/passes/passes.h"
#include "orvit/scene/scene_file.h"
#include "tests/support/fakes/fake_camera.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvit::core;
using namespace orvit::passes;
using namespace orvit::scene;

namespace {

const int kFrame = 3;

// The unit path: passes read into memory, settings loaded by the module's
// own loader, the stand-in's envelopes and a camera with the scene's K.
orvit::core::MemoryFrame renderDirectly(const SceneFile& scene) {
    const PassFiles& p = scene.passes;
    ColourPlanes colour = readColourPass(framePath(p.colour, kFrame), p.colourChannels);
    SpecialPlane special = readSpecialPass(framePath(p.special, kFrame), p.specialChannel);
    DepthPlane depth = readDepthPass(framePath(p.depth, kFrame), p.depthChannel, p.farDepth);
    orvit::core::MemoryFrame frame(colour.width, colour.height);
    frame.frame = kFrame;
    frame.start = kFrame / scene.rate;
    frame.end = (kFrame + 1) / scene.rate;
    frame.red = colour.red;
    frame.green = colour.green;
    frame.blue = colour.blue;
    frame.alpha = colour.alpha;
    frame.special = special.values;
    frame.depth = depth.depths;
    frame.resetOutput();

    fakes::FakeCamera camera(std::tan(scene.camera.at(0).fov / 2));
    orvit::envelopeService = orvit::core::envelopeService();
    orvit::FilterInstance* instance = orvit::createInstance();
    orvit::core::LineReader reader(scene.settingsLines);
    orvit::loadSettings(instance, reader.state());
    {
        orvit::core::FrameBinding binding(frame);
        orvit::process(instance, binding.access());
    }
    orvit::destroyInstance(instance);
    orvit::envelopeService = nullptr;
    return frame;
}

TEST(DemoFrame, CommandLineEqualsTheUnitPathByteForByte) {
    testsupport::TempFolder dir;
    const auto run =
        testsupport::runOrvit({"render", ORVIT_DEMO_SCENE, "--frames", std::to_string(kFrame),
                               "--output", dir / "frame.####.png"},
                              dir / "");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const ColourPlanes viaCommand = readColourPass(dir / "frame.0003.png", {});

    const SceneFile scene = parseSceneFile(ORVIT_DEMO_SCENE);
    ASSERT_EQ(scene.camera.size(), 1u);
    const orvit::core::MemoryFrame direct = renderDirectly(scene);
    ASSERT_EQ(viaCommand.width, direct.width);
    ASSERT_EQ(viaCommand.height, direct.height);

    const std::vector<uint8_t> ColourPlanes::*command[] = {
        &ColourPlanes::red, &ColourPlanes::green, &ColourPlanes::blue, &ColourPlanes::alpha};
    const std::vector<uint8_t> orvit::core::MemoryFrame::*unit[] = {
        &orvit::core::MemoryFrame::outRed, &orvit::core::MemoryFrame::outGreen,
        &orvit::core::MemoryFrame::outBlue, &orvit::core::MemoryFrame::outAlpha};
    const char* names[] = {"red", "green", "blue", "alpha"};
    for (int p = 0; p < 4; ++p) {
        const auto& a = viaCommand.*command[p];
        const auto& b = direct.*unit[p];
        size_t differing = 0;
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i] && differing++ == 0)
                ADD_FAILURE() << names[p] << " differs first at x " << i % direct.width << ", y "
                              << i / direct.width << ": " << int(a[i]) << " vs " << int(b[i]);
        EXPECT_EQ(differing, 0u) << names[p];
    }
    // Every glow of the demo shows, or equal frames would prove little.
    size_t glowing = 0;
    for (size_t i = 0; i < direct.red.size(); ++i)
        glowing += direct.outRed[i] != direct.red[i] || direct.outBlue[i] != direct.blue[i];
    EXPECT_GT(glowing, 20000u);
    EXPECT_EQ(orvit::core::liveEnvelopes(), 0u);
}

} // namespace
