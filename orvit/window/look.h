// How the stand-in's windows look, and the text their fields show and read.
#pragma once

#include "orvit/panel/panel_model.h"

#include <FL/Enumerations.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Widget.H>

#include <string>

namespace orvit::window {

// Labels and fields in a size that fits the placement rule's 7 pixels a
// character.
constexpr int kTextSize = 12;
// The number field beside a slider.
constexpr int kNumberWidth = 40;
constexpr int kButtonWidth = 80;
// A toggle button that is on.
constexpr Fl_Color kToggleOnColour = 0x6E96D200; // 110, 150, 210
// Wide enough for OK and Cancel whatever the panel's size.
constexpr int kMinWindowWidth = 240;

// The panel's background: the canvas's own grey, so that areas the module
// leaves undrawn blend in.
Fl_Color panelColour();

// Paints the box x, y, w, h of the current window with the same box of the
// canvas, pixel for pixel; where the canvas does not reach, its background.
void paintCanvas(const panel::Canvas& canvas, int x, int y, int w, int h);

// A control's label, drawn from the control's left edge and in a smaller
// font where the placement rule's room (7 pixels a character) is narrower
// than the text, so that no label is cut off.
class LabelBox : public Fl_Box {
  public:
    LabelBox() : Fl_Box(0, 0, 1, 1) {}
    void draw() override;
    // The font size the label is drawn in at its present width.
    int shownSize() const;
};

// Sets a widget's label and text font and size.
void styleText(Fl_Widget* widget);

// `text` as FLTK shows it literally: it reads '@' as the start of a symbol
// and, on buttons and menu items (`shortcuts`), '&' as a shortcut mark.
std::string escapedLabel(const std::string& text, bool shortcuts);

// A number as a field shows it: up to ten significant digits.
std::string numberText(double value);

// A whole finite number, blanks around it allowed.
bool parseReal(const char* text, double* value);
// A whole integer, blanks around it allowed.
bool parseWhole(const char* text, long* value);

} // namespace orvit::window
