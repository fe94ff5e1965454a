#include "orvit/window/control_widgets.h"

#include "orvit/window/panel_window.h"

#include "orvit/window/look.h"
#include "orvit/window/modal.h"

#include <FL/Fl.H>
#include <FL/Fl_Color_Chooser.H>
#include <FL/Fl_Float_Input.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Toggle_Button.H>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <initializer_list>

namespace orvit::window {

using panel::ControlPayload;
using panel::ControlType;
using panel::Panel;
using panel::PanelControl;

namespace {

ControlWidgets& owner(void* data) {
    return *static_cast<ControlWidgets*>(data);
}

void onCheck(Fl_Widget*, void* data) {
    orCancel(owner(data).window(), [&] { owner(data).checked(); });
}

void onPress(Fl_Widget*, void* data) {
    orCancel(owner(data).window(), [&] { owner(data).pressed(); });
}

void onChoice(Fl_Widget*, void* data) {
    orCancel(owner(data).window(), [&] { owner(data).chosen(); });
}

void onSlide(Fl_Widget*, void* data) {
    orCancel(owner(data).window(), [&] { owner(data).slid(); });
}

void onNumber(Fl_Widget*, void* data) {
    orCancel(owner(data).window(), [&] { owner(data).numberEntered(); });
}

void onChannel(Fl_Widget* widget, void* data) {
    orCancel(owner(data).window(), [&] {
        ControlWidgets& w = owner(data);
        for (size_t i = 0; i < w.channels.size(); ++i)
            if (w.channels[i] == widget)
                w.channelEntered(i);
    });
}

void onSwatch(Fl_Widget*, void* data) {
    orCancel(owner(data).window(), [&] { owner(data).swatchPressed(); });
}

// An area control: its draw() has the module draw it, then paints the
// canvas there.
class AreaWidget : public Fl_Widget {
  public:
    AreaWidget(ControlWidgets& owner) : Fl_Widget(0, 0, 1, 1), owner_(owner) {}
    void draw() override {
        try {
            owner_.drawArea();
        } catch (const std::exception&) {
            // Out of memory: the area keeps what it showed.
        }
    }
    int handle(int) override { return 0; }

