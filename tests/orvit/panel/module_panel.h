// The built Orvit.p with its settings opened through the interface
// activation on the stand-in's headless panel host, a script at the panel:
// what the end-to-end panel tests share.
#pragma once

#include "orvit/core/loader.h"
#include "orvit/host/host_services.h"
#include "orvit/host/object_writer.h"
#include "orvit/panel/script_runner.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace paneltest {

using namespace orvit::core;
using namespace orvit::host;
using namespace orvit::panel;

// One opening of the panel as the host saw it.
struct Opened {
    int32_t result = -1; // the activation's result
    std::string error;   // the script's first error
    int32_t answer = 0;  // 1 OK, 0 Cancel
    std::vector<EditorRequestSeen> editor;
    Panel* panel = nullptr; // kept by the host after its release
    std::vector<std::string> controls;
};

class ModulePanelTest : public ::testing::Test {
  protected:
    ModulePanelTest()
        : module(ORVIT_PLUGIN_FILE), filter(module, "Tesk_Orvit", HostServices::lookup()) {
        host.quiet = true;
        // Surfaces sorted Alpha, Beta, Gamma carry 7, 3 and 12, and 3: the
        // first carrying 3 is Beta.
        ObjectDescription one, two;
        one.surfaces = {surface("Gamma", {3, 0, 0, 0}), surface("Alpha", {7, 0, 0, 0})};
        two.surfaces = {surface("Beta", {12, 3, 0, 0})};
        host.scene.objects = {write("one.lwo", one), write("two.lwo", two)};
    }

    static ObjectSurface surface(const char* name, std::array<uint8_t, 4> buffers) {
        ObjectSurface s;
        s.name = name;
        s.buffers = buffers;
        return s;
    }
    std::string write(const std::string& name, const ObjectDescription& object) {
        const std::string path = folder / name;
        EXPECT_TRUE(saveObjectFile(path, writeObjectFile(object)));
        return path;
    }

    // Opens the settings of `instance` with `script` (or `user`) at the panel.
    Opened open(Instance& instance, const std::string& script) {
        ScriptedUser user(parseScript(script, "test"));
        Opened o = open(instance, user);
        o.error = user.error();
        o.answer = user.lastAnswer();
        o.editor = user.editorRequests();
        return o;
    }
    Opened open(Instance& instance, PanelUser& user) {
        host.panelHost.user = &user;
        const size_t made = host.panelHost.panelsMade();
        Opened o;
        o.result = module.findServer("ImageFilterInterface", "Tesk_Orvit")
                       .activate(1, HostServices::lookup(), instance.handle());
        host.panelHost.user = nullptr;
        if (host.panelHost.panelsMade() > made) {
            o.panel = host.panelHost.panels().back().get();
            o.controls = describeControls(*o.panel);
            EXPECT_FALSE(o.panel->live()) << "the panel outlived the activation";
            EXPECT_EQ(o.panel->faults, std::vector<std::string>{});
        }
        return o;
    }

    Instance loaded(const std::vector<std::string>& lines) {
        Instance instance = filter.create();
        EXPECT_EQ(instance.load(lines), lines.size());
        return instance;
    }

    // Control `index` (from 1, in creation order) of an opening.
    static const PanelControl& control(const Opened& o, int index) {
        return *o.panel->controls().at(static_cast<size_t>(index) - 1);
    }

    testsupport::TempFolder folder;
    HostServices host;
    LoadedModule module;
    ImageFilter filter;
};

} // namespace paneltest
