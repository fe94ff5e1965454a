#include "orvit/panel/panel_model.h"
#include "orvit/core/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_set>

namespace orvit::panel {

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

} // namespace

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

} // extern "C"

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
                 core::inQuotes(label_) + "): " + what);
}

void* PanelControl::pointerMember(int32_t attr) {
    switch (attr) {
    case AttrDrawCallback:
        return &drawCallback;
    case AttrEventCallback:
        return &eventCallback;
    case AttrUserData:
        return &userData;
    default:
        return nullptr;
    }
}

// Integers go into integer and float records alike; anything else is a fault.
void PanelControl::putInt(int32_t attr, int32_t v, ControlValue* out) {
    if (out->type == ValueInt)
        out->intValue = v;
    else if (out->type == ValueFloat)
        out->real.value = v;
    else
        fault("get " + controlAttributeText(attr) + " into a record of type " +
              std::to_string(out->type));
}

// Integers, and floats that fit one, are taken; anything else is a fault.
bool PanelControl::takeInt(int32_t attr, const ControlValue* in, int32_t* v) {
    if (in->type == ValueInt) {
        *v = in->intValue;
        return true;
    }
    if (in->type == ValueFloat && std::isfinite(in->real.value) &&
        std::fabs(in->real.value) < 2147483648.0) {
        *v = static_cast<int32_t>(in->real.value);
        return true;
    }
    fault("set " + controlAttributeText(attr) + " from a record of type " +
          std::to_string(in->type));
    return false;
}

void PanelControl::getAttribute(int32_t attr, ControlValue* out) {
    if (out == nullptr) {
        fault("get " + controlAttributeText(attr) + " without a record");
        return;
    }
    if (const void* member = pointerMember(attr)) {
        std::memcpy(&out->pointer, member, sizeof out->pointer);
        return;
    }
    switch (attr) {
    case AttrX:
        return putInt(attr, x, out);
    case AttrY:
        return putInt(attr, y, out);
    case AttrWidth:
        return putInt(attr, width, out);
    case AttrHeight:
        return putInt(attr, height, out);
    case AttrOriginX:
        return putInt(attr, originX(), out);
    case AttrOriginY:
        return putInt(attr, originY(), out);
    case AttrValue:
        return getValue(out);
    default:
        fault("get " + controlAttributeText(attr));
    }
}

void PanelControl::getValue(ControlValue* out) {
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
        putInt(AttrValue, value.integer, out);
    } else {
        fault("get Value into a record of type " + std::to_string(out->type));
    }
}

void PanelControl::setAttribute(int32_t attr, const ControlValue* in) {
    if (in == nullptr) {
        fault("set " + controlAttributeText(attr) + " without a record");
        return;
    }
    if (void* member = pointerMember(attr)) {
        std::memcpy(member, &in->pointer, sizeof in->pointer);
        return;
    }
    int32_t v = 0;
    switch (attr) {
    case AttrX:
    case AttrY:
        if (takeInt(attr, in, &v)) {
            (attr == AttrX ? x : y) = v;
            panel_.fitCanvas();
        }
        return;
    case AttrWidth:
    case AttrHeight:
        if (!takeInt(attr, in, &v))
            return;
        if (v < 0 || v > kMaxControlSide) {
            fault("set " + controlAttributeText(attr) + " " + std::to_string(v));
            return;
        }
        (attr == AttrWidth ? width : height) = v;
        panel_.fitCanvas();
        return;
    case AttrOriginX:
    case AttrOriginY:
        fault("set read-only attribute " + controlAttributeText(attr));
        return;
    case AttrValue:
        return setValue(in);
    default:
        fault("set " + controlAttributeText(attr));
    }
}

void PanelControl::setValue(const ControlValue* in) {
    const PayloadKind kind = payloadKind(type_);
    int32_t v = 0;
    if (kind == PayloadKind::IntVector && in->type == ValueIntVector) {
        std::memcpy(value.vector.data(), in->intVector, sizeof in->intVector);
    } else if (kind == PayloadKind::Float && in->type == ValueFloat) {
        value.real = in->real.value;
    } else if (kind == PayloadKind::Float && in->type == ValueInt) {
        value.real = in->intValue;
    } else if (kind == PayloadKind::Int && takeInt(AttrValue, in, &v)) {
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
              (type != nullptr ? core::inQuotes(type) : "(null)"));
        return nullptr;
    }
    ControlDescription d;
    if (!copyDescription(t, desc, &d)) {
        fault("addControl " + std::to_string(index) + ": " + controlTypeName(t) + " " +
              core::inQuotes(text) + " cannot take its descriptor");
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

} // namespace orvit::panel
