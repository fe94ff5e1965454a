#include "module/filter/color_ramp.h"

#include "module/filter/arith.h"

#include <cstdlib>

namespace orvit {

namespace {

// Positions outside 0..100 would place segment bounds outside the table.
int32_t clampPosition(int32_t p) {
    return p < 0 ? 0 : (p > 100 ? 100 : p);
}

// e(p) = trunc(p * (N * 0.01)), N * 0.01 first.
int32_t entryOf(int32_t position, int32_t size) {
    double scale = size * 0.01;
    return truncToInt(clampPosition(position) * scale);
}

// Components are stored as read and may lie outside 0..255: like a single
// key's colour, the entry is the low byte of the truncated blend, and a blend
// beyond the 32-bit range saturates first.
uint8_t blend(int32_t right, int32_t left, double f) {
    double r = right * f;
    double l = left * (1.0 - f);
    int32_t v = 0;
    truncSaturating(r + l, &v);
    return static_cast<uint8_t>(v);
}

} // namespace

ColorRamp* buildColorRamp(ColorRamp* ramp, const GlowSetting* setting, int32_t size) {
    ramp->size = size;
    ramp->keyCount = 0;
    ramp->red = ramp->green = ramp->blue = nullptr;

    // S with one slot on each side: S[-1] and S[keyCount].
    int32_t slots[kColorKeyCount + 2];
    int32_t* order = slots + 1;
    for (int32_t i = 0; i < kColorKeyCount; ++i)
        if (setting->keyEnabled[i] != 0)
            order[ramp->keyCount++] = i;
    if (ramp->keyCount == 0 || size <= 0) {
        ramp->keyCount = size <= 0 ? 0 : ramp->keyCount;
        return ramp;
    }

    ramp->red = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    ramp->green = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    ramp->blue = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    if (ramp->red == nullptr || ramp->green == nullptr || ramp->blue == nullptr) {
        freeColorRamp(ramp);
        ramp->keyCount = 0;
        return ramp;
    }

    const int32_t count = ramp->keyCount;
    if (count == 1) {
        int32_t k = order[0];
        for (int32_t e = 0; e < size; ++e) {
            ramp->red[e] = static_cast<uint8_t>(setting->keyRed[k]);
            ramp->green[e] = static_cast<uint8_t>(setting->keyGreen[k]);
            ramp->blue[e] = static_cast<uint8_t>(setting->keyBlue[k]);
        }
        return ramp;
    }

    // Exchange sort by position; its exact tie behaviour is part of the result.
    for (int32_t p = 0; p < count - 1; ++p)
        for (int32_t q = p + 1; q < count; ++q)
            if (setting->keyPosition[order[p]] > setting->keyPosition[order[q]]) {
                int32_t t = order[p];
                order[p] = order[q];
                order[q] = t;
            }
    order[-1] = order[0];
    order[count] = order[count - 1];

    for (int32_t s = 0; s <= count; ++s) {
        int32_t left = order[s - 1];
        int32_t right = order[s];
        int32_t a = s == 0 ? 0 : entryOf(setting->keyPosition[left], size);
        int32_t b = s == count ? size : entryOf(setting->keyPosition[right], size);
        for (int32_t k = a; k < b; ++k) {
            double f = static_cast<double>(k - a) / static_cast<double>(b - a + 1);
            ramp->red[k] = blend(setting->keyRed[right], setting->keyRed[left], f);
            ramp->green[k] = blend(setting->keyGreen[right], setting->keyGreen[left], f);
            ramp->blue[k] = blend(setting->keyBlue[right], setting->keyBlue[left], f);
        }
    }
    return ramp;
}

void freeColorRamp(ColorRamp* ramp) {
    std::free(ramp->red);
    std::free(ramp->green);
    std::free(ramp->blue);
    ramp->red = ramp->green = ramp->blue = nullptr;
}

} // namespace orvit
