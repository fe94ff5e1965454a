#include "standin/core/host_services.h"

#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <string>
#include <vector>

namespace {

using orvit::standin::HostServices;

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

// A backend that fails every call by throwing, as one out of memory might.
class ThrowingPanels : public orvit::standin::PanelBackend {
  public:
    PanelHandle createPanel(const char*) override { throw std::bad_alloc(); }
    void destroyPanel(PanelHandle) override { throw std::bad_alloc(); }
    int32_t openPanel(PanelHandle, int32_t) override { throw std::bad_alloc(); }
    bool getPanelAttr(PanelHandle, int32_t, void*) override { throw std::bad_alloc(); }
    bool setPanelAttr(PanelHandle, int32_t, const void*) override { throw std::bad_alloc(); }
};

TEST(HostServices, PanelSlotsForwardToTheBackendAndRecordWhatHappened) {
    HostServices host;
    const auto* panels = lookUp<PanelServices>("LWPanelServices");
    ASSERT_EQ(panels, &host.panelServices);
    // Controls and drawing are not offered yet.
    EXPECT_EQ(panels->addControl, nullptr);
    EXPECT_EQ(panels->drawPanel, nullptr);
    EXPECT_EQ(panels->drawFuncs, nullptr);

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
    EXPECT_EQ(height, 0) << "a new panel's height";
    EXPECT_EQ(panels->openPanel(b, 7), 0) << "nothing to show: Cancel";
    panels->destroyPanel(a);

    // A released or foreign handle changes nothing and is logged.
    int32_t untouched = 5;
    panels->getPanelAttr(a, PanelHeight, &untouched);
    panels->setPanelAttr(a, PanelHeight, &height);
    panels->destroyPanel(&marker);
    EXPECT_EQ(untouched, 5);

    const auto& recorder = host.panelRecorder;
    EXPECT_EQ(recorder.events, (std::vector<std::string>{
                                   "create A", "create ", "set Height 300", "set UserData",
                                   "set attribute 99", "get Height", "get UserData", "get Height",
                                   "open 7", "destroy", "get Height (no such panel)",
                                   "set Height (no such panel)", "destroy (no such panel)"}));
    ASSERT_EQ(recorder.panels().size(), 2u);
    EXPECT_TRUE(recorder.panels()[0]->destroyed);
    EXPECT_FALSE(recorder.panels()[0]->opened);
    EXPECT_EQ(recorder.panels()[0]->height, 300);
    EXPECT_TRUE(recorder.panels()[1]->opened);
    EXPECT_EQ(recorder.livePanels(), 1u);

    host.panelRecorder.refuseCreate = true;
    EXPECT_EQ(panels->createPanel("C", panels), nullptr);
    EXPECT_EQ(recorder.panels().size(), 2u);

    // Nothing a backend throws reaches the module.
    ThrowingPanels throwing;
    host.panelBackend = &throwing;
    EXPECT_EQ(panels->createPanel("D", panels), nullptr);
    EXPECT_EQ(panels->openPanel(b, 7), 0);
    panels->getPanelAttr(b, PanelHeight, &untouched);
    panels->setPanelAttr(b, PanelHeight, &untouched);
    panels->destroyPanel(b);
    EXPECT_EQ(untouched, 5);
}

TEST(HostServices, WithoutBoundServicesTheLookupFindsNothing) {
    { HostServices host; }
    EXPECT_EQ(HostServices::lookup()("Info Messages", 0), nullptr);
}

} // namespace
