#include "orvit/host/host_services.h"

#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <string>
#include <vector>

namespace {

using orvit::host::HostServices;

template <typename T> const T* lookUp(const char* name) {
    return static_cast<const T*>(HostServices::lookup()(name, 0));
}

constexpr double kDegree = 3.14159265358979323846 / 180.0;

TEST(HostServices, ItemInfoWalksTheSceneObjectsInOrderAndNamesTheirFiles) {
    HostServices host;
    host.scene.objects = {"a.lwo", "dir/b.lwo", "a.lwo"};
    host.scene.cameras.resize(1);
    const auto* items = lookUp<ItemInfo>("LW Item Info 2");
    const auto* objects = lookUp<ObjectInfo>("LW Object Info");
    ASSERT_NE(items, nullptr);
    ASSERT_NE(objects, nullptr);

    std::vector<std::string> names;
    for (ItemId item = items->firstItem(ItemObject, nullptr); item != nullptr;
         item = items->nextItem(item))
        names.push_back(objects->objectFileName(item));
    EXPECT_EQ(names, host.scene.objects);

    // The camera is no object, children do not exist, and no camera follows the first.
    ItemId camera = items->firstItem(ItemCamera, nullptr);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(objects->objectFileName(camera), nullptr);
    EXPECT_EQ(items->nextItem(camera), nullptr);
    EXPECT_EQ(items->firstItem(ItemObject, camera), nullptr);
    EXPECT_EQ(items->firstItem(7, nullptr), nullptr);
    int foreign = 0;
    EXPECT_EQ(objects->objectFileName(&foreign), nullptr);
    EXPECT_EQ(items->nextItem(nullptr), nullptr);

    host.scene.objects.clear();
    EXPECT_EQ(items->firstItem(ItemObject, nullptr), nullptr);
}

TEST(HostServices, CameraKIsTanOfHalfTheKeyedHorizontalFieldOfView) {
    HostServices host;
    host.scene.cameras.push_back({{{0.0, 60 * kDegree}, {10.0, 90 * kDegree}}});
    host.scene.cameras.push_back({{{0.0, 10 * kDegree}}});
    const auto* items = lookUp<ItemInfo>("LW Item Info 2");
    const auto* cameras = lookUp<CameraInfo>("LW Camera Info");
    ASSERT_NE(cameras, nullptr);
    ItemId first = items->firstItem(ItemCamera, nullptr);

    const struct {
        double time;
        double fovDegrees;
    } cases[] = {{-3.0, 60}, {0.0, 60}, {5.0, 75}, {10.0, 90}, {12.0, 90}};
    for (const auto& c : cases) {
        double k = 0.0;
        double k2 = -1.0;
        EXPECT_EQ(cameras->viewValues(first, c.time, &k, &k2), 1);
        EXPECT_NEAR(k, std::tan(c.fovDegrees * kDegree / 2), 1e-15) << "at time " << c.time;
        EXPECT_EQ(k2, 0.0);
    }
    double k = 0.0;
    cameras->viewValues(first, 10.0, &k, nullptr);
    EXPECT_DOUBLE_EQ(k, 1.0);

    // The second camera is reached with nextItem; objects have no view.
    double second = 0.0;
    cameras->viewValues(items->nextItem(first), 0.0, &second, nullptr);
    EXPECT_NEAR(second, std::tan(5 * kDegree), 1e-15);
    host.scene.objects = {"a.lwo"};
    double untouched = 7.0;
    EXPECT_EQ(cameras->viewValues(items->firstItem(ItemObject, nullptr), 0.0, &untouched, nullptr),
              0);
    EXPECT_EQ(untouched, 7.0);
}

TEST(HostServices, LooksUpExactNamesRecordsThemAndWithholdsOnDemand) {
    HostServices host;
    host.quiet = true;
    const char* names[] = {"Info Messages",  "EnvelopeHandler", "LW Item Info 2",
                           "LW Object Info", "LW Camera Info",  "LWPanelServices"};
    for (const char* name : names)
        EXPECT_NE(HostServices::lookup()(name, 0), nullptr) << name;
    EXPECT_EQ(HostServices::lookup()("LW Item Info", 0), nullptr);
    EXPECT_EQ(HostServices::lookup()("info messages", 0), nullptr);
    EXPECT_EQ(HostServices::lookup()(nullptr, 0), nullptr);

    host.withheld = {"EnvelopeHandler"};
    EXPECT_EQ(HostServices::lookup()("EnvelopeHandler", 0), nullptr);
    EXPECT_EQ(host.lookups.size(), 9u);
    EXPECT_EQ(host.lookups.back(), "EnvelopeHandler");

    const auto* messages = lookUp<MessageService>("Info Messages");
    messages->errorMessage("There is no Special buffer.", "Please set any Special buffers.");
    messages->info("one", nullptr);
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_TRUE(host.messages[0].error);
    EXPECT_EQ(host.messages[0].first, "There is no Special buffer.");
    EXPECT_EQ(host.messages[0].second, "Please set any Special buffers.");
    EXPECT_FALSE(host.messages[1].error);
    EXPECT_EQ(host.messages[1].second, "");
}

// A user that fails by throwing, as one out of memory might.
class ThrowingUser : public orvit::panel::PanelUser {
  public:
    int32_t run(orvit::panel::Panel&, int32_t) override { throw std::bad_alloc(); }
};

// Answers every opening with `answer`, remembering the flags.
class AnsweringUser : public orvit::panel::PanelUser {
  public:
    explicit AnsweringUser(int32_t a) : answer(a) {}
    int32_t run(orvit::panel::Panel& panel, int32_t f) override {
        flags = f;
        title = panel.title();
        // A second opening of a panel already open is refused.
        nested = HostServices::lookup() != nullptr
                     ? lookUp<PanelServices>("LWPanelServices")->openPanel(panel.handle(), 7)
                     : -1;
        return answer;
    }
    int32_t answer;
    int32_t flags = 0;
    int32_t nested = -1;
    std::string title;
};

TEST(HostServices, PanelSlotsRunOnTheBoundHostsPanelsAndRecordWhatHappened) {
    HostServices host;
    const auto* panels = lookUp<PanelServices>("LWPanelServices");
    ASSERT_EQ(panels, &host.panelServices);
    EXPECT_EQ(panels->drawFuncs, orvit::panel::panelDrawFuncs());
    EXPECT_EQ(panels->slot3, nullptr);
    EXPECT_EQ(panels->slot5, nullptr);
    EXPECT_EQ(panels->slot9, nullptr);

    PanelHandle a = panels->createPanel("A", panels);
    PanelHandle b = panels->createPanel(nullptr, panels);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(a, b);
    int32_t height = 300;
    int marker = 0;
    void* data = &marker;
    panels->setPanelAttr(a, PanelHeight, &height);
    panels->setPanelAttr(a, PanelUserData, &data);
    panels->setPanelAttr(a, 99, &height);
    int32_t readHeight = -1;
    void* readData = nullptr;
    panels->getPanelAttr(a, PanelHeight, &readHeight);
    panels->getPanelAttr(a, PanelUserData, &readData);
    panels->getPanelAttr(b, PanelHeight, &height);
    EXPECT_EQ(readHeight, 300);
    EXPECT_EQ(readData, &marker);
    EXPECT_EQ(height, 10) << "an empty panel: its margin";
    EXPECT_EQ(panels->openPanel(b, 7), 0) << "no user: Cancel";
    panels->drawPanel(b, DrawRefresh);
    panels->destroyPanel(a);

    // A released or foreign handle changes nothing and is logged.
    int32_t untouched = 5;
    panels->getPanelAttr(a, PanelHeight, &untouched);
    panels->setPanelAttr(a, PanelHeight, &height);
    ControlDesc box{};
    box.type = DescBool;
    EXPECT_EQ(panels->addControl(a, "BoolControl", &box, "x"), nullptr);
    panels->destroyPanel(&marker);
    EXPECT_EQ(untouched, 5);

    const auto& kept = host.panelHost;
    EXPECT_EQ(kept.events,
              (std::vector<std::string>{
                  "create A", "create ", "set Height 300", "set UserData", "set attribute 99",
                  "get Height", "get UserData", "get Height", "open 7", "draw 3", "destroy",
                  "get Height (no such panel)", "set Height (no such panel)",
                  "add BoolControl \"x\" (no such panel)", "destroy (no such panel)"}));
    ASSERT_EQ(kept.panels().size(), 2u);
    EXPECT_FALSE(kept.panels()[0]->live());
    EXPECT_FALSE(kept.panels()[0]->opened);
    EXPECT_EQ(kept.panels()[0]->height(), 300);
    EXPECT_TRUE(kept.panels()[1]->opened);
    EXPECT_EQ(kept.livePanels(), 1u);

    host.panelHost.refuseCreate = true;
    EXPECT_EQ(panels->createPanel("C", panels), nullptr);
    EXPECT_EQ(kept.panels().size(), 2u);
    host.panelHost.refuseCreate = false;

    // The user answers the opening; a nested opening of the same panel is refused.
    AnsweringUser ok(1);
    host.panelHost.user = &ok;
    EXPECT_EQ(panels->openPanel(b, 7), 1);
    EXPECT_EQ(ok.flags, 7);
    EXPECT_EQ(ok.title, "");
    EXPECT_EQ(ok.nested, 0);
    AnsweringUser other(42);
    host.panelHost.user = &other;
    EXPECT_EQ(panels->openPanel(b, 3), 42);

    // Nothing a user throws reaches the module.
    ThrowingUser throwing;
    host.panelHost.user = &throwing;
    EXPECT_EQ(panels->openPanel(b, 7), 0);
    EXPECT_FALSE(kept.panels()[1]->running);
    panels->destroyPanel(b);
}

TEST(HostServices, PanelHostKeepsTheNewestReleasedPanelsAndRefusesTheControlAskedFor) {
    HostServices host;
    const auto* panels = lookUp<PanelServices>("LWPanelServices");
    host.panelHost.refuseControl = 2;
    ControlDesc button{};
    button.type = DescButton;
    for (int i = 0; i < 10; ++i) {
        PanelHandle p = panels->createPanel(std::to_string(i).c_str(), panels);
        EXPECT_NE(panels->addControl(p, "ButtonControl", &button, "one"), nullptr);
        EXPECT_EQ(panels->addControl(p, "ButtonControl", &button, "two"), nullptr);
        EXPECT_NE(panels->addControl(p, "ButtonControl", &button, "three"), nullptr);
        panels->destroyPanel(p);
    }
    EXPECT_EQ(host.panelHost.panelsMade(), 10u);
    // The one being made joins the kept ones on the next creation.
    ASSERT_EQ(host.panelHost.panels().size(), orvit::panel::PanelHost::kKeptPanels + 1);
    EXPECT_EQ(host.panelHost.panels().back()->title(), "9");
    EXPECT_EQ(host.panelHost.panels().front()->title(), "5");
    const auto& controls = host.panelHost.panels().back()->controls();
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[1]->label(), "three");
    EXPECT_EQ(host.panelHost.events[2], "add ButtonControl \"two\" refused");
}

TEST(HostServices, WithoutBoundServicesTheLookupFindsNothing) {
    { HostServices host; }
    EXPECT_EQ(HostServices::lookup()("Info Messages", 0), nullptr);
}

} // namespace
