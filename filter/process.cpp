#include "filter/process.h"

#include "filter/arith.h"
#include "filter/frame_source.h"
#include "filter/glow_kernel.h"
#include "module/globals.h"

#include <cmath>
#include <cstdlib>

namespace orvit {

namespace {

void releaseSnapshotPlanes(FilterInstance* instance) {
    auto& s = instance->snapshot;
    std::free(s.red);
    std::free(s.green);
    std::free(s.blue);
    std::free(s.special);
    std::free(s.depth);
    s.red = s.green = s.blue = s.special = nullptr;
    s.depth = nullptr;
}

bool obtainSnapshotPlanes(FilterInstance* instance) {
    auto& s = instance->snapshot;
    if (s.red != nullptr)
        return true;
    const size_t count = static_cast<size_t>(kSnapshotWidth) * kSnapshotHeight;
    s.red = static_cast<uint8_t*>(std::malloc(count));
    s.green = static_cast<uint8_t*>(std::malloc(count));
    s.blue = static_cast<uint8_t*>(std::malloc(count));
    s.special = static_cast<uint8_t*>(std::malloc(count));
    s.depth = static_cast<float*>(std::malloc(count * sizeof(float)));
    if (s.red == nullptr || s.green == nullptr || s.blue == nullptr || s.special == nullptr ||
        s.depth == nullptr) {
        releaseSnapshotPlanes(instance);
        return false;
    }
    return true;
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
            uint8_t rgb[3] = {red[x], green[x], blue[x]};
            if (accRed != nullptr) {
                const size_t i = row + static_cast<size_t>(x);
                rgb[0] = static_cast<uint8_t>(saturate255(red[x] + accRed[i]));
                rgb[1] = static_cast<uint8_t>(saturate255(green[x] + accGreen[i]));
                rgb[2] = static_cast<uint8_t>(saturate255(blue[x] + accBlue[i]));
            }
            access->putRGB(x, y, rgb);
            access->putAlpha(x, y, alpha[x]);
        }
    }
}

// acc[i] = min(255, trunc(acc[i] + glow[i] * w)) with w = strength[i] * k.
void accumulate(const FilterInstance* instance, size_t count, double k, uint8_t* accRed,
                uint8_t* accGreen, uint8_t* accBlue) {
    const auto& layer = instance->glowLayer;
    for (size_t i = 0; i < count; ++i) {
        const double w = layer.strength[i] * k;
        accRed[i] = static_cast<uint8_t>(saturate255(truncToInt(accRed[i] + layer.red[i] * w)));
        accGreen[i] =
            static_cast<uint8_t>(saturate255(truncToInt(accGreen[i] + layer.green[i] * w)));
        accBlue[i] = static_cast<uint8_t>(saturate255(truncToInt(accBlue[i] + layer.blue[i] * w)));
    }
}

} // namespace

uint32_t flags() {
    return 0x1001;
}

void takeSnapshot(FilterInstance* instance, const FrameAccess* access) {
    if (!obtainSnapshotPlanes(instance))
        return;
    auto& s = instance->snapshot;
    instance->maxDepth = 0.0f;
    instance->minDepth = kFarDepth;
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
            s.red[i] = red[x];
            s.green[i] = green[x];
            s.blue[i] = blue[x];
            s.special[i] = special[x];
            s.depth[i] = depth[x];
            if (depth[x] > instance->maxDepth && depth[x] != kFarDepth)
                instance->maxDepth = depth[x];
            if (depth[x] < instance->minDepth)
                instance->minDepth = depth[x];
        }
    }
}

void process(FilterInstance* instance, const FrameAccess* access) {
    const int32_t width = access->width;
    const int32_t height = access->height;
    // A frame without pixels has nothing to sample.
    if (width >= 1 && height >= 1)
        takeSnapshot(instance, access);
    if (instance->enabled == 0 || width < 1 || height < 1) {
        composite(access, nullptr, nullptr, nullptr);
        return;
    }

    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    auto* accRed = static_cast<uint8_t*>(std::calloc(count, 1));
    auto* accGreen = static_cast<uint8_t*>(std::calloc(count, 1));
    auto* accBlue = static_cast<uint8_t*>(std::calloc(count, 1));
    if (accRed == nullptr || accGreen == nullptr || accBlue == nullptr) {
        // No room to accumulate: the frame passes through unchanged.
        std::free(accRed);
        std::free(accGreen);
        std::free(accBlue);
        composite(access, nullptr, nullptr, nullptr);
        return;
    }

    HostFrameSource source(access);
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
