#include "module/panel/panel_state.h"

#include "module/services/services.h"

namespace orvit {

PanelControls panelControls = {};

ControlValue intValue = {ValueInt, {0}};
ControlValue vectorValue = {ValueIntVector, {0}};
ControlValue floatValue = {ValueFloat, {0}};

int32_t getInt(ControlHandle control, int32_t attr) {
    intValue.intValue = 0;
    control->getControlAttr(control, attr, &intValue);
    return intValue.intValue;
}

void setInt(ControlHandle control, int32_t attr, int32_t value) {
    intValue.intValue = value;
    control->setControlAttr(control, attr, &intValue);
}

void setPointer(ControlHandle control, int32_t attr, void* pointer) {
    intValue.pointer = pointer;
    control->setControlAttr(control, attr, &intValue);
}

void getVector(ControlHandle control, int32_t* red, int32_t* green, int32_t* blue) {
    vectorValue.intVector[0] = vectorValue.intVector[1] = vectorValue.intVector[2] = 0;
    control->getControlAttr(control, AttrValue, &vectorValue);
    *red = vectorValue.intVector[0];
    *green = vectorValue.intVector[1];
    *blue = vectorValue.intVector[2];
}

void setVector(ControlHandle control, int32_t red, int32_t green, int32_t blue) {
    vectorValue.intVector[0] = red;
    vectorValue.intVector[1] = green;
    vectorValue.intVector[2] = blue;
    control->setControlAttr(control, AttrValue, &vectorValue);
}

double getFloat(ControlHandle control) {
    floatValue.real.value = 0.0;
    control->getControlAttr(control, AttrValue, &floatValue);
    return floatValue.real.value;
}

void setFloat(ControlHandle control, double value) {
    floatValue.real.value = value;
    control->setControlAttr(control, AttrValue, &floatValue);
}

void drawControl(ControlHandle control, int32_t mode) {
    control->drawControl(control, mode);
}

void drawCurrentPanel(int32_t mode) {
    panelService->drawPanel(currentPanel, mode);
}

} // namespace orvit
