// The panel's module-wide state: the handles of the controls that callbacks
// touch and the three value records every get and set reuses. Only one
// panel exists at a time; the handles are valid while it does.
#pragma once

#include "module/abi/panel.h"
#include "module/settings/settings.h"

#include <cstdint>

namespace orvit {

struct PanelControls {
    ControlHandle enableBox; // "Enable Orvit"
    ControlHandle valueEnableBox;
    ControlHandle specialPopup; // "Special Buffer"
    ControlHandle surfacePopup; // "Surface"
    ControlHandle copyButton;
    ControlHandle pasteButton;
    ControlHandle keyEnableBox[kColorKeyCount];
    ControlHandle keyColorControl[kColorKeyCount];
    ControlHandle keyPositionSlider[kColorKeyCount];
    ControlHandle gradientStrip;
    ControlHandle modeLabel;
    ControlHandle distanceLabel;
    ControlHandle transparencyLabel;
    ControlHandle modeChoice;
    ControlHandle distanceField;
    ControlHandle sizeEnvelopeButton;
    ControlHandle transparencyField;
    ControlHandle transEnvelopeButton;
    ControlHandle previewArea;
    ControlHandle previewSpacer;
    ControlHandle previewButton;
    ControlHandle displayPopup;
    ControlHandle halfResBox;
};

extern PanelControls panelControls;

// The three value records, one per payload type; their type codes never change.
extern ControlValue intValue;
extern ControlValue vectorValue;
extern ControlValue floatValue;

// Attribute access through the control's own operations, reusing the records.
int32_t getInt(ControlHandle control, int32_t attr);
void setInt(ControlHandle control, int32_t attr, int32_t value);
void setPointer(ControlHandle control, int32_t attr, void* pointer);
void getVector(ControlHandle control, int32_t* red, int32_t* green, int32_t* blue);
void setVector(ControlHandle control, int32_t red, int32_t green, int32_t blue);
double getFloat(ControlHandle control);
void setFloat(ControlHandle control, double value);
void drawControl(ControlHandle control, int32_t mode);

// drawPanel of the current panel.
void drawCurrentPanel(int32_t mode);

} // namespace orvit
