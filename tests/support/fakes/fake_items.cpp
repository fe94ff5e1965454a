#include "tests/support/fakes/fake_items.h"

#include <cstdint>

namespace fakes {

namespace {

size_t indexOf(ItemId item) {
    return reinterpret_cast<uintptr_t>(item) - 1;
}

ItemId idOf(size_t index) {
    return reinterpret_cast<ItemId>(static_cast<uintptr_t>(index) + 1);
}

ItemId ORVIT_CALL firstItem(int32_t type, ItemId parent) {
    FakeItems::current()->calls.push_back("first " + std::to_string(type) + " " +
                                          std::to_string(reinterpret_cast<uintptr_t>(parent)));
    return type == ItemObject && !FakeItems::current()->objectFiles.empty() ? idOf(0) : nullptr;
}

ItemId ORVIT_CALL nextItem(ItemId item) {
    FakeItems::current()->calls.push_back("next " +
                                          std::to_string(reinterpret_cast<uintptr_t>(item)));
    const size_t next = indexOf(item) + 1;
    return next < FakeItems::current()->objectFiles.size() ? idOf(next) : nullptr;
}

const char* ORVIT_CALL objectFileName(ItemId item) {
    FakeItems::current()->calls.push_back("name " +
                                          std::to_string(reinterpret_cast<uintptr_t>(item)));
    const std::optional<std::string>& name = FakeItems::current()->objectFiles.at(indexOf(item));
    return name ? name->c_str() : nullptr;
}

} // namespace

FakeItems::FakeItems() {
    itemInfo_.firstItem = firstItem;
    itemInfo_.nextItem = nextItem;
    objectInfo_.objectFileName = objectFileName;
}

const ItemInfo* FakeItems::itemInfo() {
    bind();
    return &itemInfo_;
}

const ObjectInfo* FakeItems::objectInfo() {
    bind();
    return &objectInfo_;
}

} // namespace fakes
