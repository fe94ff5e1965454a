#include "tests/support/fakes/fake_camera.h"

#include <cstring>

namespace fakes {

namespace {

FakeCamera* current = nullptr;
int cameraItem = 0;

void* lookup(const char* name, int32_t use) {
    current->calls.push_back(std::string("lookup ") + name + " " + std::to_string(use));
    if (std::strcmp(name, "LW Item Info 2") == 0)
        return current->offerItems ? &current->items : nullptr;
    if (std::strcmp(name, "LW Camera Info") == 0)
        return current->offerCamera ? &current->camera : nullptr;
    return nullptr;
}

ItemId firstItem(int32_t type, ItemId parent) {
    current->calls.push_back("firstItem " + std::to_string(type) + " " +
                             std::to_string(parent == nullptr ? 0 : 1));
    return type == ItemCamera && current->haveCameraItem ? &cameraItem : nullptr;
}

ItemId nextItem(ItemId) {
    current->calls.push_back("nextItem");
    return nullptr;
}

int32_t viewValues(ItemId item, double time, double* first, double* second) {
    current->calls.push_back(item == &cameraItem ? "viewValues camera" : "viewValues other");
    current->time = time;
    *first = current->k;
    *second = 0.0;
    return 1;
}

} // namespace

FakeCamera::FakeCamera(double kValue) : k(kValue) {
    current = this;
    items.firstItem = firstItem;
    items.nextItem = nextItem;
    camera.viewValues = viewValues;
    orvit::globalLookup = lookup;
}

FakeCamera::~FakeCamera() {
    orvit::globalLookup = nullptr;
    current = nullptr;
}

} // namespace fakes
