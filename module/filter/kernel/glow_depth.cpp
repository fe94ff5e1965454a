// Modes 1 "Depth" and 3 "G-Depth": each outline pixel's radius is the glow
// size projected at its depth, R = trunc(((W * S) / (D * K)) * 0.5).
#include "module/filter/arith.h"
#include "module/filter/kernel/glow_kernel.h"
#include "module/filter/kernel/stamp_tables.h"

namespace orvit {

bool depthRadius(int32_t width, double size, float depth, double k, int32_t* radius) {
    double spread = width * size;
    double scale = static_cast<double>(depth) * k;
    double quotient = spread / scale;
    int32_t r = 0;
    if (!truncInRange(quotient * 0.5, &r))
        return false;
    if (r <= 1 || r > kMaxDepthRadius)
        return false;
    *radius = r;
    return true;
}

int32_t glowDepth(FilterInstance* instance, const GlowSetting* setting, FrameSource& source) {
    return runGlowKernel(instance, setting, source, kDepthRule);
}

int32_t glowGDepth(FilterInstance* instance, const GlowSetting* setting, FrameSource& source) {
    return runGlowKernel(instance, setting, source, kGDepthRule);
}

} // namespace orvit
