#include "orvit/panel/panel_model.h"
#include "orvit/core/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_set>

namespace orvit::standin {

namespace {

// Handles in use, so that a stale or foreign handle is ignored.
std::unordered_set<const Panel*>& livePanels() {
    static std::unordered_set<const Panel*> live;
    return live;
}

std::unordered_set<const Control*>& liveControls() {
    static std::unordered_set<const Control*> live;
    return live;
}

struct TypeName {
    ControlType type;
    const char* name;
    int32_t descriptor;
};

const TypeName kTypes[] = {
    {ControlType::Bool, "BoolControl", DescBool},
    {ControlType::BoolButton, "BoolButtonControl", DescBool},
    {ControlType::Popup, "PopupControl", DescList},
    {ControlType::Choice, "ChoiceControl", DescList},
    {ControlType::Button, "ButtonControl", DescButton},
    {ControlType::Float, "FloatControl", DescFloat},
    {ControlType::MiniRGB, "MiniRGBControl", DescRGB},
    {ControlType::MiniSlider, "MiniSliderControl", DescRange},
    {ControlType::Percent, "PercentControl", DescRange},
    {ControlType::Text, "TextControl", DescText},
    {ControlType::Area, "AreaControl", DescArea},
};

const TypeName& entry(ControlType type) {
    for (const TypeName& t : kTypes)
        if (t.type == type)
            return t;
    return kTypes[0];
}

int32_t textWidth(const std::string& text) {
    const size_t chars = std::min<size_t>(text.size(), kMaxControlSide);
    return static_cast<int32_t>(chars) * kCharWidth;
}

uint8_t channel(int32_t v) {
    return static_cast<uint8_t>(std::clamp<int32_t>(v, 0, 255));
}

const char* attributeName(int32_t attr) {
    switch (attr) {
    case AttrX:
        return "X";
    case AttrY:
        return "Y";
    case AttrWidth:
        return "Width";
    case AttrHeight:
        return "Height";
    case AttrValue:
        return "Value";
    case AttrOriginX:
        return "OriginX";
    case AttrOriginY:
        return "OriginY";
    case AttrDrawCallback:
        return "DrawCallback";
    case AttrEventCallback:
        return "EventCallback";
    case AttrUserData:
        return "UserData";
    default:
        return nullptr;
    }
}

std::string attributeText(int32_t attr) {
    const char* name = attributeName(attr);
    return name != nullptr ? name : "attribute " + std::to_string(attr);
}

// Copies a null-terminated list of strings; false when there is none or it
// runs past kMaxListEntries.
bool copyList(const char* const* list, std::vector<std::string>* out) {
    if (list == nullptr)
        return false;
    for (size_t i = 0; list[i] != nullptr; ++i) {
        if (i == kMaxListEntries)
            return false;
        out->emplace_back(list[i]);
    }
    return true;
}

bool inSide(int32_t v, int32_t low) {
    return v >= low && v <= kMaxControlSide;
}

// The descriptor copied and checked against the type; false when the type
// cannot take it.
bool copyDescription(ControlType type, const ControlDesc* desc, ControlDescription* out) {
    if (desc == nullptr || desc->type != entry(type).descriptor)
        return false;
    out->code = desc->type;
    switch (desc->type) {
    case DescList:
        out->listParam = desc->list.listParam;
        return copyList(desc->list.items, &out->items);
    case DescText:
        return copyList(desc->text.lines, &out->items);
    case DescRange:
        out->rangeWidth = desc->range.width;
        out->rangeMin = desc->range.min;
        out->rangeMax = desc->range.max;
        return inSide(out->rangeWidth, 0) && out->rangeMin <= out->rangeMax;
    case DescArea:
        out->areaWidth = desc->area.width;
        out->areaHeight = desc->area.height;
        return inSide(out->areaWidth, 1) && inSide(out->areaHeight, 1);
    default:
        return true;
    }
}

std::string formatReal(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

} // namespace

std::array<uint8_t, 3> paletteColour(int32_t code) {
    switch (code) {
    case 4096:
        return {0, 0, 0};
    case 4097:
        return {255, 255, 255};
    case 4098:
        return {112, 112, 112};
    case 4099:
        return {208, 208, 208};
    case 4100:
        return {64, 64, 64};
    default:
        return {255, 0, 255};
    }
}

bool controlTypeOf(const char* name, ControlType* type) {
    if (name == nullptr)
        return false;
    for (const TypeName& t : kTypes)
        if (std::strcmp(name, t.name) == 0) {
            *type = t.type;
            return true;
        }
    return false;
}

const char* controlTypeName(ControlType type) {
    return entry(type).name;
}

PayloadKind payloadKind(ControlType type) {
    switch (type) {
    case ControlType::MiniRGB:
        return PayloadKind::IntVector;
    case ControlType::Float:
    case ControlType::Percent:
        return PayloadKind::Float;
    default:
        return PayloadKind::Int;
    }
}

int32_t labelWidth(ControlType type, const std::string& label) {
    if (label.empty() || type == ControlType::Button || type == ControlType::BoolButton)
        return 0;
    return textWidth(label) + kLabelGap;
}

std::array<int32_t, 2> controlBody(ControlType type, const ControlDescription& d,
                                   const std::string& label) {
    int32_t widest = 0;
    for (const std::string& item : d.items)
        widest = std::max(widest, textWidth(item));
    switch (type) {
    case ControlType::Bool:
        return {20, kRowHeight};
    case ControlType::BoolButton:
    case ControlType::Button:
        return {std::max(24, textWidth(label) + 16), kRowHeight};
    case ControlType::Popup:
        return {std::max(60, widest + 28), kRowHeight};
    case ControlType::Choice: {
        int32_t sum = 0;
        for (const std::string& item : d.items)
            sum += textWidth(item) + 26;
        return {sum, kRowHeight};
    }
    case ControlType::Float:
        return {80, kRowHeight};
    case ControlType::MiniRGB:
        return {128, kRowHeight};
    case ControlType::MiniSlider:
    case ControlType::Percent:
        return {(d.rangeWidth > 0 ? d.rangeWidth : 100) + 40, kRowHeight};
    case ControlType::Text: {
        const auto lines = static_cast<int32_t>(std::max<size_t>(d.items.size(), 1));
        return {widest, kRowHeight * lines};
    }
    case ControlType::Area:
        return {d.areaWidth, d.areaHeight};
    }
    return {0, 0};
}

// ---- Canvas -------------------------------------------------------------

void Canvas::resize(int32_t w, int32_t h) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (w == width && h == height)
        return;
    std::vector<uint8_t> next(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    for (size_t i = 0; i < next.size(); i += 3)
        std::memcpy(&next[i], kCanvasBackground.data(), 3);
    const int32_t keepW = std::min(w, width), keepH = std::min(h, height);
    for (int32_t row = 0; row < keepH; ++row)
        std::memcpy(&next[(static_cast<size_t>(row) * w) * 3],
                    &rgb[(static_cast<size_t>(row) * width) * 3], static_cast<size_t>(keepW) * 3);
    rgb = std::move(next);
    width = w;
    height = h;
}

void Canvas::fill(int32_t x, int32_t y, int32_t w, int32_t h, std::array<uint8_t, 3> colour) {
    // In 64 bits, so that no edge can overflow.
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(int64_t{x} + std::max(w, 0), width);
    const int64_t bottom = std::min<int64_t>(int64_t{y} + std::max(h, 0), height);
    for (int64_t row = top; row < bottom; ++row)
        for (int64_t col = left; col < right; ++col)
            std::memcpy(&rgb[static_cast<size_t>((row * width + col) * 3)], colour.data(), 3);
}

std::array<uint8_t, 3> Canvas::pixel(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width || y >= height)
        return {0, 0, 0};
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

// ---- The control record's operations ------------------------------------

// Nothing the model throws (only memory can run out) may reach the module:
// the call then does nothing more.
extern "C" {

static void ORVIT_CALL controlDraw(ControlHandle control, int32_t mode) {
    try {
        if (PanelControl* c = PanelControl::fromHandle(control))
            c->panel().drawControl(*c, mode);
    } catch (...) {
    }
}

static void ORVIT_CALL controlGet(ControlHandle control, int32_t attr, ControlValue* value) {
    try {
        if (PanelControl* c = PanelControl::fromHandle(control))
            c->getAttribute(attr, value);
    } catch (...) {
    }
}

static void ORVIT_CALL controlSet(ControlHandle control, int32_t attr, ControlValue* value) {
    try {
        if (PanelControl* c = PanelControl::fromHandle(control))
            c->setAttribute(attr, value);
    } catch (...) {
    }
}

static void ORVIT_CALL drawRGBPixel(PanelHandle panel, int32_t red, int32_t green, int32_t blue,
                                    int32_t x, int32_t y) {
    if (Panel* p = Panel::fromHandle(panel))
        p->drawRGBPixel(red, green, blue, x, y);
}

static void ORVIT_CALL drawBox(PanelHandle panel, int32_t colour, int32_t x, int32_t y, int32_t w,
                               int32_t h) {
    if (Panel* p = Panel::fromHandle(panel))
        p->drawBox(colour, x, y, w, h);
}

static void ORVIT_CALL drawRGBBox(PanelHandle panel, int32_t red, int32_t green, int32_t blue,
                                  int32_t x, int32_t y, int32_t w, int32_t h) {
    if (Panel* p = Panel::fromHandle(panel))
        p->drawRGBBox(red, green, blue, x, y, w, h);
}

} // extern "C"

const DrawFuncs* panelDrawFuncs() {
    // In slot order; slots 0 and 2 are not offered.
    static const DrawFuncs record{nullptr, drawRGBPixel, nullptr, drawBox, drawRGBBox};
    return &record;
}

// ---- Controls -----------------------------------------------------------

PanelControl::PanelControl(Panel& panel, int index, ControlType type, std::string label,
                           ControlDescription description)
    : panel_(panel), index_(index), type_(type), label_(std::move(label)),
      description_(std::move(description)) {
    record_.slots.drawControl = controlDraw;
    record_.slots.getControlAttr = controlGet;
    record_.slots.setControlAttr = controlSet;
    record_.owner = this;
    liveControls().insert(&record_.slots);
}

PanelControl::~PanelControl() {
    retire();
}

void PanelControl::retire() {
    if (live_)
        liveControls().erase(&record_.slots);
    live_ = false;
}

PanelControl* PanelControl::fromHandle(ControlHandle handle) {
    if (handle == nullptr || liveControls().count(handle) == 0)
        return nullptr;
    return reinterpret_cast<Record*>(handle)->owner;
}

void PanelControl::fault(const std::string& what) {
    panel_.fault("control " + std::to_string(index_) + " (" + controlTypeName(type_) + " " +
                 inQuotes(label_) + "): " + what);
}

// Integers go into integer and float records alike; anything else is a fault.
void PanelControl::getAttribute(int32_t attr, ControlValue* out) {
    if (out == nullptr) {
        fault("get " + attributeText(attr) + " without a record");
        return;
    }
    auto putInt = [&](int32_t v) {
        if (out->type == ValueInt)
            out->intValue = v;
        else if (out->type == ValueFloat)
            out->real.value = v;
        else
            fault("get " + attributeText(attr) + " into a record of type " +
                  std::to_string(out->type));
    };
    switch (attr) {
    case AttrX:
        return putInt(x);
    case AttrY:
        return putInt(y);
    case AttrWidth:
        return putInt(width);
    case AttrHeight:
        return putInt(height);
    case AttrOriginX:
        return putInt(originX());
    case AttrOriginY:
        return putInt(originY());
    case AttrDrawCallback:
        std::memcpy(&out->pointer, &drawCallback, sizeof out->pointer);
        return;
    case AttrEventCallback:
        std::memcpy(&out->pointer, &eventCallback, sizeof out->pointer);
        return;
    case AttrUserData:
        out->pointer = userData;
        return;
    case AttrValue:
        break;
    default:
        fault("get " + attributeText(attr));
        return;
    }
    const PayloadKind kind = payloadKind(type_);
    if (kind == PayloadKind::IntVector && out->type == ValueIntVector) {
        std::memcpy(out->intVector, value.vector.data(), sizeof out->intVector);
    } else if (kind == PayloadKind::Float && out->type == ValueFloat) {
        out->real.value = value.real;
    } else if (kind == PayloadKind::Float && out->type == ValueInt) {
        const double v = std::trunc(value.real);
        out->intValue =
            std::isfinite(v) && std::fabs(v) < 2147483648.0 ? static_cast<int32_t>(v) : 0;
    } else if (kind == PayloadKind::Int && (out->type == ValueInt || out->type == ValueFloat)) {
        putInt(value.integer);
    } else {
        fault("get Value into a record of type " + std::to_string(out->type));
    }
}

void PanelControl::setAttribute(int32_t attr, const ControlValue* in) {
    if (in == nullptr) {
        fault("set " + attributeText(attr) + " without a record");
        return;
    }
    auto getInt = [&](int32_t* v) {
        if (in->type == ValueInt) {
            *v = in->intValue;
            return true;
        }
        if (in->type == ValueFloat && std::isfinite(in->real.value) &&
            std::fabs(in->real.value) < 2147483648.0) {
            *v = static_cast<int32_t>(in->real.value);
            return true;
        }
        fault("set " + attributeText(attr) + " from a record of type " + std::to_string(in->type));
        return false;
    };
    int32_t v = 0;
    switch (attr) {
    case AttrX:
    case AttrY:
        if (getInt(&v)) {
            (attr == AttrX ? x : y) = v;
            panel_.fitCanvas();
        }
        return;
    case AttrWidth:
    case AttrHeight:
        if (!getInt(&v))
            return;
        if (v < 0 || v > kMaxControlSide) {
            fault("set " + attributeText(attr) + " " + std::to_string(v));
            return;
        }
        (attr == AttrWidth ? width : height) = v;
        panel_.fitCanvas();
        return;
    case AttrOriginX:
    case AttrOriginY:
        fault("set read-only attribute " + attributeText(attr));
        return;
    case AttrDrawCallback:
        std::memcpy(&drawCallback, &in->pointer, sizeof in->pointer);
        return;
    case AttrEventCallback:
        std::memcpy(&eventCallback, &in->pointer, sizeof in->pointer);
        return;
    case AttrUserData:
        userData = in->pointer;
        return;
    case AttrValue:
        break;
    default:
        fault("set " + attributeText(attr));
        return;
    }
    const PayloadKind kind = payloadKind(type_);
    if (kind == PayloadKind::IntVector && in->type == ValueIntVector) {
        std::memcpy(value.vector.data(), in->intVector, sizeof in->intVector);
    } else if (kind == PayloadKind::Float && in->type == ValueFloat) {
        value.real = in->real.value;
    } else if (kind == PayloadKind::Float && in->type == ValueInt) {
        value.real = in->intValue;
    } else if (kind == PayloadKind::Int && getInt(&v)) {
        value.integer = v;
    } else if (kind != PayloadKind::Int) {
        fault("set Value from a record of type " + std::to_string(in->type));
    }
}

// ---- Panels -------------------------------------------------------------

Panel::Panel(std::string title) : title_(std::move(title)) {
    livePanels().insert(this);
}

Panel::~Panel() {
    retire();
}

void Panel::retire() {
    livePanels().erase(this);
    live_ = false;
    for (auto& c : controls_)
        c->retire();
}

Panel* Panel::fromHandle(PanelHandle handle) {
    auto* p = static_cast<Panel*>(handle);
    return livePanels().count(p) != 0 ? p : nullptr;
}

void Panel::fault(std::string what) {
    try {
        if (faults.size() > kMaxFaults)
            return;
        if (faults.size() == kMaxFaults)
            what = "further faults not noted";
        faults.push_back(std::move(what));
    } catch (...) {
        // Out of memory: the note is lost; the call it describes was ignored anyway.
    }
}

int32_t Panel::contentBottom() const {
    int64_t bottom = 0;
    for (const auto& c : controls_)
        bottom = std::max<int64_t>(bottom, int64_t{c->y} + c->height);
    return static_cast<int32_t>(std::min<int64_t>(bottom, std::numeric_limits<int32_t>::max()));
}

int32_t Panel::contentRight() const {
    int64_t right = 0;
    for (const auto& c : controls_)
        right = std::max<int64_t>(right, int64_t{c->x} + c->width);
    return static_cast<int32_t>(std::min<int64_t>(right, std::numeric_limits<int32_t>::max()));
}

int32_t Panel::height() const {
    return heightSet_ ? height_ : contentBottom() + kPanelMargin;
}

void Panel::setHeight(int32_t height) {
    height_ = std::clamp(height, 0, kMaxControlSide);
    heightSet_ = true;
    fitCanvas();
}

void Panel::fitCanvas() {
    // Controls moved far away do not make the canvas huge: it holds at most
    // kMaxControlSide pixels each way.
    const int32_t w = std::min(contentRight(), kMaxControlSide - kPanelMargin) + kPanelMargin;
    const int32_t h = std::min(std::max(height(), contentBottom() + kPanelMargin), kMaxControlSide);
    canvas_.resize(w, h);
}

const Canvas& Panel::canvas() {
    fitCanvas();
    return canvas_;
}

PanelControl* Panel::addControl(const char* type, const ControlDesc* desc, const char* label) {
    ControlType t{};
    const std::string text = label != nullptr ? label : "";
    const int index = static_cast<int>(controls_.size()) + 1;
    if (!controlTypeOf(type, &t)) {
        fault("addControl " + std::to_string(index) + ": unknown type " +
              (type != nullptr ? inQuotes(type) : "(null)"));
        return nullptr;
    }
    ControlDescription d;
    if (!copyDescription(t, desc, &d)) {
        fault("addControl " + std::to_string(index) + ": " + controlTypeName(t) + " " +
              inQuotes(text) + " cannot take its descriptor");
        return nullptr;
    }
    const std::array<int32_t, 2> body = controlBody(t, d, text);
    auto control = std::make_unique<PanelControl>(*this, index, t, text, std::move(d));
    control->x = kPanelMargin;
    control->y = controls_.empty() ? kPanelMargin : contentBottom() + kPanelGap;
    control->width = labelWidth(t, text) + body[0];
    control->height = body[1];
    controls_.push_back(std::move(control));
    fitCanvas();
    return controls_.back().get();
}

// Marks a panel busy (and drawing) for one scope.
class Panel::Busy {
  public:
    Busy(Panel& panel, bool drawing) : panel_(panel), drawing_(drawing) {
        ++panel_.busy_;
        if (drawing_)
            panel_.drawing_ = true;
    }
    ~Busy() {
        --panel_.busy_;
        if (drawing_)
            panel_.drawing_ = false;
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

  private:
    Panel& panel_;
    bool drawing_;
};

void Panel::drawControl(PanelControl& control, int32_t mode) {
    if (mode == DrawGhosted)
        control.ghosted = true;
    else if (mode == DrawNormal)
        control.ghosted = false;
    if (control.type() == ControlType::Area && control.drawCallback != nullptr && !drawing_) {
        fitCanvas();
        const Busy busy(*this, true);
        control.drawCallback(control.handle(), control.userData, mode);
    }
    if (view != nullptr)
        view->controlDrawn(control);
}

void Panel::drawPanel(int32_t mode) {
    if (drawing_)
        return;
    {
        fitCanvas();
        const Busy busy(*this, true);
        // By index: a callback may add controls, and each control's callback
        // is read as it stands when its turn comes.
        for (size_t i = 0; i < controls_.size() && live_; ++i) {
            PanelControl& c = *controls_[i];
            if (c.type() == ControlType::Area && c.drawCallback != nullptr)
                c.drawCallback(c.handle(), c.userData, mode);
        }
    }
    if (view != nullptr)
        view->panelDrawn();
}

void Panel::callEvent(PanelControl& control) {
    if (control.eventCallback == nullptr)
        return;
    const Busy busy(*this, false);
    control.eventCallback(control.handle(), control.userData);
}

bool Panel::userChange(PanelControl& control, const ControlPayload& value) {
    if (control.ghosted || !live_)
        return false;
    control.value = value;
    callEvent(control);
    return true;
}

bool Panel::userPress(PanelControl& control) {
    if (control.ghosted || !live_)
        return false;
    if (control.type() == ControlType::BoolButton)
        control.value.integer = control.value.integer != 0 ? 0 : 1;
    callEvent(control);
    return true;
}

void Panel::checkColour(const char* operation, int32_t red, int32_t green, int32_t blue) {
    if (red >= 0 && red <= 255 && green >= 0 && green <= 255 && blue >= 0 && blue <= 255)
        return;
    fault(std::string(operation) + " colour " + std::to_string(red) + " " + std::to_string(green) +
          " " + std::to_string(blue) + " outside 0..255");
}

void Panel::drawRGBPixel(int32_t red, int32_t green, int32_t blue, int32_t x, int32_t y) {
    ++draws.pixels;
    checkColour("drawRGBPixel", red, green, blue);
    canvas_.fill(x, y, 1, 1, {channel(red), channel(green), channel(blue)});
}

void Panel::drawBox(int32_t colour, int32_t x, int32_t y, int32_t w, int32_t h) {
    ++draws.boxes;
    canvas_.fill(x, y, w, h, paletteColour(colour));
}

void Panel::drawRGBBox(int32_t red, int32_t green, int32_t blue, int32_t x, int32_t y, int32_t w,
                       int32_t h) {
    ++draws.rgbBoxes;
    checkColour("drawRGBBox", red, green, blue);
    canvas_.fill(x, y, w, h, {channel(red), channel(green), channel(blue)});
}

// ---- Descriptions -------------------------------------------------------

std::string describeDescription(const ControlDescription& d) {
    auto list = [&](const std::vector<std::string>& items) {
        return "[" + joined(items, [](const std::string& item) { return inQuotes(item); }) + "]";
    };
    switch (d.code) {
    case DescButton:
        return "button";
    case DescFloat:
        return "float";
    case DescRGB:
        return "rgb";
    case DescBool:
        return "bool";
    case DescList:
        return "list " + std::to_string(d.listParam) + " " + list(d.items);
    case DescText:
        return "text " + list(d.items);
    case DescRange:
        return "range " + std::to_string(d.rangeWidth) + " " + std::to_string(d.rangeMin) + " " +
               std::to_string(d.rangeMax);
    case DescArea:
        return "area " + std::to_string(d.areaWidth) + " " + std::to_string(d.areaHeight);
    default:
        return "code " + std::to_string(d.code);
    }
}

std::string describeValue(const PanelControl& c) {
    switch (payloadKind(c.type())) {
    case PayloadKind::IntVector:
        return std::to_string(c.value.vector[0]) + " " + std::to_string(c.value.vector[1]) + " " +
               std::to_string(c.value.vector[2]);
    case PayloadKind::Float:
        return formatReal(c.value.real);
    case PayloadKind::Int:
        break;
    }
    return std::to_string(c.value.integer);
}

std::vector<std::string> describeControls(const Panel& panel) {
    std::vector<std::string> lines;
    for (const auto& c : panel.controls()) {
        lines.push_back(std::to_string(c->index()) + " " + controlTypeName(c->type()) + " " +
                        inQuotes(c->label()) + " " + describeDescription(c->description()) +
                        " at " + std::to_string(c->x) + " " + std::to_string(c->y) + " " +
                        std::to_string(c->width) + " " + std::to_string(c->height) + " value " +
                        describeValue(*c) + (c->ghosted ? " ghosted" : ""));
    }
    return lines;
}

} // namespace orvit::standin
