// Running a window of the stand-in as a modal dialog.
#pragma once

#include <FL/Fl_Window.H>

#include <exception>
#include <functional>
#include <utility>

namespace orvit::window {

// Runs `action` for a window with a close(answer), from one of FLTK's
// callbacks. Nothing may leave a callback through the event loop, so what
// it throws (only memory can run out) goes to `failed`, if set, and closes
// the window as Cancel (0).
template <typename Window, typename Action>
void orCancel(Window& window, Action action,
              const std::function<void(const std::exception&)>& failed = {}) {
    try {
        action();
    } catch (const std::exception& e) {
        if (failed)
            failed(e);
        window.close(0);
    }
}

// Shows `window` modal and runs FLTK's event loop until it is hidden. A set
// `opened` is called once from inside the loop after the window is shown,
// and never after this returns.
void runModal(Fl_Window& window, std::function<void()> opened);

// The same for a window with a close(answer): a set `onOpen` is called with
// the window, as orCancel runs it.
template <typename Window>
void runModal(Window& window, const std::function<void(Window&)>& onOpen,
              const std::function<void(const std::exception&)>& failed = {}) {
    std::function<void()> opened;
    if (onOpen)
        opened = [&] {
            orCancel(
                window, [&] { onOpen(window); }, failed);
        };
    runModal(static_cast<Fl_Window&>(window), std::move(opened));
}

} // namespace orvit::window
