// The panel in a real window: every control of the shared panel model shown
// by the FLTK widget that fits it, at the place the model gives it, so that
// the module cannot tell this host from the headless one. What a person does
// to a widget reaches the model as Panel::userChange or Panel::userPress, as
// the headless host reports a script's actions; the module's drawControl and
// drawPanel bring the widgets back in line with the model.
#pragma once

#include "orvit/panel/panel_host.h"
#include "orvit/panel/panel_model.h"
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

class PanelWindow;

// The widgets of one control. Which are present depends on its type:
//   BoolControl                       check
//   BoolButtonControl, ButtonControl  button (a toggle button for the first;
//                                     the label is the button's face)
//   PopupControl, ChoiceControl       choice
//   FloatControl                      number
//   MiniSliderControl, PercentControl slider and number
//   MiniRGBControl                    channels (red, green, blue) and swatch,
//                                     which opens the colour chooser
//   TextControl                       lines
//   AreaControl                       area, which paints the panel's canvas
// Any other non-empty label is `label`, in the room the placement rule gives
// it at the control's left.
class ControlWidgets {
  public:
    ControlWidgets(PanelWindow& window, standin::PanelControl& control);
    ControlWidgets(const ControlWidgets&) = delete;
    ControlWidgets& operator=(const ControlWidgets&) = delete;

    standin::PanelControl& control() const { return control_; }
    PanelWindow& window() const { return window_; }

    LabelBox* label = nullptr;
    Fl_Check_Button* check = nullptr;
    Fl_Button* button = nullptr;
    Fl_Choice* choice = nullptr;
    Fl_Slider* slider = nullptr;
    Fl_Input* number = nullptr;
    std::array<Fl_Input*, 3> channels{};
    Fl_Button* swatch = nullptr;
    std::vector<Fl_Box*> lines;
    Fl_Widget* area = nullptr;

    // Places, values and ghosting as the model holds them. A field that the
    // user is typing in keeps the text until it is entered.
    void sync();
    // Enters what the user typed in this control's fields and left without
    // pressing Enter.
    void commit();
    // Whether a user can work the control now (not ghosted).
    bool active() const;

    // The user's actions, as the widgets' callbacks report them.
    void checked();
    void pressed();
    void chosen();
    void slid();
    void numberEntered();
    void channelEntered(size_t channel);
    void swatchPressed();
    // An area's draw(): asks the module to draw it, then paints the canvas.
    void drawArea();

  private:
    void build();
    void place();
    void showValue();
    void change(const standin::ControlPayload& value);
    std::vector<Fl_Widget*> parts() const;

    PanelWindow& window_;
    standin::PanelControl& control_;
    std::vector<std::string> texts_; // menu item labels, escaped for FLTK
    std::vector<Fl_Menu_Item> menu_;
    std::string labelText_;
    // The value last shown in the number field and the colour fields, so
    // that text the user is typing is not overwritten by the same value;
    // none before the first showing or after text that was not a number.
    std::optional<standin::ControlPayload> shown_;
};

// A modal window holding one panel, with OK and Cancel below the panel's own
// area; the close box is Cancel.
class PanelWindow : public Fl_Double_Window, public standin::PanelView {
  public:
    explicit PanelWindow(standin::Panel& panel);
    ~PanelWindow() override;
    PanelWindow(const PanelWindow&) = delete;
    PanelWindow& operator=(const PanelWindow&) = delete;

    standin::Panel& panel() const { return panel_; }
    // The widgets of a control of the panel, or null.
    ControlWidgets* widgetsOf(const standin::PanelControl& control) const;
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

    void controlDrawn(standin::PanelControl& control) override;
    void panelDrawn() override;

    // The room below the panel's area for OK and Cancel.
    static constexpr int kBarHeight = 44;

  private:
    friend class ControlWidgets;

    standin::Panel& panel_;
    std::vector<std::unique_ptr<ControlWidgets>> widgets_;
    Fl_Button* ok_ = nullptr;
    Fl_Button* cancel_ = nullptr;
    int32_t answer_ = 0;
    bool painting_ = false;
};

// A person at a window answers each open panel and the envelope editor.
class WindowUser : public standin::PanelUser {
  public:
    explicit WindowUser(FrameSpan frames);

    // Shows the panel in a modal window and waits until it is closed: 1 OK,
    // 0 Cancel. The envelope editor is a window too while it runs.
    int32_t run(standin::Panel& panel, int32_t flags) override;

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
