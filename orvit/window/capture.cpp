#include "orvit/window/capture.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <cstring>

namespace orvit::window {

namespace {

// Whether the window is mapped and every widget in it drawn.
bool settled(Fl_Window& window) {
    if (!window.shown() || !window.visible_r() || window.damage() != 0)
        return false;
    for (int i = 0; i < window.children(); ++i)
        if (window.child(i)->damage() != 0)
            return false;
    return true;
}

} // namespace

panel::Canvas captureWindow(Fl_Window& window) {
    // The server maps and exposes the window in its own time; a few rounds
    // of events bring the drawing up to date.
    for (int round = 0; round < 100; ++round) {
        Fl::flush();
        XSync(fl_display, False);
        Fl::wait(0.01);
        if (round >= 3 && settled(window))
            break;
    }
    Fl::flush();
    XSync(fl_display, False);

    panel::Canvas canvas;
    canvas.resize(window.w(), window.h());
    window.make_current();
    uchar* pixels = fl_read_image(nullptr, 0, 0, window.w(), window.h());
    if (pixels != nullptr) {
        std::memcpy(canvas.rgb.data(), pixels, canvas.rgb.size());
        delete[] pixels;
    }
    return canvas;
}

} // namespace orvit::window