  private:
    ControlWidgets& owner_;
};

void moveTo(Fl_Widget* w, int x, int y, int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (w->x() != x || w->y() != y || w->w() != width || w->h() != height) {
        w->resize(x, y, width, height);
        if (w->parent() != nullptr)
            w->parent()->redraw();
    }
}

int32_t clampInt(int32_t v, int32_t low, int32_t high) {
    return std::min(std::max(v, low), high);
}

uchar channelByte(int32_t v) {
    return static_cast<uchar>(clampInt(v, 0, 255));
}

// What the glow's mode and distance mean, on the controls that set them.
const char* tooltipFor(const std::string& label) {
    if (label == "Mode")
        return "Fixed: the surface filled with the first colour, the glow around it as wide "
               "everywhere.\n"
               "Depth: the same, but Distance is a size in the scene, seen through the camera: "
               "far from the camera the glow is small.\n"
               "G-Fixed, G-Depth: as Fixed and Depth, as a band of glow along the outline, "
               "inside and outside; the inside keeps its colours.";
    if (label == "Distance")
        return "How far the glow reaches. Fixed and G-Fixed: a fraction of the frame's width "
               "(0.05 of 640 pixels is 32). Depth and G-Depth: a length in scene units; where "
               "it comes to less than 2 or more than 100 pixels, that part draws no glow.";
    return nullptr;
}

} // namespace

// ---- One control ------------------------------------------------------------

ControlWidgets::ControlWidgets(PanelWindow& window, panel::PanelControl& control)
    : window_(window), control_(control) {
    build();
    place();
    showValue();
}

void ControlWidgets::build() {
    const panel::ControlType type = control_.type();
    const std::string& text = control_.label();
    if (panel::labelWidth(type, text) > 0) {
        labelText_ = escapedLabel(text, false);
        label = new LabelBox();
        label->label(labelText_.c_str());
        styleText(label);
    }
    switch (type) {
    case panel::ControlType::Bool:
        check = new Fl_Check_Button(0, 0, 1, 1);
        check->callback(onCheck, this);
        check->clear_visible_focus();
        break;
    case panel::ControlType::BoolButton:
    case panel::ControlType::Button:
        labelText_ = escapedLabel(text, true);
        button = type == panel::ControlType::BoolButton ? new Fl_Toggle_Button(0, 0, 1, 1)
                                                        : new Fl_Button(0, 0, 1, 1);
        button->label(labelText_.c_str());
        button->selection_color(kToggleOnColour);
        button->callback(onPress, this);
        styleText(button);
        break;
    case panel::ControlType::Popup:
    case panel::ControlType::Choice: {
        const std::vector<std::string>& items = control_.description().items;
        for (const std::string& item : items)
            texts_.push_back(escapedLabel(item, true));
        menu_.resize(texts_.size() + 1);
        for (size_t i = 0; i < texts_.size(); ++i) {
            menu_[i].text = texts_[i].c_str();
            menu_[i].labelsize_ = kTextSize;
        }
        choice = new Fl_Choice(0, 0, 1, 1);
        choice->menu(menu_.data());
        choice->callback(onChoice, this);
        styleText(choice);
        break;
    }
    case panel::ControlType::Float:
        number = new Fl_Float_Input(0, 0, 1, 1);
        break;
    case panel::ControlType::MiniSlider:
    case panel::ControlType::Percent: {
        const panel::ControlDescription& d = control_.description();
        slider = new Fl_Slider(0, 0, 1, 1);
        slider->type(FL_HOR_NICE_SLIDER);
        slider->bounds(d.rangeMin, d.rangeMax);
        slider->step(1);
        slider->callback(onSlide, this);
        slider->clear_visible_focus();
        number = type == panel::ControlType::MiniSlider
                     ? static_cast<Fl_Input*>(new Fl_Int_Input(0, 0, 1, 1))
                     : new Fl_Float_Input(0, 0, 1, 1);
        break;
    }
    case panel::ControlType::MiniRGB:
        for (Fl_Input*& field : channels) {
            field = new Fl_Int_Input(0, 0, 1, 1);
            field->when(FL_WHEN_RELEASE | FL_WHEN_ENTER_KEY);
            field->callback(onChannel, this);
            styleText(field);
        }
        swatch = new Fl_Button(0, 0, 1, 1);
        swatch->box(FL_BORDER_BOX);
        swatch->tooltip("Pick the colour");
        swatch->callback(onSwatch, this);
        break;
    case panel::ControlType::Text: {
        const std::vector<std::string>& items = control_.description().items;
        for (const std::string& item : items)
            texts_.push_back(escapedLabel(item, false));
        for (const std::string& t : texts_) {
            lines.push_back(new Fl_Box(0, 0, 1, 1));
            lines.back()->label(t.c_str());
            lines.back()->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
            styleText(lines.back());
        }
        break;
    }
    case panel::ControlType::Area:
        area = new AreaWidget(*this);
        break;
    }
    if (const char* tip = tooltipFor(text))
        for (Fl_Widget* widget : std::initializer_list<Fl_Widget*>{label, choice, number})
            if (widget != nullptr)
                widget->tooltip(tip);
    if (number != nullptr) {
        number->when(FL_WHEN_RELEASE | FL_WHEN_ENTER_KEY);
        number->callback(onNumber, this);
        styleText(number);
    }
}

// The widgets inside the control's rectangle, as the placement rule divides
// it: the label's room at the left, the body after it.
void ControlWidgets::place() {
    const int x = control_.x, y = control_.y, w = control_.width, h = control_.height;
    const int room = std::min(panel::labelWidth(control_.type(), control_.label()), w);
    const int bx = x + room, bw = w - room;
    if (label != nullptr)
        moveTo(label, x, y, room, std::min(h, int{panel::kRowHeight}));
    if (check != nullptr)
        moveTo(check, bx, y, bw, h);
    if (button != nullptr)
        moveTo(button, x, y, w, h);
    if (choice != nullptr)
        moveTo(choice, bx, y, bw, h);
    if (slider != nullptr) {
        const int nw = std::min(kNumberWidth, bw);
        moveTo(slider, bx, y, bw - nw, h);
        moveTo(number, bx + bw - nw, y, nw, h);
    } else if (number != nullptr) {
        moveTo(number, bx, y, bw, h);
    }
    if (swatch != nullptr) {
        // Three number fields and the swatch in the last quarter.
        const int fw = (bw - bw / 4) / 3;
        for (size_t i = 0; i < channels.size(); ++i)
            moveTo(channels[i], bx + static_cast<int>(i) * fw, y, fw, h);
        moveTo(swatch, bx + 3 * fw, y, bw - 3 * fw, h);
    }
    for (size_t i = 0; i < lines.size(); ++i)
        moveTo(lines[i], bx, y + static_cast<int>(i) * panel::kRowHeight, bw, panel::kRowHeight);
    if (area != nullptr)
        moveTo(area, bx, y, bw, h);
}

void ControlWidgets::showValue() {
    const panel::ControlPayload& v = control_.value;
    if (check != nullptr)
        check->value(v.integer != 0);
    if (button != nullptr && control_.type() == panel::ControlType::BoolButton)
        button->value(v.integer != 0);
    if (choice != nullptr) {
        const bool listed = v.integer >= 0 && static_cast<size_t>(v.integer) < texts_.size();
        if (choice->value() != (listed ? v.integer : -1))
            choice->value(listed ? v.integer : -1);
    }
    if (slider != nullptr) {
        const double s = control_.type() == panel::ControlType::Percent ? v.real : v.integer;
        slider->value(std::min(std::max(s, slider->minimum()), slider->maximum()));
    }
    // Fields show a new value only, so that text being typed stays.
    if (number != nullptr) {
        const bool integer = control_.type() == panel::ControlType::MiniSlider;
        const bool same =
            shown_ && (integer ? shown_->integer == v.integer
                               : std::memcmp(&shown_->real, &v.real, sizeof v.real) == 0);
        if (!same) {
            number->value(integer ? std::to_string(v.integer).c_str() : numberText(v.real).c_str());
            number->clear_changed();
        }
    }
    if (swatch != nullptr) {
        for (size_t i = 0; i < channels.size(); ++i)
            if (!shown_ || shown_->vector[i] != v.vector[i]) {
                channels[i]->value(std::to_string(v.vector[i]).c_str());
                channels[i]->clear_changed();
            }
        const Fl_Color colour = fl_rgb_color(channelByte(v.vector[0]), channelByte(v.vector[1]),
                                             channelByte(v.vector[2]));
        if (swatch->color() != colour) {
            swatch->color(colour);
            swatch->redraw();
        }
    }
    shown_ = v;
}

std::vector<Fl_Widget*> ControlWidgets::parts() const {
    std::vector<Fl_Widget*> all = {label, check, button, choice, slider, number, swatch, area};
    all.insert(all.end(), channels.begin(), channels.end());
    all.insert(all.end(), lines.begin(), lines.end());
    all.erase(std::remove(all.begin(), all.end(), nullptr), all.end());
    return all;
}

void ControlWidgets::sync() {
    place();
    showValue();
    const bool on = !control_.ghosted;
    for (Fl_Widget* w : parts())
        if ((w->active() != 0) != on) {
            if (on)
                w->activate();
            else
                w->deactivate();
        }
    if (area != nullptr)
        area->redraw();
}

bool ControlWidgets::active() const {
    return !control_.ghosted;
}

void ControlWidgets::change(const panel::ControlPayload& value) {
    window_.panel().userChange(control_, value);
    window_.userActed();
}

void ControlWidgets::checked() {
    panel::ControlPayload v;
    v.integer = check->value() != 0 ? 1 : 0;
    change(v);
}

void ControlWidgets::pressed() {
    window_.panel().userPress(control_);
    window_.userActed();
}

void ControlWidgets::chosen() {
    panel::ControlPayload v;
    v.integer = choice->value();
    change(v);
}

void ControlWidgets::slid() {
    panel::ControlPayload v;
    if (control_.type() == panel::ControlType::Percent)
        v.real = slider->value();
    else
        v.integer = static_cast<int32_t>(std::lround(slider->value()));
    change(v);
}

// Text that is not a number, or not a whole one where the control holds
// integers, is put back to the control's value; a number outside a
// slider's range is taken at the nearest end.
void ControlWidgets::numberEntered() {
    const panel::ControlDescription& d = control_.description();
    panel::ControlPayload v;
    bool read = false;
    if (control_.type() == panel::ControlType::MiniSlider) {
        long n = 0;
        read = parseWhole(number->value(), &n);
        v.integer = static_cast<int32_t>(std::min<long>(std::max<long>(n, d.rangeMin), d.rangeMax));
    } else {
        read = parseReal(number->value(), &v.real);
        if (control_.type() == panel::ControlType::Percent)
            v.real = std::min<double>(std::max<double>(v.real, d.rangeMin), d.rangeMax);
    }
    number->clear_changed();
    if (!read) {
        shown_.reset();
        showValue();
        return;
    }
    change(v);
}

void ControlWidgets::channelEntered(size_t channel) {
    long n = 0;
    const bool read = parseWhole(channels[channel]->value(), &n);
    channels[channel]->clear_changed();
    if (!read) {
        shown_.reset();
        showValue();
        return;
    }
    panel::ControlPayload v;
    v.vector = control_.value.vector;
    v.vector[channel] = static_cast<int32_t>(std::min<long>(std::max<long>(n, 0), 255));
    change(v);
}

void ControlWidgets::swatchPressed() {
    const std::array<int32_t, 3>& c = control_.value.vector;
    uchar r = channelByte(c[0]), g = channelByte(c[1]), b = channelByte(c[2]);
    if (fl_color_chooser("Colour", r, g, b) == 0)
        return;
    panel::ControlPayload v;
    v.vector = {r, g, b};
    change(v);
}

void ControlWidgets::commit() {
    if (number != nullptr && number->changed())
        numberEntered();
    for (size_t i = 0; i < channels.size(); ++i)
        if (channels[i] != nullptr && channels[i]->changed())
            channelEntered(i);
}

void ControlWidgets::drawArea() {
    panel::Panel& panel = window_.panel();
    if (window_.mayDrawAreas() && control_.drawCallback != nullptr) {
        window_.painting_ = true;
        panel.drawControl(control_, DrawRefresh);
        window_.painting_ = false;
    }
    paintCanvas(panel.canvas(), area->x(), area->y(), area->w(), area->h());
}

} // namespace orvit::window
