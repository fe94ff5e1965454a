#include "module/panel/control_descs.h"

#include <cstring>

namespace orvit {

ControlDesc blankDesc(int32_t type) {
    ControlDesc desc;
    std::memset(&desc, 0, sizeof desc);
    desc.type = type;
    return desc;
}

ControlDesc listDesc(const char* const* items, int32_t listParam) {
    ControlDesc desc = blankDesc(DescList);
    desc.list.items = items;
    desc.list.listParam = listParam;
    return desc;
}

ControlDesc rangeDesc(int32_t rangeWidth, int32_t min, int32_t max) {
    ControlDesc desc = blankDesc(DescRange);
    desc.range.width = rangeWidth;
    desc.range.min = min;
    desc.range.max = max;
    return desc;
}

ControlDesc areaDesc(int32_t areaWidth, int32_t areaHeight) {
    ControlDesc desc = blankDesc(DescArea);
    desc.area.width = areaWidth;
    desc.area.height = areaHeight;
    return desc;
}

ControlDesc textDesc(const char* const* lines) {
    ControlDesc desc = blankDesc(DescText);
    desc.text.lines = lines;
    return desc;
}

} // namespace orvit
