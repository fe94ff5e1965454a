// The FLTK widgets of one control of the shared panel model (see
// panel_window.h for the window that holds them).
#pragma once

#include "orvit/panel/panel_model.h"
#include "orvit/window/look.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Slider.H>

#include <array>
#include <cstdint>
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
    ControlWidgets(PanelWindow& window, panel::PanelControl& control);
    ControlWidgets(const ControlWidgets&) = delete;
    ControlWidgets& operator=(const ControlWidgets&) = delete;

    panel::PanelControl& control() const { return control_; }
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
    void change(const panel::ControlPayload& value);
    std::vector<Fl_Widget*> parts() const;

    PanelWindow& window_;
    panel::PanelControl& control_;
    std::vector<std::string> texts_; // menu item labels, escaped for FLTK
    std::vector<Fl_Menu_Item> menu_;
    std::string labelText_;
    // The value last shown in the number field and the colour fields, so
    // that text the user is typing is not overwritten by the same value;
    // none before the first showing or after text that was not a number.
    std::optional<panel::ControlPayload> shown_;
};

} // namespace orvit::window
