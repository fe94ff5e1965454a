// A FilterInstance owned by a test, destroyed through the module's own call.
#pragma once

#include "module/settings/settings.h"

#include <memory>

namespace fakes {

struct InstanceDeleter {
    void operator()(orvit::FilterInstance* i) const { orvit::destroyInstance(i); }
};
using Instance = std::unique_ptr<orvit::FilterInstance, InstanceDeleter>;

} // namespace fakes
