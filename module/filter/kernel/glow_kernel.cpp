#include "module/filter/kernel/glow_kernel.h"

#include "module/abi/items.h"
#include "module/filter/arith.h"
#include "module/filter/color_ramp.h"
#include "module/filter/kernel/glow_fill.h"
#include "module/filter/kernel/stamp_tables.h"
#include "module/filter/simd.h"
#include "module/filter/working_planes.h"
#include "module/services/services.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace orvit {

namespace {

// Reallocates the four layer planes when the size differs (taking the
// spare planes when they have the new size), then clears them. Null when a
// plane cannot be obtained; the layer is then released.
GlowLayer* prepareLayer(FilterInstance* instance, int32_t width, int32_t height) {
    auto& layer = instance->glowLayer;
    const size_t count = framePixels(width, height);
    // A frame too large to address gets no layer at all.
    if (count == 0 && width > 0 && height > 0) {
        releaseGlowLayer(instance);
        return nullptr;
    }
    uint8_t** planes[4] = {&layer.red, &layer.green, &layer.blue, &layer.strength};
    if (layer.width != width || layer.height != height) {
        releaseGlowLayer(instance);
        layer.width = width;
        layer.height = height;
        // One byte more than needed so an empty frame still has planes.
        auto& spare = instance->spare;
        const bool spareFits = spare.width == width && spare.height == height;
        for (int p = 0; p < 4; ++p) {
            uint8_t* none = nullptr;
            *planes[p] = takeSparePlane(spareFits ? spare.layer[p] : none, count);
        }
    } else {
        for (uint8_t** plane : planes)
            if (*plane != nullptr)
                std::memset(*plane, 0, count);
    }
    for (uint8_t** plane : planes)
        if (*plane == nullptr) {
            releaseGlowLayer(instance);
            return nullptr;
        }
    return &layer;
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

// Counts each taken pixel's matching neighbours and calls stamp(x) for the
// pixels the rule lets stamp and core(x) for core pixels (when the rule fills
// the core), each in ascending column order.
template <typename Stamp, typename Core>
void classifyRow(const uint8_t* prev, const uint8_t* cur, const uint8_t* next, int32_t width,
                 uint8_t value, const GlowRule& rule, Stamp stamp, Core core) {
    auto classify = [&](int32_t x) {
        const int32_t n = (prev[x - 1] == value) + (prev[x] == value) + (prev[x + 1] == value) +
                          (cur[x - 1] == value) + (cur[x + 1] == value) + (next[x - 1] == value) +
                          (next[x] == value) + (next[x + 1] == value);
        if (n == 8) {
            if (rule.fillCore)
                core(x);
        } else if (n >= rule.minStampCount) {
            stamp(x);
        }
    };
    int32_t x = 1;
#ifdef ORVIT_HAVE_SSE2
    // Sixteen columns at a time: the neighbour counts as sums of byte masks.
    // Most chunks hold no pixel of the value at all.
    if (width - 2 >= 16) {
        const __m128i v = _mm_set1_epi8(static_cast<char>(value));
        const __m128i eight = _mm_set1_epi8(8);
        const __m128i below = _mm_set1_epi8(static_cast<char>(rule.minStampCount - 1));
        auto match = [&](const uint8_t* line) {
            return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(line)), v);
        };
        int32_t done = 1; // columns below this are classified
        for (;;) {
            if (x + 16 > width - 1)
                x = width - 1 - 16; // the last chunk overlaps the one before
            const __m128i taken = match(cur + x);
            const int skip = (1 << (done - x > 0 ? done - x : 0)) - 1;
            if ((_mm_movemask_epi8(taken) & ~skip) != 0) {
                __m128i n = _mm_setzero_si128();
                n = _mm_sub_epi8(n, match(prev + x - 1));
                n = _mm_sub_epi8(n, match(prev + x));
                n = _mm_sub_epi8(n, match(prev + x + 1));
                n = _mm_sub_epi8(n, match(cur + x - 1));
                n = _mm_sub_epi8(n, match(cur + x + 1));
                n = _mm_sub_epi8(n, match(next + x - 1));
                n = _mm_sub_epi8(n, match(next + x));
                n = _mm_sub_epi8(n, match(next + x + 1));
                const __m128i full = _mm_cmpeq_epi8(n, eight);
                const __m128i stamps =
                    _mm_and_si128(_mm_andnot_si128(full, taken), _mm_cmpgt_epi8(n, below));
                int stampMask = _mm_movemask_epi8(stamps) & ~skip;
                int coreMask =
                    rule.fillCore ? _mm_movemask_epi8(_mm_and_si128(full, taken)) & ~skip : 0;
                for (int bit = 0; (stampMask | coreMask) != 0;
                     ++bit, stampMask >>= 1, coreMask >>= 1) {
                    if (stampMask & 1)
                        stamp(x + bit);
                    else if (coreMask & 1)
                        core(x + bit);
                }
            }
            done = x + 16;
            if (done >= width - 1)
                return;
            x += 16;
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
    GlowLayer* prepared = prepareLayer(instance, width, height);
    if (prepared == nullptr)
        return 0;
    auto& layer = *prepared;
    const size_t count = framePixels(width, height);

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

    // Scan: the events of the run, by row.
    GlowEvents events;
    bool ok = true;
    try {
        const size_t rows = static_cast<size_t>(height > 0 ? height : 0);
        events.stampStart.assign(rows + 1, 0);
        events.coreStart.assign(rows + 1, 0);
        const int32_t value = setting->value;
        const bool fixedStamps = !radius.fromDepth && radius.haveRadius && radius.radius >= 0;
        if (width >= 3 && height >= 3 && value >= 0 && value <= 255) {
            for (int32_t y = 1; y <= height - 2; ++y) {
                events.stampStart[static_cast<size_t>(y)] =
                    static_cast<int32_t>(events.column.size());
                events.coreStart[static_cast<size_t>(y)] =
                    static_cast<int32_t>(events.coreFrom.size());
                const size_t rowCores = events.coreFrom.size();
                const uint8_t* prev = source.specialLine(y - 1);
                const uint8_t* cur = source.specialLine(y);
                const uint8_t* next = source.specialLine(y + 1);
                const size_t rowStamps = events.column.size();
                auto stamp = [&](int32_t x) {
                    if (radius.fromDepth ? radius.haveCamera : fixedStamps) {
                        events.column.push_back(x);
                        events.radius.push_back(radius.radius);
                    }
                };
                auto core = [&](int32_t x) {
                    if (events.coreFrom.size() > rowCores && events.coreTo.back() == x - 1) {
                        events.coreTo.back() = x;
                        return;
                    }
                    events.coreFrom.push_back(x);
                    events.coreTo.push_back(x);
                };
                classifyRow(prev, cur, next, width, static_cast<uint8_t>(value), rule, stamp, core);
                // Each outline pixel's radius from its depth, the row's depths
                // read together; pixels out of range stamp nothing.
                if (radius.fromDepth && events.column.size() > rowStamps) {
                    const float* depth = source.depthLine(y);
                    size_t kept = rowStamps;
                    for (size_t e = rowStamps; e < events.column.size(); ++e) {
                        const int32_t x = events.column[e];
                        int32_t r = 0;
                        if (depthRadius(width, radius.size, depth[x], radius.k, &r)) {
                            events.column[kept] = x;
                            events.radius[kept] = r;
                            ++kept;
                        }
                    }
                    events.column.resize(kept);
                    events.radius.resize(kept);
                }
            }
        }
        // Rows not scanned hold no events: the last two start at the end.
        for (int32_t y = height - 1 > 0 ? height - 1 : 0; y <= height; ++y) {
            events.stampStart[static_cast<size_t>(y)] = static_cast<int32_t>(events.column.size());
            events.coreStart[static_cast<size_t>(y)] = static_cast<int32_t>(events.coreFrom.size());
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }

    // Fill the working planes: index in red, written in green.
    const FillPlanes planes{layer.strength, layer.red, layer.green, width, height};
    const bool sameColour = oneColour(ramp);
    if (ok && !events.empty()) {
        bool filled = false;
        if (!radius.fromDepth && choice != FillChoice::Stamp && radius.radius >= 1) {
            // Beyond the depth modes' largest radius stamping is never chosen, so
            // no table grows with R squared; it remains the fallback when the
            // falloff rules the nearest fill out (R far beyond the frame).
            const bool cheaper =
                radius.radius > kMaxDepthRadius ||
                nearestFillCost(events, radius.radius, width, height) <
                    stampFillCost(events, radius.radius, width, height, sameColour);
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
            StampPatternCache patterns(width, height, !sameColour);
            ok = stampFill(planes, events, patterns, sameColour);
        }
    }
    if (ok)
        resolveColours(layer.red, layer.green, layer.blue, count, ramp, sameColour);

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
