// The panel in a real window: every control of the shared panel model shown
// by the FLTK widget that fits it, at the place the model gives it, so that
// the module cannot tell this host from the headless one. What a person does
// to a widget reaches the model as Panel::userChange or Panel::userPress, as
// the headless host reports a script's actions; the module's drawControl and
// drawPanel bring the widgets back in line with the model.
#pragma once

#include "orvit/panel/panel_host.h"
#include "orvit/panel/panel_model.h"
#include "orvit/window/control_widgets.h"
#include "orvit/window/envelope_window.h"
#include "orvit/window/look.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Slider.H>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvit::window {

// A modal window holding one panel, with OK and Cancel below the panel's own
// area; the close box is Cancel.
class PanelWindow : public Fl_Double_Window, public panel::PanelView {
  public:
    explicit PanelWindow(panel::Panel& panel);
    ~PanelWindow() override;
    PanelWindow(const PanelWindow&) = delete;
    PanelWindow& operator=(const PanelWindow&) = delete;

    panel::Panel& panel() const { return panel_; }
    // The widgets of a control of the panel, or null.
    ControlWidgets* widgetsOf(const panel::PanelControl& control) const;
    Fl_Button* okButton() const { return ok_; }
    Fl_Button* cancelButton() const { return cancel_; }

    // 1 after OK, 0 after Cancel or the close box.
    int32_t answer() const { return answer_; }
    // OK enters what was typed in fields first, as leaving them would.
    void close(int32_t answer);

    // Brings every widget in line with the model; makes widgets for
    // controls added since.
    void sync();
    // After a user's change: follows the model, and closes (Cancel) when the
    // module has released the panel meanwhile.
    void userActed();
    // Whether the module may be asked to draw an area now: not while one of
    // its callbacks runs (an editor's window can expose the panel then) and
    // not while the window itself is drawing.
    bool mayDrawAreas() const;

    void controlDrawn(panel::PanelControl& control) override;
    void panelDrawn() override;

    // The room below the panel's area for OK and Cancel.
    static constexpr int kBarHeight = 44;

  private:
    friend class ControlWidgets;

    panel::Panel& panel_;
    std::vector<std::unique_ptr<ControlWidgets>> widgets_;
    Fl_Button* ok_ = nullptr;
    Fl_Button* cancel_ = nullptr;
    int32_t answer_ = 0;
    bool painting_ = false;
};

// A person at a window answers each open panel and the envelope editor.
class WindowUser : public panel::PanelUser {
  public:
    explicit WindowUser(FrameSpan frames);

    // Shows the panel in a modal window and waits until it is closed: 1 OK,
    // 0 Cancel. The envelope editor is a window too while it runs.
    int32_t run(panel::Panel& panel, int32_t flags) override;

    WindowEnvelopeEditor& editor() { return editor_; }
    // Called from inside the window's event loop once it is shown, as a
    // person's hand would act: how tests and tools work the window. Null for
    // a person at the display.
    std::function<void(PanelWindow&)> onOpen;
    // Why the last run ended in Cancel without the user, or empty.
    const std::string& error() const { return error_; }

  private:
    WindowEnvelopeEditor editor_;
    std::string error_;
};

} // namespace orvit::window
