// The two conversions every pixel rule uses: truncation toward zero and
// saturation at 255. Kept in one place so each formula reads like its rule.
#pragma once

#include <cmath>
#include <cstdint>

namespace orvit {

// Truncation toward zero of a value known to lie well inside the int32 range.
inline int32_t truncToInt(double v) {
    return static_cast<int32_t>(v);
}

inline int32_t saturate255(int32_t v) {
    return v > 255 ? 255 : v;
}

// Truncation toward zero into int32 when the result is representable; false
// for NaN, infinities and values beyond the 32-bit range.
inline bool truncInRange(double v, int32_t* out) {
    if (!(v > -2147483649.0 && v < 2147483648.0))
        return false;
    *out = static_cast<int32_t>(v);
    return true;
}

// Truncation toward zero that saturates at the 32-bit bounds. NaN gives false.
inline bool truncSaturating(double v, int32_t* out) {
    if (std::isnan(v))
        return false;
    if (v >= 2147483647.0)
        *out = INT32_MAX;
    else if (v <= -2147483648.0)
        *out = INT32_MIN;
    else
        *out = static_cast<int32_t>(v);
    return true;
}

} // namespace orvit
