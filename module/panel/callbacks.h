// What moves values between a glow setting and the panel's controls, and
// the routines the host calls when the user changes a control. Every
// callback gets the control and the FilterInstance (its UserData).
#pragma once

#include "module/abi/panel.h"
#include "module/settings/settings.h"

namespace orvit {

// Setting to controls, then a panel redraw and the envelope buttons.
void loadControls(GlowSetting* setting);
// Controls to setting: keys, mode, distance, transparency, as the host gives them.
void storeControls(GlowSetting* setting);

void ORVIT_CALL valueEnableChanged(ControlHandle control, void* instance);
void ORVIT_CALL specialBufferChanged(ControlHandle control, void* instance);
void ORVIT_CALL surfaceChanged(ControlHandle control, void* instance);
void ORVIT_CALL copyPressed(ControlHandle control, void* instance);
void ORVIT_CALL pastePressed(ControlHandle control, void* instance);
void ORVIT_CALL keyChanged(ControlHandle control, void* instance);
void ORVIT_CALL drawGradient(ControlHandle control, void* instance, int32_t mode);
void ORVIT_CALL sizeEnvelopePressed(ControlHandle control, void* instance);
void ORVIT_CALL transEnvelopePressed(ControlHandle control, void* instance);

// The palette colour of the gradient strip when no key is enabled.
constexpr int32_t kNoKeyColour = 4098;

} // namespace orvit
