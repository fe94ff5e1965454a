// A window's pixels as the X server shows them.
#pragma once

#include "orvit/panel/panel_model.h"

#include <FL/Fl_Window.H>

namespace orvit::window {

// Waits until `window` is on the screen with nothing left to draw, then
// reads its pixels (without the frame a window manager adds).
panel::Canvas captureWindow(Fl_Window& window);

} // namespace orvit::window
