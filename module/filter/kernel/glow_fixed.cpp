// Modes 0 "Fixed" and 2 "G-Fixed": one radius per call, a fraction of the
// frame width.
#include "module/filter/arith.h"
#include "module/filter/kernel/glow_kernel.h"
#include "module/services/services.h"

namespace orvit {

bool fixedRadius(const GlowSetting* setting, const FrameSource& source, int32_t* radius) {
    double size = 0.0;
    if (evaluateEnvelope(setting->sizeEnvelope, source.start, &size)) {
        if (!truncSaturating(source.width * size, radius))
            return false;
        if (*radius <= 0)
            *radius = 1;
        return true;
    }
    return truncSaturating(source.width * setting->distance, radius);
}

int32_t glowFixed(FilterInstance* instance, const GlowSetting* setting, FrameSource& source) {
    return runGlowKernel(instance, setting, source, kFixedRule);
}

int32_t glowGFixed(FilterInstance* instance, const GlowSetting* setting, FrameSource& source) {
    return runGlowKernel(instance, setting, source, kGFixedRule);
}

} // namespace orvit
