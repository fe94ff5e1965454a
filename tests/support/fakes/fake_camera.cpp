#include "tests/support/fakes/fake_camera.h"

#include <cstring>

namespace fakes {

namespace {

int cameraItem = 0;

void* lookup(const char* name, int32_t use) {
    FakeCamera::current()->calls.push_back(std::string("lookup ") + name + " " +
                                           std::to_string(use));
    if (std::strcmp(name, "LW Item Info 2") == 0)
        return FakeCamera::current()->offerItems ? &FakeCamera::current()->items : nullptr;
    if (std::strcmp(name, "LW Camera Info") == 0)
        return FakeCamera::current()->offerCamera ? &FakeCamera::current()->camera : nullptr;
    return nullptr;
}

ItemId firstItem(int32_t type, ItemId parent) {
    FakeCamera::current()->calls.push_back("firstItem " + std::to_string(type) + " " +
                                           std::to_string(parent == nullptr ? 0 : 1));
    return type == ItemCamera && FakeCamera::current()->haveCameraItem ? &cameraItem : nullptr;
}

ItemId nextItem(ItemId) {
    FakeCamera::current()->calls.push_back("nextItem");
    return nullptr;
}

int32_t viewValues(ItemId item, double time, double* first, double* second) {
    FakeCamera::current()->calls.push_back(item == &cameraItem ? "viewValues camera"
                                                               : "viewValues other");
    FakeCamera::current()->time = time;
    *first = FakeCamera::current()->k;
    *second = 0.0;
    return 1;
}

} // namespace

FakeCamera::FakeCamera(double kValue) : k(kValue) {
    items.firstItem = firstItem;
    items.nextItem = nextItem;
    camera.viewValues = viewValues;
    orvit::globalLookup = lookup;
}

FakeCamera::~FakeCamera() {
    orvit::globalLookup = nullptr;
}

} // namespace fakes
