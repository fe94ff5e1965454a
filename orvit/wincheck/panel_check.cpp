#include "orvit/wincheck/panel_check.h"

#include "orvit/core/envelopes.h"
#include "orvit/core/host_error.h"
#include "orvit/core/memory_frame.h"
#include "orvit/core/text.h"
#include "orvit/host/object_writer.h"
#include "orvit/panel/preview_picture.h"
#include "orvit/panel/script_runner.h"
#include "orvit/wincheck/check_settings.h"
#include "orvit/wincheck/digest.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace orvit::wincheck {
namespace {

// Settings of values 3 (Fixed, with a size envelope) and 12 (G-Fixed, off);
// 7 has none yet.
std::vector<std::string> panelSettings() {
    const std::vector<Setting> modes = modeSettings();
    std::vector<Setting> settings = {modes[0], modes[2]};
    settings[0].value = 3;
    settings[1].value = 12;
    settings[1].enabled = 0;
    return sceneLines(1, settings);
}

struct PanelCase {
    const char* name;
    bool rendered;      // a frame is rendered before the panel opens
    bool specialValues; // the objects carry special values
    const char* script;
};

const PanelCase kCases[] = {
    {"every kind of change, then OK", false, true,
     "choose \"Special Buffer\" 7\n"
     "tick box left of \"Special Buffer\" on\n"
     "set key 1 colour 255 40 10\n"
     "set key 2 colour 20 60 255\n"
     "tick key 2 box on\n"
     "set key 2 position 70\n"
     "choose \"Mode\" G-Fixed\n"
     "type \"Distance\" 0.07\n"
     "type \"Transparency\" 25\n"
     "press button right of \"Transparency\" then accept 0 80, 0.25 20\n"
     "tick \"Enable Orvit\" off\n"
     "choose \"Special Buffer\" 3\n"
     "press \"Copy\"\n"
     "choose \"Special Buffer\" 12\n"
     "press \"Paste\"\n"
     "press button right of \"Distance\" then accept 0 0.02, 0.5 0.08\n"
     "choose \"Surface\" Lamp\n"
     "ok\n"},
    {"changes, then Cancel", false, true,
     "tick \"Enable Orvit\" off\n"
     "choose \"Mode\" Depth\n"
     "set key 1 colour 0 0 0\n"
     "press button right of \"Distance\" then remove\n"
     "choose \"Special Buffer\" 7\n"
     "press \"Copy\"\n"
     "cancel\n"},
    {"the envelope editor's other answers", false, true,
     "press button right of \"Distance\" then cancel\n"
     "press button right of \"Transparency\" then answer 5\n"
     "press button right of \"Transparency\" then answer 1\n"
     "press button right of \"Distance\" then remove\n"
     "ok\n"},
    {"the preview after a render", true, true,
     "choose popup right of \"Preview\" Special\n"
     "tick \"1/2 res\" on\n"
     "press \"Preview\"\n"
     "choose popup right of \"Preview\" Color\n"
     "ok\n"},
    {"the preview without a render", false, true, "press \"Preview\"\nok\n"},
    {"an item the panel does not list", false, true, "choose \"Special Buffer\" 99\nok\n"},
    {"no special values", false, false, "ok\n"},
};

// A frame with the three special values in blocks, drawn on a 256 x 192 grid
// stretched over the frame, over colour and depth ramps of its own pixels.
core::MemoryFrame previewFrame(int32_t width = 256, int32_t height = 192) {
    core::MemoryFrame f(width, height);
    for (int32_t fy = 0; fy < f.height; ++fy)
        for (int32_t fx = 0; fx < f.width; ++fx) {
            const size_t i = f.at(fx, fy);
            const int32_t x = fx * 256 / width, y = fy * 192 / height;
            f.red[i] = static_cast<uint8_t>(fx);
            f.green[i] = static_cast<uint8_t>(fy);
            f.blue[i] = static_cast<uint8_t>((fx + fy) / 2);
            f.depth[i] = 2.0f + static_cast<float>(fx % 16) / 4.0f;
            if (x >= 20 && x < 80 && y >= 30 && y < 90)
                f.special[i] = 3;
            else if (x >= 120 && x < 200 && y >= 100 && y < 150)
                f.special[i] = 7;
            else if ((x - 200) * (x - 200) + (y - 50) * (y - 50) < 400)
                f.special[i] = 12;
        }
    f.resetOutput();
    return f;
}

std::vector<std::string> writeObjects(const std::string& folder, bool withValues) {
    auto surface = [](const char* name, std::array<uint8_t, 4> buffers) {
        host::ObjectSurface s;
        s.name = name;
        s.buffers = buffers;
        return s;
    };
    host::ObjectDescription a, b;
    if (withValues) {
        a.surfaces = {surface("Crate", {7, 12, 0, 0}), surface("Comet", {3, 0, 0, 0})};
        b.surfaces = {surface("Lamp", {3, 0, 0, 0}), surface("Ring", {0, 0, 0, 0})};
    } else {
        a.surfaces = {surface("Crate", {0, 0, 0, 0})};
        b.surfaces = {surface("Ring", {0, 0, 0, 0})};
    }
    const std::vector<std::string> paths = {folder + "/orvit-wincheck-a.lwo",
                                            folder + "/orvit-wincheck-b.lwo"};
    if (!host::saveObjectFile(paths[0], host::writeObjectFile(a)) ||
        !host::saveObjectFile(paths[1], host::writeObjectFile(b)))
        throw core::HostError("cannot write object files in '" + folder + "'");
    return paths;
}

void printLines(const std::string& label, const std::vector<std::string>& lines) {
    std::printf("%s: %zu lines, digest %s\n", label.c_str(), lines.size(), digestOf(lines).c_str());
    for (const std::string& line : lines)
        std::printf("  | %s\n", line.c_str());
}

int runCase(const PanelCase& c, const core::LoadedModule& module, const core::ImageFilter& filter,
            host::HostServices& services, const std::string& folder) {
    int failures = 0;
    const std::vector<std::string> objects = writeObjects(folder, c.specialValues);
    services.scene.objects = objects;
    services.messages.clear();
    panel::ScriptedUser user(panel::parseScript(c.script, c.name));
    services.panelHost.user = &user;
    const size_t envelopesBefore = core::liveEnvelopes();
    const size_t panelsBefore = services.panelHost.panelsMade();

    std::printf("panel case: %s\n", c.name);
    {
        core::Instance instance = filter.create();
        instance.load(panelSettings());
        if (c.rendered) {
            core::MemoryFrame frame = previewFrame();
            instance.process(frame);
        }
        const core::ServerEntry& ui = module.findServer("ImageFilterInterface", "Tesk_Orvit");
        const int32_t result = ui.activate(1, host::HostServices::lookup(), instance.handle());
        std::printf("  activation %d, panel opened %d times, answer %d\n", static_cast<int>(result),
                    user.runs(), static_cast<int>(user.lastAnswer()));
        if (!user.error().empty())
            std::printf("  script error: %s\n", user.error().c_str());
        for (const host::Message& m : services.messages)
            std::printf("  message: %s / %s\n", m.first.c_str(), m.second.c_str());
        if (services.panelHost.panelsMade() > panelsBefore) {
            panel::Panel& panel = *services.panelHost.panels().back();
            std::vector<std::string> calls;
            for (const std::string& e : services.panelHost.events)
                if (e.rfind("add ", 0) != 0)
                    calls.push_back(e);
            std::printf("  panel calls: %s\n", core::joined(calls).c_str());
            for (const std::string& line : panel::describeControls(panel))
                std::printf("  control %s\n", line.c_str());
            const panel::Canvas& canvas = panel.canvas();
            Digest d;
            d.add(canvas.rgb);
            std::printf("  canvas %dx%d digest %s, drawn: %zu pixels, %zu boxes, %zu rgb boxes\n",
                        static_cast<int>(canvas.width), static_cast<int>(canvas.height),
                        d.text().c_str(), panel.draws.pixels, panel.draws.boxes,
                        panel.draws.rgbBoxes);
            for (const std::string& f : panel.faults)
                std::printf("  fault: %s\n", f.c_str());
            if (!panel.faults.empty()) {
                std::printf("FAIL: the module broke the panel contract\n");
                ++failures;
            }
            if (panel.live()) {
                std::printf("FAIL: the panel was not destroyed\n");
                ++failures;
            }
        }
        for (const panel::EditorRequestSeen& r : user.editorRequests())
            std::printf("  editor at line %zu: \"%s\" \"%s\" %.9g to %.9g, %s, %s, answer %d\n",
                        r.line, r.title.c_str(), r.label.c_str(), static_cast<double>(r.low),
                        static_cast<double>(r.high),
                        r.panelServices == &services.panelServices ? "the host's panel service"
                                                                   : "another record",
                        r.restZero ? "rest zero" : "rest not zero", static_cast<int>(r.answer));
        printLines("  saved settings", instance.save());
    }
    services.panelHost.events.clear();
    services.panelHost.user = nullptr;
    if (core::liveEnvelopes() != envelopesBefore) {
        std::printf("FAIL: %zu envelopes left behind\n", core::liveEnvelopes() - envelopesBefore);
        ++failures;
    }
    for (const std::string& path : objects)
        std::remove(path.c_str());
    return failures;
}

// Settings whose preview runs every kernel: 3 in "Fixed" with a size
// envelope, 7 in "Depth", 12 in "G-Depth" with a size envelope.
const std::vector<std::string> kPreviewSettings = {
    "v 04",
    "1 3",
    "3 1 0 0.060000 30.000000",
    "1 0",
    "keys 2",
    "0 0.05",
    "1 0.02",
    "1 255 240 200 0",
    "1 255 120 0 50",
    "1 90 0 0 100",
    "0 255 255 255 60",
    "0 255 255 255 80",
    "7 1 1 0.700000 20.000000",
    "0 0",
    "1 0 200 255 0",
    "1 0 40 160 100",
    "0 255 255 255 40",
    "0 255 255 255 60",
    "0 255 255 255 80",
    "12 1 3 0.500000 0.000000",
    "1 0",
    "keys 2",
    "0 0.4",
    "1 0.9",
    "1 255 255 255 0",
    "1 255 0 255 30",
    "1 0 0 255 100",
    "0 255 255 255 60",
    "0 255 255 255 80",
};

struct PreviewCase {
    const char* name;
    const char* script; // ends with cancel; the host then redraws the area
};

const PreviewCase kPreviewCases[] = {
    {"Color", "cancel\n"},
    {"Color, half", "tick \"1/2 res\" on\ncancel\n"},
    {"Depth", "choose popup right of \"Preview\" Depth\ncancel\n"},
    {"Depth, half", "choose popup right of \"Preview\" Depth\ntick \"1/2 res\" on\ncancel\n"},
    {"Special 7",
     "choose \"Special Buffer\" 7\nchoose popup right of \"Preview\" Special\ncancel\n"},
    {"Special 12, half", "choose \"Special Buffer\" 12\nchoose popup right of \"Preview\" Special\n"
                         "tick \"1/2 res\" on\ncancel\n"},
    {"Preview 3 Fixed", "press \"Preview\"\ncancel\n"},
    {"Preview 3 G-Fixed", "choose \"Mode\" G-Fixed\npress \"Preview\"\ncancel\n"},
    {"Preview 7 Depth", "choose \"Special Buffer\" 7\npress \"Preview\"\ncancel\n"},
    {"Preview 12 G-Depth", "choose \"Special Buffer\" 12\npress \"Preview\"\ncancel\n"},
    {"Preview 12 G-Depth, half",
     "choose \"Special Buffer\" 12\ntick \"1/2 res\" on\npress \"Preview\"\ncancel\n"},
    {"Preview after another value", "press \"Preview\"\nchoose \"Special Buffer\" 7\ncancel\n"},
};

// The preview area as the module draws it for each case, on a 640 x 480
// frame that the snapshot samples.
int runPreviewPictures(const core::ImageFilter& filter, host::HostServices& services,
                       const std::string& folder) {
    int failures = 0;
    const std::vector<std::string> objects = writeObjects(folder, true);
    services.scene.objects = objects;
    for (const PreviewCase& c : kPreviewCases) {
        panel::ScriptedUser user(panel::parseScript(c.script, c.name));
        panel::PreviewTaker taker(user);
        services.panelHost.user = &taker;
        core::Instance instance = filter.create();
        instance.load(kPreviewSettings);
        core::MemoryFrame frame = previewFrame(640, 480);
        instance.process(frame);
        filter.openInterface(instance);
        services.panelHost.user = nullptr;
        Digest d;
        d.add(taker.picture().rgb);
        std::printf("preview %s: %s, redrawn with %zu pixels and %zu boxes, picture %dx%d digest "
                    "%s\n",
                    c.name, user.error().empty() ? "ran" : user.error().c_str(),
                    taker.redrawCalls().pixels, taker.redrawCalls().rgbBoxes,
                    static_cast<int>(taker.picture().width),
                    static_cast<int>(taker.picture().height), d.text().c_str());
        if (!taker.taken() || !user.error().empty()) {
            std::printf("FAIL: no preview picture\n");
            ++failures;
        }
    }
    services.panelHost.events.clear();
    for (const std::string& path : objects)
        std::remove(path.c_str());
    return failures;
}

} // namespace

int runPanelChecks(const core::LoadedModule& module, const core::ImageFilter& filter,
                   host::HostServices& services, const std::string& folder) {
    int failures = 0;
    const std::vector<std::string> objects = services.scene.objects;
    for (const PanelCase& c : kCases)
        failures += runCase(c, module, filter, services, folder);
    failures += runPreviewPictures(filter, services, folder);
    services.scene.objects = objects;
    return failures;
}

} // namespace orvit::wincheck
