#include "filter/process.h"

#include "filter/arith.h"
#include "filter/frame_source.h"
#include "filter/glow_kernel.h"
#include "services/services.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

namespace orvit {

namespace {

using GlowLayer = decltype(FilterInstance::glowLayer);

// A host without one of the colour buffers gets 0 for it.
uint8_t byteAt(const uint8_t* line, int32_t x) {
    return line != nullptr ? line[x] : 0;
}

// acc = min(255, trunc(acc + glow * w)) with w = strength * k, for one
// setting's transparency factor k. Into an empty accumulator the sum is
// glow * w itself, whose saturated truncation is kept in a table of every
// (strength, glow) pair, built with the same products; without room for the
// table every pixel takes the full formula.
class Weighting {
  public:
    explicit Weighting(double k) : fromEmpty_(static_cast<uint8_t*>(std::malloc(256 * 256))) {
        for (int32_t s = 0; s < 256; ++s)
            weight_[s] = s * k;
        if (fromEmpty_ != nullptr)
            for (int32_t s = 0; s < 256; ++s)
                for (int32_t g = 0; g < 256; ++g)
                    fromEmpty_[s * 256 + g] =
                        static_cast<uint8_t>(saturate255(truncToInt(0 + g * weight_[s])));
    }
    ~Weighting() { std::free(fromEmpty_); }
    Weighting(const Weighting&) = delete;
    Weighting& operator=(const Weighting&) = delete;

    // Strength 0 adds exactly nothing.
    uint8_t add(uint8_t acc, uint8_t glow, uint8_t strength) const {
        if (strength == 0)
            return acc;
        if (acc == 0 && fromEmpty_ != nullptr)
            return fromEmpty_[static_cast<size_t>(strength) * 256 + glow];
        return static_cast<uint8_t>(saturate255(truncToInt(acc + glow * weight_[strength])));
    }

  private:
    double weight_[256];
    uint8_t* fromEmpty_;
};

void accumulate(const GlowLayer& layer, size_t count, const Weighting& weighting, uint8_t* accRed,
                uint8_t* accGreen, uint8_t* accBlue) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t s = layer.strength[i];
        if (s == 0)
            continue;
        accRed[i] = weighting.add(accRed[i], layer.red[i], s);
        accGreen[i] = weighting.add(accGreen[i], layer.green[i], s);
        accBlue[i] = weighting.add(accBlue[i], layer.blue[i], s);
    }
}

// The glow a frame receives: the accumulated settings (planes absent when
// none were accumulated) and the last setting's layer, added on the way out
// rather than through one more pass over the accumulators.
struct Glow {
    const uint8_t* red = nullptr;
    const uint8_t* green = nullptr;
    const uint8_t* blue = nullptr;
    const GlowLayer* last = nullptr;
    const Weighting* lastWeighting = nullptr;
};

// Writes every pixel's colour, plus the glow with saturation, and its alpha;
// one loop for each kind of glow, so a frame that passes through pays for
// nothing but its reads and writes.
template <bool kAccumulated, bool kLast>
void compositeRows(const FrameAccess* access, const Glow& glow) {
    const int32_t width = access->width;
    for (int32_t y = 0; y < access->height; ++y) {
        const uint8_t* red = access->byteLine(BufferRed, y);
        const uint8_t* green = access->byteLine(BufferGreen, y);
        const uint8_t* blue = access->byteLine(BufferBlue, y);
        const uint8_t* alpha = access->byteLine(BufferAlpha, y);
        const size_t row = static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int32_t x = 0; x < width; ++x) {
            uint8_t rgb[3] = {byteAt(red, x), byteAt(green, x), byteAt(blue, x)};
            if (kAccumulated || kLast) {
                const size_t i = row + static_cast<size_t>(x);
                uint8_t add[3] = {0, 0, 0};
                if (kAccumulated) {
                    add[0] = glow.red[i];
                    add[1] = glow.green[i];
                    add[2] = glow.blue[i];
                }
                if (kLast) {
                    const uint8_t s = glow.last->strength[i];
                    add[0] = glow.lastWeighting->add(add[0], glow.last->red[i], s);
                    add[1] = glow.lastWeighting->add(add[1], glow.last->green[i], s);
                    add[2] = glow.lastWeighting->add(add[2], glow.last->blue[i], s);
                }
                for (int c = 0; c < 3; ++c)
                    rgb[c] = static_cast<uint8_t>(saturate255(rgb[c] + add[c]));
            }
            access->putRGB(x, y, rgb);
            access->putAlpha(x, y, byteAt(alpha, x));
        }
    }
}

void composite(const FrameAccess* access, const Glow& glow) {
    const bool accumulated = glow.red != nullptr;
    const bool last = glow.last != nullptr;
    if (accumulated && last)
        compositeRows<true, true>(access, glow);
    else if (accumulated)
        compositeRows<true, false>(access, glow);
    else if (last)
        compositeRows<false, true>(access, glow);
    else
        compositeRows<false, false>(access, glow);
}

// The transparency factor k of a setting at the frame time.
double transparencyFactor(const GlowSetting* setting, double time) {
    double t = setting->transparency;
    evaluateEnvelope(setting->transparencyEnvelope, time, &t);
    if (t < 0.0 || std::isnan(t))
        t = 0.0;
    else if (t > 100.0)
        t = 100.0;
    return (100.0 - t) * (1.0 / 25500);
}

// A setting that runs a kernel: enabled, with a mode that has one.
bool runsKernel(const GlowSetting* setting) {
    return setting->enabled != 0 && kernelForMode(setting->mode) != nullptr;
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
    HostFrameSource source(access);
    if (instance->enabled == 0 || count == 0 || !source.ready()) {
        composite(access, Glow{});
        return;
    }

    int32_t last = -1;
    for (int32_t s = 0; s < instance->settingCount; ++s)
        if (runsKernel(instance->settings[s]))
            last = s;
    uint8_t* acc[3] = {nullptr, nullptr, nullptr};
    auto freeAccumulators = [&] {
        for (uint8_t*& plane : acc) {
            std::free(plane);
            plane = nullptr;
        }
    };
    Glow glow;
    std::unique_ptr<Weighting> lastWeighting;
    for (int32_t s = 0; s <= last; ++s) {
        const GlowSetting* setting = instance->settings[s];
        if (!runsKernel(setting))
            continue;
        kernelForMode(setting->mode)(instance, setting, source);
        if (instance->glowLayer.strength == nullptr)
            continue;
        const double k = transparencyFactor(setting, access->start);
        if (s == last) {
            lastWeighting.reset(new (std::nothrow) Weighting(k));
            if (lastWeighting) {
                glow.last = &instance->glowLayer;
                glow.lastWeighting = lastWeighting.get();
                break;
            }
        }
        if (acc[0] == nullptr)
            for (uint8_t*& plane : acc)
                plane = static_cast<uint8_t*>(std::calloc(count, 1));
        if (acc[0] == nullptr || acc[1] == nullptr || acc[2] == nullptr) {
            // No room to accumulate: the frame passes through unchanged.
            freeAccumulators();
            composite(access, Glow{});
            releaseGlowLayer(instance);
            return;
        }
        accumulate(instance->glowLayer, count, Weighting(k), acc[0], acc[1], acc[2]);
    }
    glow.red = acc[0];
    glow.green = acc[1];
    glow.blue = acc[2];
    composite(access, glow);
    freeAccumulators();
    releaseGlowLayer(instance);
}

} // namespace orvit
