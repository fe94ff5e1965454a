// A panel script done by hand at the window: each line becomes what a person
// does to the widgets (a widget takes a value, then its callback runs, as a
// click or a key runs it), an envelope editor's answer is given in the
// editor's window, and ok or cancel presses that button. The language is
// the headless user's (panel_script.h), so that the two hosts can be given
// the same actions.
#pragma once

#include "orvit/panel/script_runner.h"
#include "orvit/window/panel_window.h"

#include <string>

namespace orvit::window {

class WindowScriptDriver {
  public:
    // How a colour is set: picked in the colour chooser that the swatch
    // opens, or typed into the three number fields.
    enum class Colours { Chooser, Fields };

    // Works every panel that `user` opens with `script`.
    WindowScriptDriver(panel::Script script, WindowUser& user, Colours colours = Colours::Chooser);
    WindowScriptDriver(const WindowScriptDriver&) = delete;
    WindowScriptDriver& operator=(const WindowScriptDriver&) = delete;

    // The first line that could not be done, worded as the headless user
    // words it; the panel was then cancelled. Empty when all went through.
    const std::string& error() const { return error_; }

    // Does one line at `window`; false (and error()) when it cannot be done.
    bool perform(PanelWindow& window, const panel::ScriptAction& action);

  private:
    void run(PanelWindow& window);
    bool fail(PanelWindow& window, const panel::ScriptAction& action, const std::string& why);
    void answerEditor(EnvelopeWindow& editor);
    bool pickColour(ControlWidgets& widgets, const panel::ControlPayload& value);

    panel::Script script_;
    WindowUser& user_;
    Colours colours_;
    std::string error_;
    // The line whose press may open the envelope editor, and what became of it.
    const panel::ScriptAction* pressing_ = nullptr;
    bool editorOpened_ = false;
    std::string editorError_;
};

} // namespace orvit::window
