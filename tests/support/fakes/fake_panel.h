// A recording panel service for unit tests: controls keep their values,
// places and callbacks; every drawing call is kept; the modal run is a
// function the test gives. It can refuse the n-th control on demand.
#pragma once

#include "module/abi/panel.h"
#include "tests/support/fakes/bound.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fakes {

struct FakeControl {
    Control record; // first, so a handle is the control
    int index = 0;  // creation order, from 0
    std::string type;
    std::string label;
    int32_t descType = 0;
    std::vector<std::string> items; // list items or text lines
    int32_t listParam = 0;
    int32_t range[3] = {0, 0, 0}; // width, min, max
    int32_t area[2] = {0, 0};     // width, height
    int32_t x = 0, y = 0, width = 0, height = 0;
    int32_t intValue = 0;
    int32_t vector[3] = {0, 0, 0};
    double floatValue = 0.0;
    ControlEventFunc event = nullptr;
    ControlDrawFunc draw = nullptr;
    void* userData = nullptr;
    bool ghosted = false;
};

struct DrawCall {
    std::string kind; // "pixel", "box" (palette), "rgbBox"
    int32_t red, green, blue, x, y, width, height;
};

class FakePanel : public Bound<FakePanel> {
  public:
    // Installs the service in the module's process-wide variable.
    FakePanel();
    ~FakePanel();

    // Makes the panel the module's current one, as createPanel would.
    void makeCurrent();

    FakeControl* control(int index) { return controls.at(static_cast<size_t>(index)).get(); }
    // The n-th control (from 0) of `label`.
    FakeControl* byLabel(const std::string& label, int n = 0);
    // A user's change: the value, then the event callback.
    void change(FakeControl* c, int32_t value);
    void changeVector(FakeControl* c, int32_t red, int32_t green, int32_t blue);
    void press(FakeControl* c);

    PanelServices service{};
    DrawFuncs drawFuncs{};
    std::vector<std::unique_ptr<FakeControl>> controls;
    std::vector<std::string> calls; // panel-level calls and control draw modes
    std::vector<DrawCall> drawn;
    std::function<int32_t()> user = [] { return 1; }; // the modal run
    int refuseControl = -1;                           // addControl returns null for this index
    int32_t height = 180;                             // the panel's Height
    void* userData = nullptr;
    int panelsMade = 0;
    int panelsDestroyed = 0;
};

} // namespace fakes
