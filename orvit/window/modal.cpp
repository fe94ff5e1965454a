#include "orvit/window/modal.h"

#include <FL/Fl.H>

namespace orvit::window {
namespace {

void callOpened(void* data) {
    (*static_cast<std::function<void()>*>(data))();
}

} // namespace

void runModal(Fl_Window& window, std::function<void()> opened) {
    void* data = &opened;
    // The pending call is removed however the loop ends, so that it cannot
    // reach a window that is gone.
    struct Pending {
        void* data;
        ~Pending() { Fl::remove_timeout(callOpened, data); }
    } pending{data};
    window.set_modal();
    window.show();
    if (opened)
        Fl::add_timeout(0.0, callOpened, data);
    while (window.shown())
        Fl::wait();
}

} // namespace orvit::window
