// The scene's objects behind "LW Item Info 2" and "LW Object Info", for unit
// tests. Object i (0-based) is the item id i + 1; each object's file name can
// be null. Every call is recorded: "first T P", "next I", "name I".
#pragma once

#include "module/abi/items.h"
#include "tests/support/fakes/bound.h"

#include <optional>
#include <string>
#include <vector>

namespace fakes {

class FakeItems : public Bound<FakeItems> {
  public:
    FakeItems();

    // The records, bound to this scene; only one scene is bound at a time.
    const ItemInfo* itemInfo();
    const ObjectInfo* objectInfo();

    std::vector<std::optional<std::string>> objectFiles;
    std::vector<std::string> calls;

  private:
    ItemInfo itemInfo_{};
    ObjectInfo objectInfo_{};
};

} // namespace fakes
