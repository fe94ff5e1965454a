// The 256 x 192 preview of the last frame in the settings panel.
#pragma once

#include "module/abi/panel.h"

namespace orvit {

// Display choices of the preview's popup.
enum PreviewDisplay : int32_t {
    DisplayColor = 0,
    DisplayDepth = 1,
    DisplaySpecial = 2,
    DisplayPreview = 3
};

// Draw callback of the preview area: paints the snapshot as the display
// popup and the half-resolution box choose.
void ORVIT_CALL drawPreview(ControlHandle control, void* instance, int32_t mode);
// Event callback of the "Preview" button: runs the shown setting's kernel
// over the snapshot, shows "Preview" and redraws the panel.
void ORVIT_CALL runPreview(ControlHandle control, void* instance);
// Draw callback of the spacer below the preview.
void ORVIT_CALL drawNothing(ControlHandle control, void* instance, int32_t mode);

} // namespace orvit
