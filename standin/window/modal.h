// Running a window of the stand-in as a modal dialog.
#pragma once

#include <FL/Fl_Window.H>

#include <exception>
#include <functional>
#include <utility>

namespace orvit::window {

// Shows `window` modal and runs FLTK's event loop until it is hidden. A set
// `opened` is called once from inside the loop after the window is shown,
// and never after this returns.
void runModal(Fl_Window& window, std::function<void()> opened);

// The same for a window with a close(answer): a set `onOpen` is called with
// the window; what it throws goes to `failed`, if set, and closes the window
// as Cancel (0).
template <typename Window>
void runModal(Window& window, const std::function<void(Window&)>& onOpen,
              const std::function<void(const std::exception&)>& failed = {}) {
    std::function<void()> opened;
    if (onOpen)
        opened = [&] {
            try {
                onOpen(window);
            } catch (const std::exception& e) {
                if (failed)
                    failed(e);
                window.close(0);
            }
        };
    runModal(static_cast<Fl_Window&>(window), std::move(opened));
}

} // namespace orvit::window
