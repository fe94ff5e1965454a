#include "orvit/passes/pass_reading.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace orvit::passes {
namespace {

using core::inQuotes;

// An integer channel's samples scaled to 0..1 (floating ones as they are),
// clamped and rounded to bytes; 8-bit ones as they are.
std::vector<uint8_t> unitBytes(const OpenPass& pass, int c, const images::Plane& plane) {
    if (!plane.bytes.empty())
        return plane.bytes;
    const float scale = static_cast<float>(1.0 / images::unitScale(pass.channelType(c)));
    std::vector<uint8_t> out(plane.floats.size());
    for (size_t p = 0; p < out.size(); ++p)
        out[p] = images::unitToByte(scale == 1.0f ? plane.floats[p] : plane.floats[p] * scale);
    return out;
}

// Samples `first` to `first + count` of a channel as floats of 0..1 for
// integer types (floating ones as they are) into every `stride`-th element of
// `to`.
void unitFloats(const OpenPass& pass, int c, const images::Plane& plane, size_t first, size_t count,
                float* to, size_t stride) {
    const float scale = static_cast<float>(1.0 / images::unitScale(pass.channelType(c)));
    if (plane.bytes.empty())
        for (size_t p = 0; p < count; ++p)
            to[p * stride] = plane.floats[first + p] * scale;
    else
        for (size_t p = 0; p < count; ++p)
            to[p * stride] = plane.bytes[first + p] * (1.0f / 255.0f);
}

// Rows of float colour made into bytes at a time: the transform's
// interleaved copy stays a band, not a second frame beside the planes read.
constexpr size_t kColourBandRows = 64;

// `value` over the pixels of `window` in a plane `width` pixels wide.
void fillWindow(std::vector<uint8_t>& plane, int32_t width, const images::PixelWindow& window,
                uint8_t value) {
    for (int32_t y = window.y0; y < window.y1; ++y)
        std::fill_n(plane.data() + size_t(y) * width + window.x0, window.x1 - window.x0, value);
}

// Integer colour is display-referred already and only scaled to bytes;
// floating colour is linear light, premultiplied by its alpha, and goes
// through `transform`.
ColourPlanes colourPlanes(const OpenPass& pass, const ColourChoice& choice,
                          const std::array<const images::Plane*, 4>& planes,
                          const images::ColourTransform& transform) {
    ColourPlanes out;
    out.width = pass.input->width();
    out.height = pass.input->height();
    const size_t n = pass.input->pixelCount();
    bool floating = false;
    for (int i = 0; i < 3; ++i)
        floating = floating || images::isFloating(pass.channelType(choice.channels[i]));
    std::vector<uint8_t>* const targets[3] = {&out.red, &out.green, &out.blue};
    if (floating) {
        out.colourSpace = transform.colourSpace();
        for (std::vector<uint8_t>* target : targets)
            target->resize(n);
        const bool withAlpha = choice.channels[3] >= 0;
        const size_t band = kColourBandRows * std::max<size_t>(size_t(out.width), 1);
        std::vector<float> rgb, alpha;
        for (size_t first = 0; first < n; first += band) {
            const size_t count = std::min(band, n - first);
            rgb.resize(count * 3);
            for (int i = 0; i < 3; ++i)
                unitFloats(pass, choice.channels[i], *planes[i], first, count, rgb.data() + i, 3);
            if (withAlpha) {
                alpha.resize(count);
                unitFloats(pass, choice.channels[3], *planes[3], first, count, alpha.data(), 1);
            }
            transform.toBytes(rgb, withAlpha ? alpha.data() : nullptr, out.red.data() + first,
                              out.green.data() + first, out.blue.data() + first);
        }
    } else {
        out.colourSpace = images::kEightBitColourSpace;
        for (int i = 0; i < 3; ++i)
            *targets[i] = unitBytes(pass, choice.channels[i], *planes[i]);
    }
    if (choice.channels[3] >= 0) {
        out.alpha = unitBytes(pass, choice.channels[3], *planes[3]);
    } else {
        // Without alpha the stored pixels are opaque and the rest empty.
        out.alpha.assign(n, 0);
        fillWindow(out.alpha, out.width, pass.input->covered(choice.channels[0]), uint8_t{255});
    }
    return out;
}

} // namespace

SpecialPlane specialPlane(const OpenPass& pass, const SpecialChoice& choice,
                          const images::Plane& plane,
                          const std::vector<scene::SurfaceEntry>& surfaces) {
    const int c = choice.channel;
    SpecialPlane out;
    out.width = pass.input->width();
    out.height = pass.input->height();
    if (!choice.layer.empty()) {
        out.cryptomatte = choice.layer;
        out.values = rankZeroValues(plane.floats, surfaces, &out.surfaceIdsHeld);
        return out;
    }
    if (!plane.bytes.empty()) {
        out.values = plane.bytes;
        return out;
    }
    // Every other type arrives as a float of the stored value, exactly
    // enough to tell 0..255 from the rest.
    out.values.assign(plane.floats.size(), 0);
    for (size_t i = 0; i < plane.floats.size(); ++i) {
        const double value = plane.floats[i];
        const double rounded = std::round(value);
        if (!(rounded >= 0.0 && rounded <= 255.0)) {
            std::ostringstream line;
            line << "channel " << core::inQuotes(pass.channelName(c), '\'') << " holds " << value
                 << " at pixel (" << i % out.width << ", " << i / out.width
                 << "), outside the special values 0..255";
            pass.fail(line.str());
        }
        out.values[i] = static_cast<uint8_t>(rounded);
    }
    return out;
}

DepthPlane depthPlane(const OpenPass& pass, int c, images::Plane& plane, double farFrom) {
    DepthPlane out;
    out.width = pass.input->width();
    out.height = pass.input->height();
    out.depths = std::move(plane.floats);
    // Where the file stores no depth nothing is near.
    const images::PixelWindow in = pass.input->covered(c);
    for (int32_t y = 0; y < out.height; ++y)
        for (int32_t x = 0; x < out.width; ++x) {
            float& d = out.depths[size_t(y) * size_t(out.width) + size_t(x)];
            const bool stored = x >= in.x0 && x < in.x1 && y >= in.y0 && y < in.y1;
            if (!stored || !(static_cast<double>(d) < farFrom))
                d = kHostFarDepth;
        }
    return out;
}

void wantColour(FileRead& read, const OpenPass& pass, const ColourChoice& choice) {
    for (int c : choice.channels)
        if (c >= 0)
            read.want(pass, c);
}

ColourPlanes colourFrom(FileRead& read, const OpenPass& pass, const ColourChoice& choice,
                        const images::ColourTransform& transform) {
    std::array<const images::Plane*, 4> planes{};
    for (int i = 0; i < 4; ++i)
        if (choice.channels[i] >= 0)
            planes[i] = &read.plane(pass, choice.channels[i]);
    return colourPlanes(pass, choice, planes, transform);
}

} // namespace orvit::passes
