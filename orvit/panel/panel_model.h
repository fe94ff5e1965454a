// The panels and controls behind "LWPanelServices", as every way of showing a
// panel shares them: the headless host driven by a script, and a window. A
// panel holds its controls (each with a copy of its descriptor, its place,
// value, callbacks and state) and an RGB canvas that the drawing record
// paints. How a control looks is left to whoever shows the panel; the model
// keeps only what the module can set, read and draw.
//
// Placement, the one rule of this host. Sizes are in panel pixels.
// - A control is a rectangle X, Y, Width, Height. A non-empty label takes
//   room at the control's left inside that rectangle: 7 pixels a character
//   plus 6 (labelWidth). Buttons show their label as their face instead.
// - Each control as it is added stands at the left margin, X = 10, just
//   below the lowest control so far: Y = 10 for the first, else the largest
//   Y + Height of all controls at that moment, plus 4. The module may then
//   move it with setControlAttr X and Y.
// - Width = label room + body width; Height = body height (controlBody):
//     BoolControl                 20 x 20
//     ButtonControl,
//     BoolButtonControl           max(24, 7 per character + 16) x 20
//     PopupControl                max(60, 7 per character of the longest item + 28) x 20
//     ChoiceControl               the sum over items of (7 per character + 26) x 20
//     FloatControl                80 x 20
//     MiniRGBControl              128 x 20 (three number fields and a swatch)
//     MiniSliderControl,
//     PercentControl              range width (100 when 0) + 40 x 20
//     TextControl                 7 per character of the longest line x 20 per line (one at least)
//     AreaControl                 area width x area height
// - An area control draws from its origin: OriginX = X + label room,
//   OriginY = Y.
// - The panel's Height is the largest Y + Height of its controls plus 10
//   until the module sets it; the canvas is as wide as the rightmost edge
//   plus 10 and as high as the larger of that and the panel's Height.
#pragma once

#include "module/abi/panel.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvit::panel {

constexpr int32_t kPanelMargin = 10;
constexpr int32_t kPanelGap = 4;
constexpr int32_t kCharWidth = 7;
constexpr int32_t kLabelGap = 6;
constexpr int32_t kRowHeight = 20;
// The largest area, range width or text the host makes a control of.
constexpr int32_t kMaxControlSide = 4096;
// The most items of a list or lines of a text a descriptor may hold.
constexpr size_t kMaxListEntries = 4096;

// The canvas before anything is drawn, and the host's palette. Palette codes
// 4096 to 4100 are black, white, grey 112 (the code the gradient strip uses
// without keys), light grey 208 and dark grey 64; every other code paints
// magenta, so that a colour the host does not know stands out.
constexpr std::array<uint8_t, 3> kCanvasBackground = {176, 176, 176};
std::array<uint8_t, 3> paletteColour(int32_t code);

// The control types the host offers.
enum class ControlType {
    Bool,       // "BoolControl"
    BoolButton, // "BoolButtonControl"
    Popup,      // "PopupControl"
    Choice,     // "ChoiceControl"
    Button,     // "ButtonControl"
    Float,      // "FloatControl"
    MiniRGB,    // "MiniRGBControl"
    MiniSlider, // "MiniSliderControl"
    Percent,    // "PercentControl"
    Text,       // "TextControl"
    Area,       // "AreaControl"
};

// The type of a type string; false for one the host does not know.
bool controlTypeOf(const char* name, ControlType* type);
const char* controlTypeName(ControlType type);
// What a script's messages call a control of the type: "a box", "a field", ...
const char* controlKind(ControlType type);

// A control's attribute (Attr...) or a panel's (Panel...) as messages name
// it: its name in the host's records, else "attribute N".
std::string controlAttributeText(int32_t attr);
std::string panelAttributeText(int32_t attr);

// What a control's Value holds.
enum class PayloadKind { Int, IntVector, Float };
PayloadKind payloadKind(ControlType type);

// A control's value; only the member of its PayloadKind is used.
struct ControlPayload {
    int32_t integer = 0;
    std::array<int32_t, 3> vector{};
    double real = 0.0;
};

