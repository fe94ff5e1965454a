#include "tests/support/fakes/fake_panel.h"

#include "module/services/services.h"

#include <algorithm>
#include <cstring>

namespace fakes {

namespace {

FakePanel* current = nullptr;
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
    current->calls.push_back("drawControl " + std::to_string(c->index) + " " +
                             std::to_string(mode));
    if (mode == DrawGhosted)
        c->ghosted = true;
    else if (mode == DrawNormal)
        c->ghosted = false;
    if (c->draw != nullptr)
        c->draw(control, c->userData, mode);
}

void ORVIT_CALL getControlAttr(ControlHandle control, int32_t attr, ControlValue* value) {
    FakeControl* c = of(control);
    switch (attr) {
    case AttrX:
    case AttrOriginX:
        value->intValue = c->x;
        break;
    case AttrY:
    case AttrOriginY:
        value->intValue = c->y;
        break;
    case AttrWidth:
        value->intValue = c->width;
        break;
    case AttrHeight:
        value->intValue = c->height;
        break;
    case AttrValue:
        if (value->type == ValueIntVector)
            std::memcpy(value->intVector, c->vector, sizeof c->vector);
        else if (value->type == ValueFloat)
            value->real.value = c->floatValue;
        else
            value->intValue = c->intValue;
        break;
    default:
        break;
    }
}

void ORVIT_CALL setControlAttr(ControlHandle control, int32_t attr, ControlValue* value) {
    FakeControl* c = of(control);
    switch (attr) {
    case AttrX:
        c->x = value->intValue;
        break;
    case AttrY:
        c->y = value->intValue;
        break;
    case AttrValue:
        if (value->type == ValueIntVector)
            std::memcpy(c->vector, value->intVector, sizeof c->vector);
        else if (value->type == ValueFloat)
            c->floatValue = value->real.value;
        else
            c->intValue = value->intValue;
        break;
    case AttrEventCallback:
        c->event = reinterpret_cast<ControlEventFunc>(value->pointer);
        break;
    case AttrDrawCallback:
        c->draw = reinterpret_cast<ControlDrawFunc>(value->pointer);
        break;
    case AttrUserData:
        c->userData = value->pointer;
        break;
    default:
        break;
    }
}

PanelHandle ORVIT_CALL createPanel(const char*, const PanelServices*) {
    ++current->panelsMade;
    return &panelObject;
}

void ORVIT_CALL destroyPanel(PanelHandle) {
    current->calls.push_back("destroyPanel");
    ++current->panelsDestroyed;
    current->controls.clear();
}

int32_t ORVIT_CALL openPanel(PanelHandle, int32_t flags) {
    current->calls.push_back("openPanel " + std::to_string(flags));
    return current->user();
}

void ORVIT_CALL drawPanel(PanelHandle, int32_t mode) {
    current->calls.push_back("drawPanel " + std::to_string(mode));
    for (auto& c : current->controls)
        if (c->draw != nullptr)
            c->draw(&c->record, c->userData, mode);
}

void ORVIT_CALL getPanelAttr(PanelHandle, int32_t attr, void* value) {
    if (attr == PanelHeight)
        std::memcpy(value, &current->height, sizeof current->height);
}

void ORVIT_CALL setPanelAttr(PanelHandle, int32_t attr, void* value) {
    if (attr == PanelHeight) {
        std::memcpy(&current->height, value, sizeof current->height);
        current->calls.push_back("height " + std::to_string(current->height));
    } else if (attr == PanelUserData) {
        std::memcpy(&current->userData, value, sizeof current->userData);
    }
}

ControlHandle ORVIT_CALL addControl(PanelHandle, const char* type, const ControlDesc* desc,
                                    const char* label) {
    const int index = static_cast<int>(current->controls.size());
    if (index == current->refuseControl)
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
    for (const auto& other : current->controls)
        bottom = std::max(bottom, other->y + other->height);
    c->y = bottom;
    c->width = widthOf(*c);
    c->height = c->type == "AreaControl" ? c->area[1] : 20;
    current->controls.push_back(std::move(c));
    return &current->controls.back()->record;
}

void ORVIT_CALL drawRGBPixel(PanelHandle, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y) {
    current->drawn.push_back({"pixel", r, g, b, x, y, 1, 1});
}

void ORVIT_CALL drawBox(PanelHandle, int32_t colour, int32_t x, int32_t y, int32_t w, int32_t h) {
    current->drawn.push_back({"box", colour, colour, colour, x, y, w, h});
}

void ORVIT_CALL drawRGBBox(PanelHandle, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y,
                           int32_t w, int32_t h) {
    current->drawn.push_back({"rgbBox", r, g, b, x, y, w, h});
}

} // namespace

FakePanel::FakePanel() {
    current = this;
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
    current = nullptr;
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
