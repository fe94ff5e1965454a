#include "orvit/panel/panel_model.h"

#include <algorithm>
#include <cstring>

namespace orvit::panel {

namespace {

struct TypeName {
    ControlType type;
    const char* name;
    int32_t descriptor;
    const char* kind; // as a script's messages call it
};

const TypeName kTypes[] = {
    {ControlType::Bool, "BoolControl", DescBool, "a box"},
    {ControlType::BoolButton, "BoolButtonControl", DescBool, "a button"},
    {ControlType::Popup, "PopupControl", DescList, "a popup"},
    {ControlType::Choice, "ChoiceControl", DescList, "a popup"},
    {ControlType::Button, "ButtonControl", DescButton, "a button"},
    {ControlType::Float, "FloatControl", DescFloat, "a field"},
    {ControlType::MiniRGB, "MiniRGBControl", DescRGB, "a colour"},
    {ControlType::MiniSlider, "MiniSliderControl", DescRange, "a slider"},
    {ControlType::Percent, "PercentControl", DescRange, "a field"},
    {ControlType::Text, "TextControl", DescText, "a text"},
    {ControlType::Area, "AreaControl", DescArea, "an area"},
};

// The host's attributes as messages name them.
struct AttributeName {
    int32_t attr;
    const char* name;
};

const AttributeName kControlAttributes[] = {{AttrX, "X"},
                                            {AttrY, "Y"},
                                            {AttrWidth, "Width"},
                                            {AttrHeight, "Height"},
                                            {AttrValue, "Value"},
                                            {AttrOriginX, "OriginX"},
                                            {AttrOriginY, "OriginY"},
                                            {AttrDrawCallback, "DrawCallback"},
                                            {AttrEventCallback, "EventCallback"},
                                            {AttrUserData, "UserData"}};

const AttributeName kPanelAttributes[] = {{PanelHeight, "Height"}, {PanelUserData, "UserData"}};

template <size_t N> std::string attributeText(int32_t attr, const AttributeName (&names)[N]) {
    for (const AttributeName& a : names)
        if (a.attr == attr)
            return a.name;
    return "attribute " + std::to_string(attr);
}

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

} // namespace

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

const char* controlKind(ControlType type) {
    return entry(type).kind;
}

std::string controlAttributeText(int32_t attr) {
    return attributeText(attr, kControlAttributes);
}

std::string panelAttributeText(int32_t attr) {
    return attributeText(attr, kPanelAttributes);
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

} // namespace orvit::panel