// The descriptor as the host copied it during addControl.
struct ControlDescription {
    int32_t code = 0;
    std::vector<std::string> items; // DescList items, or DescText lines
    int32_t listParam = 0;
    int32_t rangeWidth = 0;
    int32_t rangeMin = 0;
    int32_t rangeMax = 0;
    int32_t areaWidth = 0;
    int32_t areaHeight = 0;
};

// The descriptor copied and checked against the type; false when the type
// cannot take it (another descriptor code, a list past its bound, a size
// outside the host's range).
bool copyDescription(ControlType type, const ControlDesc* desc, ControlDescription* out);

// Room a label takes at the left of its control.
int32_t labelWidth(ControlType type, const std::string& label);
// Width and height of a control without its label room.
std::array<int32_t, 2> controlBody(ControlType type, const ControlDescription& description,
                                   const std::string& label);

// An RGB picture, three bytes a pixel, row-major from the top left.
struct Canvas {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;

    // Grows or shrinks to w x h; pixels inside both sizes keep their colour,
    // new ones take the background.
    void resize(int32_t w, int32_t h);
    // A filled box, clipped to the canvas.
    void fill(int32_t x, int32_t y, int32_t w, int32_t h, std::array<uint8_t, 3> colour);
    std::array<uint8_t, 3> pixel(int32_t x, int32_t y) const;
};

// Calls through the drawing record on one panel.
struct DrawCounts {
    size_t pixels = 0;   // drawRGBPixel
    size_t boxes = 0;    // drawBox
    size_t rgbBoxes = 0; // drawRGBBox
};

class Panel;
class PanelControl;

// Whoever shows a panel, told when the module asks for a redraw so that the
// picture follows the model (a window's widgets; the headless host has none).
class PanelView {
  public:
    virtual ~PanelView() = default;
    // After drawControl, once the control's state has changed and an area
    // control's draw callback has run.
    virtual void controlDrawn(PanelControl& control) = 0;
    // After drawPanel.
    virtual void panelDrawn() = 0;
};

class PanelControl {
  public:
    PanelControl(Panel& panel, int index, ControlType type, std::string label,
                 ControlDescription description);
    ~PanelControl();
    PanelControl(const PanelControl&) = delete;
    PanelControl& operator=(const PanelControl&) = delete;

    // The handle the module holds: the record with the three operations.
    ControlHandle handle() { return &record_.slots; }
    // The live control behind a handle, or null.
    static PanelControl* fromHandle(ControlHandle handle);

    Panel& panel() const { return panel_; }
    int index() const { return index_; } // 1 for the first control of the panel
    ControlType type() const { return type_; }
    const std::string& label() const { return label_; }
    const ControlDescription& description() const { return description_; }

    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t originX() const { return x + labelWidth(type_, label_); }
    int32_t originY() const { return y; }

    ControlPayload value;
    ControlDrawFunc drawCallback = nullptr;
    ControlEventFunc eventCallback = nullptr;
    void* userData = nullptr;
    bool ghosted = false;

    // getControlAttr and setControlAttr. An attribute the host does not
    // know, a payload of the wrong type or a write to a read-only attribute
    // leaves everything as it was and is noted in the panel's faults.
    void getAttribute(int32_t attr, ControlValue* out);
    void setAttribute(int32_t attr, const ControlValue* in);

    // Ends the control's life as a handle: calls through it are ignored.
    void retire();

  private:
    struct Record {
        Control slots; // first, so that the handle is the record's address
        PanelControl* owner;
    };

    void fault(const std::string& what);
    // The member an attribute holding a pointer names (the callbacks, the
    // user's data), or null; its pointer is copied in and out as it is.
    void* pointerMember(int32_t attr);
    // An integer attribute into or out of the module's record.
    void putInt(int32_t attr, int32_t v, ControlValue* out);
    bool takeInt(int32_t attr, const ControlValue* in, int32_t* v);
    // The Value in the record's payload type, as the control's kind allows.
    void getValue(ControlValue* out);
    void setValue(const ControlValue* in);

