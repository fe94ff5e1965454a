#include "orvit/window/display.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include <cstdlib>

namespace orvit::window {

// FLTK ends the program when it cannot open its display, so the display is
// opened here first, where a failure can be reported.
bool openDisplay(std::string* why) {
    static bool opened = false;
    if (opened)
        return true;
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        *why = "no display to open the panel's window on (DISPLAY is not set)";
        return false;
    }
    Display* display = XOpenDisplay(name);
    if (display == nullptr) {
        *why = std::string("the display '") + name + "' cannot be opened";
        return false;
    }
    fl_open_display(display);
    // True colour, so that a canvas pixel shows exactly as the module drew it.
    Fl::visual(FL_RGB);
    Fl::scheme("gtk+");
    opened = true;
    return true;
}

} // namespace orvit::window
