#include "module/abi/items.h"
#include "module/entry/activation.h"
#include "module/panel/open_settings.h"
#include "module/services/services.h"
#include "module/settings/settings.h"
#include "module/settings/surface_table.h"
#include "tests/support/fakes/fake_envelopes.h"
#include "tests/support/fakes/fake_panel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// A host behind the global lookup: it logs every look-up and panel call,
// keeps the messages shown, and withholds the services it is told to.
struct FakeHost {
    FakeHost();
    ~FakeHost();

    std::set<std::string> withheld;
    bool panelFails = false;
    std::vector<std::string> calls;
    std::vector<std::string> messages;
    void* userData = nullptr;
    std::string objectFile; // the scene's one object, or no object when empty

    fakes::FakeEnvelopes envelopes;
    fakes::FakePanel panel;
    MessageService messageService{};
    PanelServices panelService{};
    ItemInfo itemInfo{};
    ObjectInfo objectInfo{};
};

FakeHost* host = nullptr;
int objectItem = 0;

void* fakeLookup(const char* name, int32_t use) {
    host->calls.push_back(std::string("lookup ") + name + (use == 0 ? "" : " (use not 0)"));
    if (host->withheld.count(name) != 0)
        return nullptr;
    const std::string n = name;
    if (n == "Info Messages")
        return &host->messageService;
    if (n == "EnvelopeHandler")
        return &host->envelopes.service;
    if (n == "LWPanelServices")
        return &host->panelService;
    if (n == "LW Item Info 2")
        return &host->itemInfo;
    if (n == "LW Object Info")
        return &host->objectInfo;
    return nullptr;
}

FakeHost::FakeHost() {
    host = this;
    // The panel is the fake panel host's, with its panel-level calls logged here.
    panelService = panel.service;
    messageService.errorMessage = [](const char* a, const char* b) {
        host->messages.push_back(std::string(a) + " | " + b);
    };
    panelService.createPanel = [](const char* title, const PanelServices* self) -> PanelHandle {
        host->calls.push_back(std::string("createPanel ") + title +
                              (self == &host->panelService ? "" : " (not itself)"));
        return host->panelFails ? nullptr : host->panel.service.createPanel(title, self);
    };
    panelService.destroyPanel = [](PanelHandle p) {
        host->calls.push_back("destroyPanel");
        host->panel.service.destroyPanel(p);
    };
    itemInfo.firstItem = [](int32_t type, ItemId) -> ItemId {
        return type == ItemObject && !host->objectFile.empty() ? &objectItem : nullptr;
    };
    itemInfo.nextItem = [](ItemId) -> ItemId { return nullptr; };
    objectInfo.objectFileName = [](ItemId) { return host->objectFile.c_str(); };
    panelService.setPanelAttr = [](PanelHandle p, int32_t attr, void* value) {
        host->calls.push_back("setPanelAttr " + std::to_string(attr));
        if (attr == PanelUserData)
            std::memcpy(&host->userData, value, sizeof host->userData);
        host->panel.service.setPanelAttr(p, attr, value);
    };
}

FakeHost::~FakeHost() {
    host = nullptr;
}

class Activation : public ::testing::Test {
  protected:
    void SetUp() override {
        orvit::globalLookup = nullptr;
        orvit::envelopeService = nullptr;
        orvit::messageService = nullptr;
        orvit::panelService = nullptr;
        orvit::currentPanel = nullptr;
    }
    void TearDown() override { SetUp(); }
};

TEST_F(Activation, DescriptorListsBothServersAndStartsUp) {
    EXPECT_EQ(_mod_descrip.syncWord, 0x04121994u);
    EXPECT_EQ(_mod_descrip.version, 2u);
    EXPECT_EQ(_mod_descrip.machineWord, 0x300u);
    EXPECT_EQ(_mod_descrip.startup(), 4);
    _mod_descrip.shutdown();
    const ServerRecord* s = _mod_descrip.servers;
    EXPECT_STREQ(s[0].serverClass, "ImageFilterHandler");
    EXPECT_STREQ(s[0].serverName, "Tesk_Orvit");
    EXPECT_EQ(s[0].activate, &orvit::activateHandler);
    EXPECT_STREQ(s[1].serverClass, "ImageFilterInterface");
    EXPECT_STREQ(s[1].serverName, "Tesk_Orvit");
    EXPECT_EQ(s[1].activate, &orvit::activateInterface);
    EXPECT_EQ(s[2].serverClass, nullptr);
    EXPECT_EQ(s[2].serverName, nullptr);
    EXPECT_EQ(s[2].activate, nullptr);
}