    Panel& panel_;
    int index_;
    ControlType type_;
    std::string label_;
    ControlDescription description_;
    Record record_;
    bool live_ = true;
};

class Panel {
  public:
    explicit Panel(std::string title);
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    PanelHandle handle() { return this; }
    // The live panel behind a handle, or null.
    static Panel* fromHandle(PanelHandle handle);

    const std::string& title() const { return title_; }
    bool live() const { return live_; }
    bool opened = false;
    bool running = false; // inside openPanel
    void* userData = nullptr;
    // addControl calls on the panel, refused ones included.
    int addCalls = 0;

    // Height as the panel reports it (see the placement rule).
    int32_t height() const;
    void setHeight(int32_t height);
    bool heightSet() const { return heightSet_; }
    // The largest Y + Height of the controls; 0 without controls.
    int32_t contentBottom() const;
    int32_t contentRight() const;

    // addControl: a control placed by the host rule, or null (and a fault)
    // for an unknown type string or a descriptor the type cannot take.
    PanelControl* addControl(const char* type, const ControlDesc* desc, const char* label);
    const std::vector<std::unique_ptr<PanelControl>>& controls() const { return controls_; }

    // drawControl: Ghosted and Normal set the control's state; an area
    // control is then drawn by its draw callback, in any mode. drawPanel
    // calls the draw callback of every area control in creation order. A
    // draw request made from inside a draw callback of the same panel is
    // ignored, so a callback cannot recurse without end.
    void drawControl(PanelControl& control, int32_t mode);
    void drawPanel(int32_t mode);
    // Told after every drawControl and drawPanel; null for none.
    PanelView* view = nullptr;

    // What a user does, as a host would report it: the value is set, then
    // the event callback (if any) runs with the control and its user data.
    // A press changes no value, except that a BoolButtonControl toggles. A
    // ghosted control takes nothing: false.
    bool userChange(PanelControl& control, const ControlPayload& value);
    bool userPress(PanelControl& control);

    // The drawing record's operations. Colours are 0..255: one outside is
    // painted clamped and noted in the faults.
    void drawRGBPixel(int32_t red, int32_t green, int32_t blue, int32_t x, int32_t y);
    void drawBox(int32_t colour, int32_t x, int32_t y, int32_t w, int32_t h);
    void drawRGBBox(int32_t red, int32_t green, int32_t blue, int32_t x, int32_t y, int32_t w,
                    int32_t h);

    // The canvas, sized to hold every control as they stand.
    const Canvas& canvas();
    DrawCounts draws;

    // Every breach of the host's contract by the caller, in order, e.g.
    // "control 4 (PopupControl "Surface"): set read-only attribute 5"; the
    // first kMaxFaults, then one line saying that more were not noted.
    std::vector<std::string> faults;
    static constexpr size_t kMaxFaults = 100;
    void fault(std::string what);

    // Callbacks running on this panel right now (a host must not release a
    // panel under its own callbacks).
    int busy() const { return busy_; }

    // Ends the panel's life as a handle: it and its controls ignore calls.
    void retire();

  private:
    friend class PanelControl;
    class Busy;
    void fitCanvas();
    void callEvent(PanelControl& control);
    void checkColour(const char* operation, int32_t red, int32_t green, int32_t blue);

    std::string title_;
    bool live_ = true;
    int32_t height_ = 0;
    bool heightSet_ = false;
    std::vector<std::unique_ptr<PanelControl>> controls_;
    Canvas canvas_;
    bool drawing_ = false;
    int busy_ = 0;
};

// The drawing record handed to the module as PanelServices::drawFuncs.
const DrawFuncs* panelDrawFuncs();

// One line per control, in creation order, e.g.
//   "3 PopupControl \"Special Buffer\" list 3 [\"  3 \", \"  7 \"] at 30 34 164 20 value 0"
// with "ghosted" at the end of a ghosted control's line.
std::vector<std::string> describeControls(const Panel& panel);
std::string describeDescription(const ControlDescription& description);
std::string describeValue(const PanelControl& control);

} // namespace orvit::panel
