// The X display that the stand-in's windows open on.
#pragma once

#include <string>

namespace orvit::window {

// Opens the display that DISPLAY names and hands it to FLTK, once per
// program; false, with one line saying why, when there is none.
bool openDisplay(std::string* why);

} // namespace orvit::window
