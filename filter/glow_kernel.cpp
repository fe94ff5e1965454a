#include "filter/glow_kernel.h"

#include "filter/arith.h"
#include "filter/color_ramp.h"
#include "filter/stamp_tables.h"
#include "host/items.h"
#include "services/services.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

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

struct Layer {
    uint8_t* red;
    uint8_t* green;
    uint8_t* blue;
    uint8_t* strength;
};

// Spreads the glow of the outline pixel (x, y) over the clipped square of
// radius R. A target takes the stamp when its strength is at most the falloff
// at its distance, so on equal strength the later stamp wins.
void stamp(const Layer& layer, const ColorRamp& ramp, const StampTables& tables, int32_t x,
           int32_t y, int32_t width, int32_t height) {
    const int64_t r = tables.radius;
    const int32_t x0 = static_cast<int32_t>(x - r < 0 ? 0 : x - r);
    const int32_t x1 = static_cast<int32_t>(x + r > width - 1 ? width - 1 : x + r);
    const int32_t y0 = static_cast<int32_t>(y - r < 0 ? 0 : y - r);
    const int32_t y1 = static_cast<int32_t>(y + r > height - 1 ? height - 1 : y + r);
    for (int32_t ty = y0; ty <= y1; ++ty) {
        const int32_t* distanceRow = tables.distanceRow(ty > y ? ty - y : y - ty);
        const size_t rowStart = static_cast<size_t>(ty) * static_cast<size_t>(width);
        for (int32_t tx = x0; tx <= x1; ++tx) {
            const int32_t d = distanceRow[tx > x ? tx - x : x - tx];
            const uint8_t f = tables.falloff[d];
            const size_t p = rowStart + static_cast<size_t>(tx);
            if (layer.strength[p] <= f) {
                layer.strength[p] = f;
                const int32_t c = tables.rampIndex[d];
                layer.red[p] = ramp.red[c];
                layer.green[p] = ramp.green[c];
                layer.blue[p] = ramp.blue[c];
            }
        }
    }
}

} // namespace

int32_t runGlowKernel(FilterInstance* instance, const GlowSetting* setting, FrameSource& source,
                      const GlowRule& rule) {
    const int32_t width = source.width;
    const int32_t height = source.height;

    // Prepare the layer.
    if (!prepareLayer(instance, width, height))
        return 0;
    const Layer layer{instance->glowLayer.red, instance->glowLayer.green, instance->glowLayer.blue,
                      instance->glowLayer.strength};

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

    // Build the tables: one set per call, or one per radius met, at most once per run.
    StampTableCache tables(width, height);
    const StampTables* fixedTables = nullptr;
    if (!radius.fromDepth && radius.haveRadius && radius.radius >= 0) {
        fixedTables = tables.forRadius(radius.radius);
        if (fixedTables == nullptr) {
            freeColorRamp(&ramp);
            prepareLayer(instance, width, height);
            return 0;
        }
    }

    // Scan.
    const int32_t value = setting->value;
    bool failed = false;
    if (width >= 3 && height >= 3) {
        for (int32_t y = 1; y <= height - 2 && !failed; ++y) {
            const uint8_t* prev = source.specialLine(y - 1);
            const uint8_t* cur = source.specialLine(y);
            const uint8_t* next = source.specialLine(y + 1);
            const float* depth = nullptr;
            for (int32_t x = 1; x <= width - 2; ++x) {
                if (cur[x] != value)
                    continue;
                const int32_t n = (prev[x - 1] == value) + (prev[x] == value) +
                                  (prev[x + 1] == value) + (cur[x - 1] == value) +
                                  (cur[x + 1] == value) + (next[x - 1] == value) +
                                  (next[x] == value) + (next[x + 1] == value);
                if (n == 8) {
                    if (rule.fillCore) {
                        const size_t p = static_cast<size_t>(y) * static_cast<size_t>(width) +
                                         static_cast<size_t>(x);
                        layer.strength[p] = 255;
                        layer.red[p] = ramp.red[0];
                        layer.green[p] = ramp.green[0];
                        layer.blue[p] = ramp.blue[0];
                    }
                    continue;
                }
                if (n < rule.minStampCount)
                    continue;

                // Stamp.
                const StampTables* pixelTables = fixedTables;
                if (radius.fromDepth) {
                    if (!radius.haveCamera)
                        continue;
                    if (depth == nullptr)
                        depth = source.depthLine(y);
                    int32_t r = 0;
                    if (!depthRadius(width, radius.size, depth[x], radius.k, &r))
                        continue;
                    pixelTables = tables.forRadius(r);
                    if (pixelTables == nullptr) {
                        failed = true;
                        break;
                    }
                }
                if (pixelTables != nullptr)
                    stamp(layer, ramp, *pixelTables, x, y, width, height);
            }
        }
    }

    freeColorRamp(&ramp);
    if (failed) {
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
