// Fake "LW Item Info 2" and "LW Camera Info" behind a fake global lookup,
// logging each call, for the depth kernels. Either service, or the camera,
// can be withheld.
#pragma once

#include "module/abi/items.h"
#include "module/services/services.h"
#include "tests/support/fakes/bound.h"

#include <string>
#include <vector>

namespace fakes {

class FakeCamera : public Bound<FakeCamera> {
  public:
    // Installs the lookup in the module's process-wide variable.
    explicit FakeCamera(double k);
    ~FakeCamera();

    double k;
    double time = -1.0; // time of the last viewValues call
    bool offerItems = true;
    bool offerCamera = true;
    bool haveCameraItem = true;
    std::vector<std::string> calls;

    ItemInfo items{};
    CameraInfo camera{};
};

} // namespace fakes
