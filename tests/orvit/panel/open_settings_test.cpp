// Opening the settings of an instance of the built Orvit.p through the
// stand-in's loader, services and panel host.
#include "orvit/core/envelopes.h"
#include "orvit/core/host_error.h"
#include "orvit/core/loader.h"
#include "orvit/host/host_services.h"
#include "orvit/host/object_writer.h"
#include "tests/support/saved_settings.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace orvit::core;
using namespace orvit::host;
using namespace orvit::panel;

const char* const kTitle = "Orvit by Tesk Ver 0.4beta";
const std::string kDemoObjects = std::string(ORVIT_DEMO_FOLDER) + "/objects/";

// Two settings, the first with a transparency envelope, and the filter on.
const std::vector<std::string> kSettings = [] {
    std::vector<std::string> lines = {"v 04", "1 2"};
    lines.insert(lines.end(), testsupport::kFixedEntryWithEnvelope.begin(),
                 testsupport::kFixedEntryWithEnvelope.end());
    lines.insert(lines.end(),
                 {"1 0 2 0.040000 0.000000", "0 0", "1 255 255 255 0", "1 40 255 40 50",
                  "0 255 255 255 40", "0 255 255 255 60", "1 0 0 0 100"});
    return lines;
}();

ObjectSurface surface(const std::string& name, std::array<uint8_t, 4> buffers, bool written) {
    ObjectSurface s;
    s.name = name;
    s.buffers = buffers;
    s.writeBuffers = written;
    return s;
}

class OpenSettings : public ::testing::Test {
  protected:
    OpenSettings()
        : module(ORVIT_PLUGIN_FILE), filter(module, "Tesk_Orvit", HostServices::lookup()) {
        host.quiet = true;
    }

    // The interface activation's own result, which the loader turns into a
    // HostError unless it is 0.
    int32_t activateInterface(Instance& instance) {
        const ServerEntry& server = module.findServer("ImageFilterInterface", "Tesk_Orvit");
        return server.activate(1, HostServices::lookup(), instance.handle());
    }

    // An instance holding kSettings, which `saved` keeps as it saves them.
    Instance loaded(std::vector<std::string>* saved) {
        Instance instance = filter.create();
        EXPECT_EQ(instance.load(kSettings), kSettings.size());
        *saved = instance.save();
        return instance;
    }

    std::string writeObject(const std::string& name, const ObjectDescription& object) {
        const std::string path = folder / name;
        EXPECT_TRUE(saveObjectFile(path, writeObjectFile(object))) << path;
        return path;
    }

    // Files of every kind that holds no special-buffer value.
    struct Files {
        std::string otherForm, empty, missing, folder, zeroBuffers;
    };
    Files writeFilesWithoutValues() {
        Files f;
        ObjectDescription valued;
        valued.surfaces = {surface("Glow", {7, 0, 0, 0}, true)};
        valued.formType = "LWO2";
        f.otherForm = writeObject("other-form.lwo", valued);
        f.empty = folder / "empty.lwo";
        EXPECT_TRUE(saveObjectFile(f.empty, {}));
        f.missing = folder / "missing.lwo";
        f.folder = folder / "folder.lwo";
        std::filesystem::create_directory(f.folder);
        ObjectDescription zeros;
        zeros.surfaces = {surface("Zero", {0, 0, 0, 0}, true),
                          surface("Plain", {9, 0, 0, 0}, false)};
        f.zeroBuffers = writeObject("zero-buffers.lwo", zeros);
        return f;
    }

    testsupport::TempFolder folder;
    HostServices host;
    LoadedModule module;
    ImageFilter filter;
};

const std::vector<std::string> kAllLookups = {"Info Messages", "EnvelopeHandler", "LWPanelServices",
                                              "LW Item Info 2", "LW Object Info"};

