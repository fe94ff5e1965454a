#include "filter/glow_kernel.h"

#include "filter/arith.h"
#include "filter/color_ramp.h"
#include "filter/glow_fill.h"
#include "filter/stamp_tables.h"
#include "host/items.h"
#include "services/services.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define ORVIT_HAVE_SSE2 1
#endif

namespace orvit {

namespace {

// Reallocates the four layer planes when the size differs, then clears them.
// False when a plane cannot be obtained; the layer is then released.
bool prepareLayer(FilterInstance* instance, int32_t width, int32_t height) {
    auto& layer = instance->glowLayer;
    const size_t count =
        width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;
    if (layer.width != width || layer.height != height) {
        releaseGlowLayer(instance);
        layer.width = width;
        layer.height = height;
        // One byte more than needed so an empty frame still has planes.
        layer.red = static_cast<uint8_t*>(std::malloc(count + 1));
        layer.green = static_cast<uint8_t*>(std::malloc(count + 1));
        layer.blue = static_cast<uint8_t*>(std::malloc(count + 1));
        layer.strength = static_cast<uint8_t*>(std::malloc(count + 1));
    }
    if (layer.red == nullptr || layer.green == nullptr || layer.blue == nullptr ||
        layer.strength == nullptr) {
        releaseGlowLayer(instance);
        return false;
    }
    std::memset(layer.red, 0, count);
    std::memset(layer.green, 0, count);
    std::memset(layer.blue, 0, count);
    std::memset(layer.strength, 0, count);
    return true;
}

// Where a pixel's stamp radius comes from: one per call, or one per outline
// pixel from its depth and the camera.
struct RadiusSource {
    bool fromDepth = false;
    bool haveRadius = false; // per call: false means no outline glow
    int32_t radius = 0;      // per call
    bool haveCamera = false; // per pixel: false means no outline glow
    double size = 0.0;       // per pixel: the glow size S
    double k = 0.0;          // per pixel: the camera's K
};

// Camera query of the depth modes, on every run: item info, then camera
// info, then the first camera and its view values at the source's start.
void queryCamera(const FrameSource& source, RadiusSource* radius) {
    const ItemInfo* items = lookupItemInfo();
    const CameraInfo* camera = lookupCameraInfo();
    if (items == nullptr || camera == nullptr)
        return;
    ItemId first = items->firstItem(ItemCamera, nullptr);
    if (first == nullptr)
        return;
    double k = 0.0;
    double k2 = 0.0;
    camera->viewValues(first, source.start, &k, &k2);
    radius->k = k;
    radius->haveCamera = true;
}

// Classifies the pixels of one scanned row and appends its events: core
// pixels (when the rule fills the core) and the outline pixels that stamp.
// `match` is scratch of width bytes.
template <typename Emit>
void classifyRow(const uint8_t* prev, const uint8_t* cur, const uint8_t* next, int32_t width,
                 uint8_t value, const GlowRule& rule, Emit emit) {
    auto classify = [&](int32_t x) {
        const int32_t n = (prev[x - 1] == value) + (prev[x] == value) + (prev[x + 1] == value) +
                          (cur[x - 1] == value) + (cur[x + 1] == value) + (next[x - 1] == value) +
                          (next[x] == value) + (next[x + 1] == value);
        if (n == 8) {
            if (rule.fillCore)
                emit(x, true);
        } else if (n >= rule.minStampCount) {
            emit(x, false);
        }
    };
    int32_t x = 1;
#ifdef ORVIT_HAVE_SSE2
    auto lowestBit = [](int mask) {
        int bit = 0;
        while ((mask & 1) == 0) {
            mask >>= 1;
            ++bit;
        }
        return bit;
    };
    // Sixteen columns at a time; most hold no pixel of the value at all.
    const __m128i v = _mm_set1_epi8(static_cast<char>(value));
    for (; x + 16 <= width - 1; x += 16) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(c, v));
        while (mask != 0) {
            const int bit = lowestBit(mask);
            classify(x + bit);
            mask &= mask - 1;
        }
    }
#endif
    for (; x <= width - 2; ++x)
        if (cur[x] == value)
            classify(x);
}

} // namespace

int32_t runGlowKernel(FilterInstance* instance, const GlowSetting* setting, FrameSource& source,
                      const GlowRule& rule) {
    return runGlowKernel(instance, setting, source, rule, FillChoice::Fastest);
}

