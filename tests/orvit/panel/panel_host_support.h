// Drives the stand-in's panels through the "LWPanelServices" record, as a
// module does: descriptors, attribute records and callbacks that note their
// calls.
#pragma once

#include "module/abi/panel.h"
#include "module/panel/control_descs.h"
#include "orvit/host/host_services.h"
#include "orvit/panel/panel_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace paneltest {

inline const PanelServices* panelServices() {
    return static_cast<const PanelServices*>(
        orvit::host::HostServices::lookup()("LWPanelServices", 0));
}

// A test with a quiet host and one panel made through its panel service.
class HostPanelTest : public ::testing::Test {
  protected:
    explicit HostPanelTest(const char* title) {
        host.quiet = true;
        services = panelServices();
        panel = services->createPanel(title, services);
    }
    ControlHandle add(const char* type, const ControlDesc& desc, const char* label) {
        return services->addControl(panel, type, &desc, label);
    }

    orvit::host::HostServices host;
    const PanelServices* services = nullptr;
    PanelHandle panel = nullptr;
};

// Descriptors as the module makes them.
inline ControlDesc plainDesc(int32_t code) {
    return orvit::blankDesc(code);
}
using orvit::areaDesc;
using orvit::listDesc;
using orvit::rangeDesc;
using orvit::textDesc;

inline int32_t getInt(ControlHandle c, int32_t attr) {
    ControlValue v{};
    v.type = ValueInt;
    v.intValue = -12345;
    c->getControlAttr(c, attr, &v);
    return v.intValue;
}

inline void setInt(ControlHandle c, int32_t attr, int32_t value) {
    ControlValue v{};
    v.type = ValueInt;
    v.intValue = value;
    c->setControlAttr(c, attr, &v);
}

inline double getReal(ControlHandle c) {
    ControlValue v{};
    v.type = ValueFloat;
    v.real.value = -12345.0;
    c->getControlAttr(c, AttrValue, &v);
    return v.real.value;
}

inline void setReal(ControlHandle c, double value) {
    ControlValue v{};
    v.type = ValueFloat;
    v.real.value = value;
    c->setControlAttr(c, AttrValue, &v);
}

inline void setRgb(ControlHandle c, int32_t red, int32_t green, int32_t blue) {
    ControlValue v{};
    v.type = ValueIntVector;
    v.intVector[0] = red;
    v.intVector[1] = green;
    v.intVector[2] = blue;
    c->setControlAttr(c, AttrValue, &v);
}

inline void setPointer(ControlHandle c, int32_t attr, void* pointer) {
    ControlValue v{};
    v.type = ValueInt;
    v.pointer = pointer;
    c->setControlAttr(c, attr, &v);
}

// A callback's note: which routine ran, on which control, with what.
struct Call {
    std::string routine;
    ControlHandle control;
    void* userData;
    int32_t mode;  // draw callbacks; 0 for events
    int32_t value; // the control's Value as the callback read it (valueSeen)
};

// Where the callbacks below note their calls; user data points at it.
struct CallLog {
    std::vector<Call> calls;
    // Runs inside every callback, after the note.
    void (*then)(ControlHandle control, CallLog* log) = nullptr;
};

// The integer Value, or a colour's red, read in the record of its type.
inline int32_t valueSeen(ControlHandle control) {
    const auto* c = orvit::panel::PanelControl::fromHandle(control);
    if (c == nullptr ||
        orvit::panel::payloadKind(c->type()) != orvit::panel::PayloadKind::IntVector)
        return getInt(control, AttrValue);
    ControlValue v{};
    v.type = ValueIntVector;
    control->getControlAttr(control, AttrValue, &v);
    return v.intVector[0];
}

extern "C" inline void ORVIT_CALL noteEvent(ControlHandle control, void* userData) {
    auto* log = static_cast<CallLog*>(userData);
    log->calls.push_back({"event", control, userData, 0, valueSeen(control)});
    if (log->then != nullptr)
        log->then(control, log);
}

extern "C" inline void ORVIT_CALL noteDraw(ControlHandle control, void* userData, int32_t mode) {
    auto* log = static_cast<CallLog*>(userData);
    log->calls.push_back({"draw", control, userData, mode, 0});
    if (log->then != nullptr)
        log->then(control, log);
}

// Makes `routine` the control's callback `attr` (AttrEventCallback or
// AttrDrawCallback), called with `userData`.
template <typename Routine>
void bindRoutine(ControlHandle c, int32_t attr, Routine routine, void* userData) {
    ControlValue v{};
    v.type = ValueInt;
    static_assert(sizeof routine == sizeof v.pointer, "a routine fits the pointer field");
    std::memcpy(&v.pointer, &routine, sizeof routine);
    c->setControlAttr(c, attr, &v);
    setPointer(c, AttrUserData, userData);
}

inline void bindEvent(ControlHandle c, CallLog* log) {
    bindRoutine(c, AttrEventCallback, ControlEventFunc{noteEvent}, log);
}

inline void bindDraw(ControlHandle c, CallLog* log) {
    bindRoutine(c, AttrDrawCallback, ControlDrawFunc{noteDraw}, log);
}

} // namespace paneltest
