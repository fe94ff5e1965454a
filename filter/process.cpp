#include "filter/process.h"

#include "filter/arith.h"
#include "filter/frame_source.h"
#include "filter/glow_kernel.h"
#include "services/services.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace orvit {

namespace {

// A host without one of the colour buffers gets 0 for it.
uint8_t byteAt(const uint8_t* line, int32_t x) {
    return line != nullptr ? line[x] : 0;
}

// Writes every pixel's colour and alpha; `acc` planes are added with
// saturation when present.
void composite(const FrameAccess* access, const uint8_t* accRed, const uint8_t* accGreen,
               const uint8_t* accBlue) {
    const int32_t width = access->width;
    for (int32_t y = 0; y < access->height; ++y) {
        const uint8_t* red = access->byteLine(BufferRed, y);
        const uint8_t* green = access->byteLine(BufferGreen, y);
        const uint8_t* blue = access->byteLine(BufferBlue, y);
        const uint8_t* alpha = access->byteLine(BufferAlpha, y);
        const size_t row = static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int32_t x = 0; x < width; ++x) {
            uint8_t rgb[3] = {byteAt(red, x), byteAt(green, x), byteAt(blue, x)};
            if (accRed != nullptr) {
                const size_t i = row + static_cast<size_t>(x);
                rgb[0] = static_cast<uint8_t>(saturate255(rgb[0] + accRed[i]));
                rgb[1] = static_cast<uint8_t>(saturate255(rgb[1] + accGreen[i]));
                rgb[2] = static_cast<uint8_t>(saturate255(rgb[2] + accBlue[i]));
            }
            access->putRGB(x, y, rgb);
            access->putAlpha(x, y, byteAt(alpha, x));
        }
    }
}

// acc[i] = min(255, trunc(acc[i] + glow[i] * w)) with w = strength[i] * k.
// Strength 0 adds exactly nothing, so those pixels are skipped; into an empty
// accumulator the sum is glow * w itself, whose saturated truncation is kept
// in a table of every (strength, glow) pair, built with the same products.
void accumulate(const FilterInstance* instance, size_t count, double k, uint8_t* accRed,
                uint8_t* accGreen, uint8_t* accBlue) {
    const auto& layer = instance->glowLayer;
    double weight[256];
    for (int32_t s = 0; s < 256; ++s)
        weight[s] = s * k;
    // Without room for the table every pixel takes the full formula.
    auto* fromEmpty = static_cast<uint8_t*>(std::malloc(256 * 256));
    if (fromEmpty != nullptr)
        for (int32_t s = 0; s < 256; ++s)
            for (int32_t g = 0; g < 256; ++g)
                fromEmpty[s * 256 + g] =
                    static_cast<uint8_t>(saturate255(truncToInt(0 + g * weight[s])));
    auto add = [&](uint8_t* acc, const uint8_t* glow, size_t i, uint8_t s) {
        const uint8_t a = acc[i];
        acc[i] = a == 0 && fromEmpty != nullptr
                     ? fromEmpty[static_cast<size_t>(s) * 256 + glow[i]]
                     : static_cast<uint8_t>(saturate255(truncToInt(a + glow[i] * weight[s])));
    };
    for (size_t i = 0; i < count; ++i) {
        const uint8_t s = layer.strength[i];
        if (s == 0)
            continue;
        add(accRed, layer.red, i, s);
        add(accGreen, layer.green, i, s);
        add(accBlue, layer.blue, i, s);
    }
    std::free(fromEmpty);
}

} // namespace

uint32_t flags() {
    return 0x1001;
}

void takeSnapshot(FilterInstance* instance, const FrameAccess* access) {
    if (!obtainSnapshot(instance))
        return;
    auto& s = instance->snapshot;
    instance->maxDepth = 0.0f;
    instance->minDepth = kHostFarDepth;
    const double rowStep = access->height * (1.0 / 192);
    const double columnStep = access->width * (1.0 / 256);
    for (int32_t r = 0; r < kSnapshotHeight; ++r) {
        const int32_t y = truncToInt(rowStep * r);
        const uint8_t* special = access->byteLine(BufferSpecial, y);
        const uint8_t* red = access->byteLine(BufferRed, y);
        const uint8_t* green = access->byteLine(BufferGreen, y);
        const uint8_t* blue = access->byteLine(BufferBlue, y);
        const float* depth = access->floatLine(BufferDepth, y);
        for (int32_t c = 0; c < kSnapshotWidth; ++c) {
            const int32_t x = truncToInt(columnStep * c);
            const size_t i = static_cast<size_t>(r) * kSnapshotWidth + static_cast<size_t>(c);
            // A buffer the host lacks reads as 0, and as far depth.
            const float d = depth != nullptr ? depth[x] : kHostFarDepth;
            s.red[i] = byteAt(red, x);
            s.green[i] = byteAt(green, x);
            s.blue[i] = byteAt(blue, x);
            s.special[i] = byteAt(special, x);
            s.depth[i] = d;
            if (d > instance->maxDepth && d != kHostFarDepth)
                instance->maxDepth = d;
            if (d < instance->minDepth)
                instance->minDepth = d;
        }
    }
}

void process(FilterInstance* instance, const FrameAccess* access) {
    // A frame without pixels has nothing to sample.
    if (access->width >= 1 && access->height >= 1)
        takeSnapshot(instance, access);
    // Without pixels, or too large to filter, the frame passes through.
    const size_t count = framePixels(access->width, access->height);
    if (instance->enabled == 0 || count == 0) {
        composite(access, nullptr, nullptr, nullptr);
        return;
    }

    auto* accRed = static_cast<uint8_t*>(std::calloc(count, 1));
    auto* accGreen = static_cast<uint8_t*>(std::calloc(count, 1));
    auto* accBlue = static_cast<uint8_t*>(std::calloc(count, 1));
    HostFrameSource source(access);
    if (accRed == nullptr || accGreen == nullptr || accBlue == nullptr || !source.ready()) {
        // No room to accumulate: the frame passes through unchanged.
        std::free(accRed);
        std::free(accGreen);
        std::free(accBlue);
        composite(access, nullptr, nullptr, nullptr);
        return;
    }

    for (int32_t s = 0; s < instance->settingCount; ++s) {
        const GlowSetting* setting = instance->settings[s];
        if (setting->enabled == 0)
            continue;
        // A mode without a kernel contributes nothing.
        GlowKernel kernel = kernelForMode(setting->mode);
        if (kernel == nullptr)
            continue;
        kernel(instance, setting, source);
        if (instance->glowLayer.strength == nullptr)
            continue;

        double t = setting->transparency;
        evaluateEnvelope(setting->transparencyEnvelope, access->start, &t);
        if (t < 0.0 || std::isnan(t))
            t = 0.0;
        else if (t > 100.0)
            t = 100.0;
        const double k = (100.0 - t) * (1.0 / 25500);
        accumulate(instance, count, k, accRed, accGreen, accBlue);
    }

    composite(access, accRed, accGreen, accBlue);
    std::free(accRed);
    std::free(accGreen);
    std::free(accBlue);
    releaseGlowLayer(instance);
}

} // namespace orvit