TEST_F(Activation, RefusesVersionsOtherThan1AndLeavesEverythingUntouched) {
    FakeHost fake;
    const EnvelopeService* envelopesBefore = orvit::envelopeService;
    orvit::FilterInstance* instance = orvit::createInstance();
    for (int32_t version : {0, 2, -1}) {
        for (ActivateFunc activate : {&orvit::activateHandler, &orvit::activateInterface}) {
            FilterHandler handler;
            std::memset(&handler, 0xA5, sizeof handler);
            void* local = activate == &orvit::activateHandler ? static_cast<void*>(&handler)
                                                              : static_cast<void*>(instance);
            EXPECT_EQ(activate(version, fakeLookup, local), 1) << "version " << version;
            for (size_t i = 0; i < sizeof handler; ++i)
                ASSERT_EQ(reinterpret_cast<const uint8_t*>(&handler)[i], 0xA5) << "byte " << i;
        }
    }
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(orvit::globalLookup, nullptr);
    EXPECT_EQ(orvit::envelopeService, envelopesBefore);
    orvit::destroyInstance(instance);
}

TEST_F(Activation, HandlerFillsAllSevenSlotsWithOrWithoutEnvelopes) {
    for (bool withEnvelopes : {true, false}) {
        FakeHost fake;
        if (!withEnvelopes)
            fake.withheld.insert("EnvelopeHandler");
        orvit::envelopeService = &fake.envelopes.service; // replaced either way
        FilterHandler handler{};
        EXPECT_EQ(orvit::activateHandler(1, fakeLookup, &handler), 0);
        EXPECT_EQ(fake.calls, std::vector<std::string>{"lookup EnvelopeHandler"});
        EXPECT_EQ(orvit::globalLookup, &fakeLookup);
        EXPECT_EQ(orvit::envelopeService, withEnvelopes ? &fake.envelopes.service : nullptr);

        ASSERT_TRUE(handler.create && handler.destroy && handler.copy && handler.load &&
                    handler.save && handler.process && handler.flags);
        InstanceHandle a = handler.create();
        InstanceHandle b = handler.create();
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(handler.flags(a), 0x1001u);
        EXPECT_EQ(handler.flags(nullptr), 0x1001u);
        // Copy takes the source first and the destination second.
        auto* source = static_cast<orvit::FilterInstance*>(a);
        source->enabled = 1;
        orvit::findOrAddSetting(source, 9)->distance = 0.25;
        EXPECT_EQ(handler.copy(a, b), 0);
        auto* copy = static_cast<orvit::FilterInstance*>(b);
        EXPECT_EQ(copy->enabled, 1);
        ASSERT_EQ(copy->settingCount, 1);
        EXPECT_EQ(copy->settings[0]->value, 9);
        EXPECT_EQ(copy->settings[0]->distance, 0.25);
        EXPECT_EQ(source->settingCount, 1);
        handler.destroy(a);
        handler.destroy(b);
    }
}

// A one-surface object file whose surface "Glow" carries special value 7.
std::string writeObjectWithValue7() {
    const unsigned char bytes[] = {'F', 'O', 'R', 'M', 0,   0,   0, 28, 'L', 'W', 'O', 'B',
                                   'S', 'U', 'R', 'F', 0,   0,   0, 16, 'G', 'l', 'o', 'w',
                                   0,   0,   'S', 'P', 'B', 'F', 0, 4,  7,   0,   0,   0};
    const std::string path = ::testing::TempDir() + "activation-value-7.lwo";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(bytes, 1, sizeof bytes, file);
        std::fclose(file);
    }
    return path;
}

