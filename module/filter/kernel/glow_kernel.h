// The four glow kernels. They share one scan and one stamp; a mode is a
// small description of which pixels fill the core, which stamp, and where a
// stamp's radius comes from.
#pragma once

#include "module/filter/frame_source.h"
#include "module/settings/settings.h"

#include <cstdint>

namespace orvit {

struct GlowRule {
    bool fillCore;         // n = 8 writes strength 255 and ramp entry 0
    int32_t minStampCount; // pixels with minStampCount <= n <= 7 stamp
    bool radiusFromDepth;  // radius per outline pixel from depth and camera
};

constexpr GlowRule kFixedRule{true, 4, false};
constexpr GlowRule kDepthRule{true, 4, true};
constexpr GlowRule kGFixedRule{false, 5, false};
constexpr GlowRule kGDepthRule{false, 5, true};

// Each returns 1 when it ran, 0 when the setting has no enabled colour key
// (or a plane or table could not be obtained), leaving the setting's glow in
// the instance's glow layer at the source's size.
int32_t glowFixed(FilterInstance* instance, const GlowSetting* setting, FrameSource& source);
int32_t glowDepth(FilterInstance* instance, const GlowSetting* setting, FrameSource& source);
int32_t glowGFixed(FilterInstance* instance, const GlowSetting* setting, FrameSource& source);
int32_t glowGDepth(FilterInstance* instance, const GlowSetting* setting, FrameSource& source);

// The shared kernel body.
int32_t runGlowKernel(FilterInstance* instance, const GlowSetting* setting, FrameSource& source,
                      const GlowRule& rule);

// How the body fills a run with one radius: the cheaper exact way, or one of
// the two forced (for the tests; both give the same layer).
enum class FillChoice { Fastest, Stamp, Nearest };
int32_t runGlowKernel(FilterInstance* instance, const GlowSetting* setting, FrameSource& source,
                      const GlowRule& rule, FillChoice choice);

// The kernel of a mode, or null for a mode outside 0..3.
using GlowKernel = int32_t (*)(FilterInstance*, const GlowSetting*, FrameSource&);
GlowKernel kernelForMode(int32_t mode);

// Radius of the Fixed modes from the frame width: false means no outline
// glow at all (a NaN size). Huge sizes saturate.
bool fixedRadius(const GlowSetting* setting, const FrameSource& source, int32_t* radius);
// Radius of the Depth modes for one outline pixel; false when it stamps nothing.
bool depthRadius(int32_t width, double size, float depth, double k, int32_t* radius);

} // namespace orvit
