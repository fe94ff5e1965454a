// Descriptors of the panel's controls, each with every byte it does not set
// zero, union included, so that a host reading another member sees nothing.
#pragma once

#include "module/abi/panel.h"

#include <cstdint>

namespace orvit {

ControlDesc blankDesc(int32_t type);
ControlDesc listDesc(const char* const* items, int32_t listParam);
ControlDesc rangeDesc(int32_t rangeWidth, int32_t min, int32_t max);
ControlDesc areaDesc(int32_t areaWidth, int32_t areaHeight);
// `lines` ends with a null pointer.
ControlDesc textDesc(const char* const* lines);

} // namespace orvit
