#include "tests/support/fakes/fake_panel.h"

#include "module/services/services.h"

#include <algorithm>
#include <cstring>

namespace fakes {

namespace {

int panelObject = 0;

FakeControl* of(ControlHandle control) {
    return reinterpret_cast<FakeControl*>(control);
}

// Host placement: each control below the lowest so far, at the left edge;
// a width per type.
int32_t widthOf(const FakeControl& c) {
    if (c.type == "AreaControl")
        return c.area[0];
    if (c.type == "BoolControl" || c.type == "BoolButtonControl")
        return 20 + 8 * static_cast<int32_t>(c.label.size());
    if (c.type == "MiniSliderControl" || c.type == "PercentControl")
        return 150;
    if (c.type == "TextControl")
        return 90;
    return 100;
}

void ORVIT_CALL drawControl(ControlHandle control, int32_t mode) {
    FakeControl* c = of(control);
    FakePanel::current()->calls.push_back("drawControl " + std::to_string(c->index) + " " +
                                          std::to_string(mode));
    if (mode == DrawGhosted)
        c->ghosted = true;
    else if (mode == DrawNormal)
        c->ghosted = false;
    if (c->draw != nullptr)
        c->draw(control, c->userData, mode);
}

// An attribute between the control and the module's record: the control
// keeps what the module sets and answers it back. Sizes and origins (the
// place: the fake draws no labels) the module only reads.
void transfer(ControlHandle control, int32_t attr, ControlValue* value, bool set) {
    FakeControl* c = of(control);
    const auto copy = [&](void* kept, void* carried, size_t bytes) {
        if (set)
            std::memcpy(kept, carried, bytes);
        else
            std::memcpy(carried, kept, bytes);
    };
    const auto answer = [&](int32_t kept) {
        if (!set)
            value->intValue = kept;
    };
    switch (attr) {
    case AttrX:
        return copy(&c->x, &value->intValue, sizeof c->x);
    case AttrY:
        return copy(&c->y, &value->intValue, sizeof c->y);
    case AttrOriginX:
        return answer(c->x);
    case AttrOriginY:
        return answer(c->y);
    case AttrWidth:
        return answer(c->width);
    case AttrHeight:
        return answer(c->height);
    case AttrValue:
        if (value->type == ValueIntVector)
            return copy(c->vector, value->intVector, sizeof c->vector);
        if (value->type == ValueFloat)
            return copy(&c->floatValue, &value->real.value, sizeof c->floatValue);
        return copy(&c->intValue, &value->intValue, sizeof c->intValue);
    case AttrEventCallback:
        return copy(&c->event, &value->pointer, sizeof value->pointer);
    case AttrDrawCallback:
        return copy(&c->draw, &value->pointer, sizeof value->pointer);
    case AttrUserData:
        return copy(&c->userData, &value->pointer, sizeof value->pointer);
    default:
        return;
    }
}

void ORVIT_CALL getControlAttr(ControlHandle control, int32_t attr, ControlValue* value) {
    transfer(control, attr, value, false);
}

void ORVIT_CALL setControlAttr(ControlHandle control, int32_t attr, ControlValue* value) {
    transfer(control, attr, value, true);
}

PanelHandle ORVIT_CALL createPanel(const char*, const PanelServices*) {
    ++FakePanel::current()->panelsMade;
    return &panelObject;
}

void ORVIT_CALL destroyPanel(PanelHandle) {
    FakePanel::current()->calls.push_back("destroyPanel");
    ++FakePanel::current()->panelsDestroyed;
    FakePanel::current()->controls.clear();
}

int32_t ORVIT_CALL openPanel(PanelHandle, int32_t flags) {
    FakePanel::current()->calls.push_back("openPanel " + std::to_string(flags));
    return FakePanel::current()->user();
}

void ORVIT_CALL drawPanel(PanelHandle, int32_t mode) {
    FakePanel::current()->calls.push_back("drawPanel " + std::to_string(mode));
    for (auto& c : FakePanel::current()->controls)
        if (c->draw != nullptr)
            c->draw(&c->record, c->userData, mode);
}

void ORVIT_CALL getPanelAttr(PanelHandle, int32_t attr, void* value) {
    if (attr == PanelHeight)
        std::memcpy(value, &FakePanel::current()->height, sizeof FakePanel::current()->height);
}

void ORVIT_CALL setPanelAttr(PanelHandle, int32_t attr, void* value) {
    if (attr == PanelHeight) {
        std::memcpy(&FakePanel::current()->height, value, sizeof FakePanel::current()->height);
        FakePanel::current()->calls.push_back("height " +
                                              std::to_string(FakePanel::current()->height));
    } else if (attr == PanelUserData) {
        std::memcpy(&FakePanel::current()->userData, value, sizeof FakePanel::current()->userData);
    }
}

ControlHandle ORVIT_CALL addControl(PanelHandle, const char* type, const ControlDesc* desc,
                                    const char* label) {
    const int index = static_cast<int>(FakePanel::current()->controls.size());
    if (index == FakePanel::current()->refuseControl)
        return nullptr;
    auto c = std::make_unique<FakeControl>();
    c->record.drawControl = drawControl;
    c->record.getControlAttr = getControlAttr;
    c->record.setControlAttr = setControlAttr;
    c->index = index;
    c->type = type;
    c->label = label;
    c->descType = desc->type;
    if (desc->type == DescList) {
        for (const char* const* item = desc->list.items; *item != nullptr; ++item)
            c->items.push_back(*item);
        c->listParam = desc->list.listParam;
    } else if (desc->type == DescText) {
        for (const char* const* line = desc->text.lines; *line != nullptr; ++line)
            c->items.push_back(*line);
    } else if (desc->type == DescRange) {
        c->range[0] = desc->range.width;
        c->range[1] = desc->range.min;
        c->range[2] = desc->range.max;
    } else if (desc->type == DescArea) {
        c->area[0] = desc->area.width;
        c->area[1] = desc->area.height;
    }
    int32_t bottom = 0;
    for (const auto& other : FakePanel::current()->controls)
        bottom = std::max(bottom, other->y + other->height);
    c->y = bottom;
    c->width = widthOf(*c);
    c->height = c->type == "AreaControl" ? c->area[1] : 20;
    FakePanel::current()->controls.push_back(std::move(c));
    return &FakePanel::current()->controls.back()->record;
}

void ORVIT_CALL drawRGBPixel(PanelHandle, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y) {
    FakePanel::current()->drawn.push_back({"pixel", r, g, b, x, y, 1, 1});
}

void ORVIT_CALL drawBox(PanelHandle, int32_t colour, int32_t x, int32_t y, int32_t w, int32_t h) {
    FakePanel::current()->drawn.push_back({"box", colour, colour, colour, x, y, w, h});
}

void ORVIT_CALL drawRGBBox(PanelHandle, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y,
                           int32_t w, int32_t h) {
    FakePanel::current()->drawn.push_back({"rgbBox", r, g, b, x, y, w, h});
}

} // namespace

FakePanel::FakePanel() {
    drawFuncs.drawRGBPixel = drawRGBPixel;
    drawFuncs.drawBox = drawBox;
    drawFuncs.drawRGBBox = drawRGBBox;
    service.createPanel = createPanel;
    service.destroyPanel = destroyPanel;
    service.openPanel = openPanel;
    service.drawPanel = drawPanel;
    service.getPanelAttr = getPanelAttr;
    service.setPanelAttr = setPanelAttr;
    service.addControl = addControl;
    service.drawFuncs = &drawFuncs;
    orvit::panelService = &service;
}

FakePanel::~FakePanel() {
    orvit::panelService = nullptr;
    orvit::currentPanel = nullptr;
}

void FakePanel::makeCurrent() {
    orvit::currentPanel = createPanel("", &service);
}

FakeControl* FakePanel::byLabel(const std::string& label, int n) {
    for (auto& c : controls)
        if (c->label == label && n-- == 0)
            return c.get();
    return nullptr;
}

void FakePanel::change(FakeControl* c, int32_t value) {
    c->intValue = value;
    press(c);
}

void FakePanel::changeVector(FakeControl* c, int32_t red, int32_t green, int32_t blue) {
    c->vector[0] = red;
    c->vector[1] = green;
    c->vector[2] = blue;
    press(c);
}

void FakePanel::press(FakeControl* c) {
    if (c->event != nullptr)
        c->event(&c->record, c->userData);
}

} // namespace fakes