int32_t runGlowKernel(FilterInstance* instance, const GlowSetting* setting, FrameSource& source,
                      const GlowRule& rule, FillChoice choice) {
    const int32_t width = source.width;
    const int32_t height = source.height;

    // Prepare the layer.
    if (!prepareLayer(instance, width, height))
        return 0;
    auto& layer = instance->glowLayer;
    const size_t count =
        width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;

    // Radius source.
    RadiusSource radius;
    radius.fromDepth = rule.radiusFromDepth;
    if (rule.radiusFromDepth) {
        queryCamera(source, &radius);
        radius.size = setting->distance;
        evaluateEnvelope(setting->sizeEnvelope, source.start, &radius.size);
    } else {
        radius.haveRadius = fixedRadius(setting, source, &radius.radius);
    }

    ColorRamp ramp;
    buildColorRamp(&ramp, setting, 256);
    if (ramp.keyCount == 0) {
        freeColorRamp(&ramp);
        return 0;
    }

    // Scan: the events of the run in scan order, kept by row.
    GlowEvents events;
    bool ok = true;
    try {
        events.rowStart.assign(static_cast<size_t>(height > 0 ? height : 0) + 1, 0);
        const int32_t value = setting->value;
        const bool fixedStamps = !radius.fromDepth && radius.haveRadius && radius.radius >= 0;
        if (width >= 3 && height >= 3 && value >= 0 && value <= 255) {
            for (int32_t y = 1; y <= height - 2; ++y) {
                events.rowStart[static_cast<size_t>(y)] =
                    static_cast<int32_t>(events.column.size());
                const uint8_t* prev = source.specialLine(y - 1);
                const uint8_t* cur = source.specialLine(y);
                const uint8_t* next = source.specialLine(y + 1);
                const float* depth = nullptr;
                classifyRow(
                    prev, cur, next, width, static_cast<uint8_t>(value), rule,
                    [&](int32_t x, bool core) {
                        int32_t r = kCoreEvent;
                        if (!core) {
                            if (radius.fromDepth) {
                                if (!radius.haveCamera)
                                    return;
                                if (depth == nullptr)
                                    depth = source.depthLine(y);
                                if (!depthRadius(width, radius.size, depth[x], radius.k, &r))
                                    return;
                            } else if (fixedStamps) {
                                r = radius.radius;
                            } else {
                                return;
                            }
                            ++events.stampCount;
                        } else {
                            ++events.coreCount;
                        }
                        events.column.push_back(x);
                        events.radius.push_back(r);
                    });
            }
        }
        // Rows not scanned hold no events: the last two start at the end.
        const int32_t total = static_cast<int32_t>(events.column.size());
        for (int32_t y = height - 1 > 0 ? height - 1 : 0; y <= height; ++y)
            events.rowStart[static_cast<size_t>(y)] = total;
    } catch (const std::bad_alloc&) {
        ok = false;
    }

    // Fill the working planes: index in red, written in green.
    const FillPlanes planes{layer.strength, layer.red, layer.green, width, height};
    if (ok && (events.stampCount > 0 || events.coreCount > 0)) {
        bool filled = false;
        if (!radius.fromDepth && choice != FillChoice::Stamp && radius.radius >= 1) {
            const bool cheaper = nearestFillCost(events, radius.radius, width, height) <
                                 stampFillCost(events, radius.radius, width, height);
            if (choice == FillChoice::Nearest || cheaper) {
                StampProfile profile;
                if (buildStampProfile(&profile, radius.radius, width, height)) {
                    filled = nearestFill(planes, events, profile, ramp);
                    if (!filled) {
                        std::memset(layer.strength, 0, count);
                        std::memset(layer.red, 0, count);
                        std::memset(layer.green, 0, count);
                    }
                }
            }
        }
        if (!filled) {
            StampPatternCache patterns(width, height);
            ok = stampFill(planes, events, patterns);
        }
    }
    if (ok)
        resolveColours(layer.red, layer.green, layer.blue, count, ramp);

    freeColorRamp(&ramp);
    if (!ok) {
        prepareLayer(instance, width, height);
        return 0;
    }
    return 1;
}

GlowKernel kernelForMode(int32_t mode) {
    switch (mode) {
    case ModeFixed:
        return glowFixed;
    case ModeDepth:
        return glowDepth;
    case ModeGFixed:
        return glowGFixed;
    case ModeGDepth:
        return glowGDepth;
    default:
        return nullptr;
    }
}

} // namespace orvit
