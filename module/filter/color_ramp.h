// A setting's colour keys turned into a table of N colours.
#pragma once

#include "module/settings/settings.h"

#include <cstdint>

namespace orvit {

struct ColorRamp {
    int32_t keyCount; // enabled keys, 0..5; arrays absent when 0
    int32_t size;     // N
    uint8_t* red;
    uint8_t* green;
    uint8_t* blue;
};

static_assert(orvit_layout::inOrder({ORVIT_FIELD(ColorRamp, keyCount, 4),
                                     ORVIT_FIELD(ColorRamp, size, 4), ORVIT_POINTER(ColorRamp, red),
                                     ORVIT_POINTER(ColorRamp, green),
                                     ORVIT_POINTER(ColorRamp, blue)}),
              "ColorRamp: keyCount, size, red, green, blue");

ColorRamp* buildColorRamp(ColorRamp* ramp, const GlowSetting* setting, int32_t size);
void freeColorRamp(ColorRamp* ramp);

} // namespace orvit