TEST_F(OpenSettings, SceneWithoutSpecialValuesShowsTheMessageAndKeepsTheSettings) {
    const Files f = writeFilesWithoutValues();
    ObjectDescription valued;
    valued.surfaces = {surface("Glow", {7, 0, 0, 0}, true)};
    const std::string withValue = writeObject("with-value.lwo", valued);
    struct Case {
        const char* label;
        std::vector<std::string> objects;
        const char* withheld;
    };
    const Case cases[] = {
        {"no objects", {}, ""},
        {"another form type", {f.otherForm}, ""},
        {"empty file", {f.empty}, ""},
        {"missing file", {f.missing}, ""},
        {"a folder", {f.folder}, ""},
        {"only zero bytes or no SPBF", {f.zeroBuffers}, ""},
        {"all of them, one twice",
         {f.otherForm, f.empty, f.missing, f.folder, f.zeroBuffers, f.otherForm},
         ""},
        // Without either service no file can be read, whatever the files hold.
        {"no item info", {withValue}, "LW Item Info 2"},
        {"no object info", {withValue}, "LW Object Info"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        host.scene.objects = c.objects;
        host.withheld = {c.withheld};
        PanelHost& panels = host.panelHost;
        panels.events.clear();
        const size_t made = panels.panelsMade();
        std::vector<std::string> before;
        Instance instance = loaded(&before);
        const size_t envelopes = liveEnvelopes();
        host.messages.clear();
        host.lookups.clear();

        EXPECT_EQ(activateInterface(instance), 0);

        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_TRUE(host.messages[0].error);
        EXPECT_EQ(host.messages[0].first, "There is no Special buffer.");
        EXPECT_EQ(host.messages[0].second, "Please set any Special buffers.");
        EXPECT_EQ(host.lookups, kAllLookups);
        EXPECT_EQ(panels.events, (std::vector<std::string>{std::string("create ") + kTitle,
                                                           "set UserData", "destroy"}));
        ASSERT_EQ(panels.panelsMade(), made + 1);
        const Panel& panel = *panels.panels().back();
        EXPECT_EQ(panel.userData, instance.handle());
        EXPECT_FALSE(panel.opened);
        EXPECT_FALSE(panel.live());
        EXPECT_TRUE(panel.controls().empty());
        EXPECT_EQ(instance.save(), before);
        EXPECT_EQ(liveEnvelopes(), envelopes);
    }
}

// A scene with special values gets the panel with its controls, opened and
// then destroyed.
TEST_F(OpenSettings, SceneWithSpecialValuesOpensThePanelAndCancelKeepsTheSettings) {
    host.scene.objects = {kDemoObjects + "lamp.lwo", kDemoObjects + "comet.lwo"};
    std::vector<std::string> before;
    Instance instance = loaded(&before);
    host.lookups.clear();

    // No user is attached: the host answers the open panel with Cancel.
    EXPECT_EQ(activateInterface(instance), 0);

    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.lookups, kAllLookups);
    const PanelHost& panels = host.panelHost;
    ASSERT_EQ(panels.panels().size(), 1u);
    EXPECT_EQ(panels.panels()[0]->userData, instance.handle());
    EXPECT_TRUE(panels.panels()[0]->opened);
    EXPECT_EQ(panels.panels()[0]->controls().size(), 35u);
    EXPECT_FALSE(panels.panels()[0]->live());
    EXPECT_EQ(panels.livePanels(), 0u);
    EXPECT_EQ(panels.events.back(), "destroy");
    EXPECT_EQ(instance.save(), before);
}

TEST_F(OpenSettings, PanelThatCannotBeMadeStopsBeforeTheScan) {
    host.scene.objects = {kDemoObjects + "lamp.lwo"};
    host.panelHost.refuseCreate = true;
    std::vector<std::string> before;
    Instance instance = loaded(&before);
    host.lookups.clear();

    EXPECT_EQ(activateInterface(instance), 2);

    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.lookups,
              (std::vector<std::string>{kAllLookups.begin(), kAllLookups.begin() + 3}));
    EXPECT_EQ(host.panelHost.events, std::vector<std::string>{std::string("create ") + kTitle});
    EXPECT_TRUE(host.panelHost.panels().empty());
    EXPECT_EQ(instance.save(), before);
}

} // namespace
