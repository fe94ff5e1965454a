#include "tests/support/fakes/fake_items.h"

#include <cstdint>

namespace fakes {

namespace {

FakeItems* bound = nullptr;

size_t indexOf(ItemId item) {
    return reinterpret_cast<uintptr_t>(item) - 1;
}

ItemId idOf(size_t index) {
    return reinterpret_cast<ItemId>(static_cast<uintptr_t>(index) + 1);
}

ItemId ORVIT_CALL firstItem(int32_t type, ItemId parent) {
    bound->calls.push_back("first " + std::to_string(type) + " " +
                           std::to_string(reinterpret_cast<uintptr_t>(parent)));
    return type == ItemObject && !bound->objectFiles.empty() ? idOf(0) : nullptr;
}

ItemId ORVIT_CALL nextItem(ItemId item) {
    bound->calls.push_back("next " + std::to_string(reinterpret_cast<uintptr_t>(item)));
    const size_t next = indexOf(item) + 1;
    return next < bound->objectFiles.size() ? idOf(next) : nullptr;
}

const char* ORVIT_CALL objectFileName(ItemId item) {
    bound->calls.push_back("name " + std::to_string(reinterpret_cast<uintptr_t>(item)));
    const std::optional<std::string>& name = bound->objectFiles.at(indexOf(item));
    return name ? name->c_str() : nullptr;
}

} // namespace

FakeItems::FakeItems() {
    bound = this;
    itemInfo_.firstItem = firstItem;
    itemInfo_.nextItem = nextItem;
    objectInfo_.objectFileName = objectFileName;
}

const ItemInfo* FakeItems::itemInfo() {
    bound = this;
    return &itemInfo_;
}

const ObjectInfo* FakeItems::objectInfo() {
    bound = this;
    return &objectInfo_;
}

FakeItems::~FakeItems() {
    if (bound == this)
        bound = nullptr;
}

} // namespace fakes
