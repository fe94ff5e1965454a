#include "orvit/core/text.h"
#include "orvit/panel/panel_model.h"

#include <cstdio>

namespace orvit::panel {

namespace {

std::string formatReal(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

} // namespace

std::string describeDescription(const ControlDescription& d) {
    auto list = [&](const std::vector<std::string>& items) {
        return "[" +
               core::joined(items, [](const std::string& item) { return core::inQuotes(item); }) +
               "]";
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
                        core::inQuotes(c->label()) + " " + describeDescription(c->description()) +
                        " at " + std::to_string(c->x) + " " + std::to_string(c->y) + " " +
                        std::to_string(c->width) + " " + std::to_string(c->height) + " value " +
                        describeValue(*c) + (c->ghosted ? " ghosted" : ""));
    }
    return lines;
}

} // namespace orvit::panel