TEST_F(Activation, InterfaceLooksUpServicesInOrderAndStopsAtTheFirstMissingOne) {
    const std::vector<std::string> lookups = {"lookup Info Messages", "lookup EnvelopeHandler",
                                              "lookup LWPanelServices"};
    const std::vector<std::string> opened = {"createPanel Orvit by Tesk Ver 0.4beta",
                                             "setPanelAttr 12", "lookup LW Item Info 2",
                                             "lookup LW Object Info", "destroyPanel"};
    const std::vector<std::string> shown = {"createPanel Orvit by Tesk Ver 0.4beta",
                                            "setPanelAttr 12",
                                            "lookup LW Item Info 2",
                                            "lookup LW Object Info",
                                            "setPanelAttr 3",
                                            "destroyPanel"};
    const std::string noSpecial = "There is no Special buffer. | Please set any Special buffers.";
    struct Case {
        const char* withheld;
        bool panelFails;
        bool objectWithValue;
        int32_t result;
        size_t lookupsMade;
        std::vector<std::string> panelCalls;
        std::vector<std::string> messages;
        int32_t specialValues;
    };
    const Case cases[] = {
        {"Info Messages", false, true, 2, 1, {}, {}, 1},
        {"EnvelopeHandler",
         false,
         true,
         2,
         2,
         {},
         {"Looking for EnvelopeHandler | Got plexora.p?"},
         1},
        {"LWPanelServices", false, true, 2, 3, {}, {}, 1},
        {"", true, true, 2, 3, {"createPanel Orvit by Tesk Ver 0.4beta"}, {}, 1},
        // No object carries a special value: the message, and success.
        {"", false, false, 0, 3, opened, {noSpecial}, 0},
        // Without the object service no file can be read.
        {"LW Object Info", false, true, 0, 3, opened, {noSpecial}, 0},
        // A special value exists: the panel runs and closes.
        {"", false, true, 0, 3, shown, {}, 1},
    };
    const std::string objectFile = writeObjectWithValue7();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("withheld '") + c.withheld + "'" +
                     (c.panelFails ? ", panel fails" : "") +
                     (c.objectWithValue ? ", value 7" : ", no value"));
        FakeHost fake;
        fake.panel.user = [] { return 0; }; // a shown panel is cancelled
        fake.withheld.insert(c.withheld);
        fake.panelFails = c.panelFails;
        fake.objectFile = c.objectWithValue ? objectFile : "";
        orvit::FilterInstance* instance = orvit::createInstance();
        orvit::findOrAddSetting(instance, 5);
        instance->enabled = 1;
        // An earlier scan's table stays until a scan replaces it.
        const uint8_t old[4] = {9, 0, 0, 0};
        orvit::addSurface(instance, "Old", old);

        EXPECT_EQ(orvit::activateInterface(1, fakeLookup, instance), c.result);
        std::vector<std::string> expected(lookups.begin(), lookups.begin() + c.lookupsMade);
        expected.insert(expected.end(), c.panelCalls.begin(), c.panelCalls.end());
        EXPECT_EQ(fake.calls, expected);
        EXPECT_EQ(fake.messages, c.messages);
        if (c.panelCalls.size() > 1) {
            EXPECT_EQ(fake.userData, instance);
            ASSERT_EQ(instance->specialValueCount, c.specialValues);
            if (c.specialValues == 1) {
                EXPECT_EQ(instance->specialValues[0], 7);
            }
        } else {
            ASSERT_EQ(instance->specialValueCount, 1);
            EXPECT_EQ(instance->specialValues[0], 9);
        }
        EXPECT_EQ(orvit::currentPanel, nullptr);
        // The settings and the enable flag change only through the panel.
        EXPECT_EQ(instance->enabled, 1);
        ASSERT_EQ(instance->settingCount, 1);
        EXPECT_EQ(instance->settings[0]->value, 5);
        orvit::destroyInstance(instance);
    }
    std::remove(objectFile.c_str());
}

TEST_F(Activation, OpenSettingsWithoutAnInstanceMakesNoPanel) {
    FakeHost fake;
    orvit::globalLookup = fakeLookup;
    orvit::messageService = &fake.messageService;
    orvit::panelService = &fake.panelService;
    EXPECT_FALSE(orvit::openSettings(nullptr));
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_TRUE(fake.messages.empty());
    EXPECT_EQ(orvit::currentPanel, nullptr);
}

TEST_F(Activation, NullRecordsAreRefusedBeforeAnythingIsStored) {
    FakeHost fake;
    EXPECT_EQ(orvit::activateHandler(1, fakeLookup, nullptr), 2);
    EXPECT_EQ(orvit::activateInterface(1, fakeLookup, nullptr), 2);
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(orvit::globalLookup, nullptr);
}

} // namespace
