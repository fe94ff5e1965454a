// Random glow runs for the differential test and the fuzz target: a frame of
// shapes (blocks, discs, thin lines, scattered pixels, shapes cut by the
// border), depths (constant, smooth ramps, noise, degenerate values), a
// setting of any mode with one to five colour keys (often close together, so
// falloff plateaus meet changing colours) and radii from 0 to far beyond the
// frame. Each run goes through the kernel with every fill and through the
// literal reference, and all four planes are compared.
#pragma once

#include "module/filter/kernel/glow_kernel.h"
#include "tests/module/filter/reference_kernel.h"
#include "tests/support/fakes/fake_camera.h"
#include "tests/support/fakes/fake_envelopes.h"
#include "tests/support/fakes/plane_source.h"

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace glowcases {

struct Case {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> special;
    std::vector<float> depth;
    int32_t value = 1;
    int32_t mode = 0;
    double distance = 0.0; // static size
    bool envelope = false; // size from an envelope instead
    double envelopeValue = 0.0;
    double cameraK = 1.0;
    int32_t keyEnabled[5] = {1, 0, 0, 0, 0};
    int32_t keyRed[5] = {}, keyGreen[5] = {}, keyBlue[5] = {}, keyPosition[5] = {};
};

// `next(n)` gives a number in [0, n) (n >= 1).
template <typename Next> Case makeCase(Next&& next) {
    Case c;
    const int32_t sizeKind = static_cast<int32_t>(next(10));
    c.width = sizeKind == 0 ? 1 + static_cast<int32_t>(next(4))
                            : 3 + static_cast<int32_t>(next(sizeKind < 8 ? 48 : 120));
    c.height = sizeKind == 1 ? 1 + static_cast<int32_t>(next(4))
                             : 3 + static_cast<int32_t>(next(sizeKind < 8 ? 40 : 90));
    const int32_t W = c.width, H = c.height;
    const size_t n = static_cast<size_t>(W) * H;
    c.value = 1 + static_cast<int32_t>(next(2));
    c.special.assign(n, 0);
    c.depth.assign(n, 1.0f);
    auto put = [&](int32_t x, int32_t y, uint8_t v) {
        if (x >= 0 && y >= 0 && x < W && y < H)
            c.special[static_cast<size_t>(y) * W + x] = v;
    };
    const int32_t shapes = static_cast<int32_t>(next(7));
    for (int32_t s = 0; s < shapes; ++s) {
        const uint8_t v = static_cast<uint8_t>(next(4) == 0 ? 3 : c.value);
        const int32_t kind = static_cast<int32_t>(next(6));
        const int32_t x0 = static_cast<int32_t>(next(static_cast<uint32_t>(W + 4))) - 2;
        const int32_t y0 = static_cast<int32_t>(next(static_cast<uint32_t>(H + 4))) - 2;
        const int32_t a = 1 + static_cast<int32_t>(next(static_cast<uint32_t>(W)));
        const int32_t b = 1 + static_cast<int32_t>(next(static_cast<uint32_t>(H)));
        if (kind == 0 || kind == 1) { // block, possibly cut by the border
            for (int32_t y = y0; y < y0 + b; ++y)
                for (int32_t x = x0; x < x0 + a; ++x)
                    put(x, y, v);
        } else if (kind == 2) { // disc
            const int32_t r = 1 + static_cast<int32_t>(next(12));
            for (int32_t y = y0 - r; y <= y0 + r; ++y)
                for (int32_t x = x0 - r; x <= x0 + r; ++x)
                    if ((x - x0) * (x - x0) + (y - y0) * (y - y0) <= r * r)
                        put(x, y, v);
        } else if (kind == 3) { // thin line, straight or diagonal, one or two wide
            const int32_t dx = static_cast<int32_t>(next(3)) - 1;
            const int32_t dy = dx == 0 ? 1 : static_cast<int32_t>(next(3)) - 1;
            const int32_t thick = 1 + static_cast<int32_t>(next(2));
            for (int32_t i = 0; i < a + b; ++i)
                for (int32_t t = 0; t < thick; ++t)
                    put(x0 + i * dx + (dy == 0 ? 0 : t), y0 + i * dy + (dy == 0 ? t : 0), v);
        } else if (kind == 4) { // scattered pixels
            const int32_t count = static_cast<int32_t>(next(static_cast<uint32_t>(n / 2 + 1)));
            for (int32_t i = 0; i < count; ++i)
                put(static_cast<int32_t>(next(static_cast<uint32_t>(W))),
                    static_cast<int32_t>(next(static_cast<uint32_t>(H))), v);
        } else { // a hole punched into whatever is there
            for (int32_t y = y0; y < y0 + b / 2 + 1; ++y)
                for (int32_t x = x0; x < x0 + a / 2 + 1; ++x)
                    put(x, y, 0);
        }
    }
    const int32_t depthKind = static_cast<int32_t>(next(5));
    const float base = 0.5f + static_cast<float>(next(200)) * 0.05f;
    const float slopeX = (static_cast<float>(next(41)) - 20.0f) * 0.01f;
    const float slopeY = (static_cast<float>(next(41)) - 20.0f) * 0.01f;
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            float d = base;
            if (depthKind == 1)
                d = base + slopeX * x + slopeY * y;
            else if (depthKind == 2)
                d = 0.3f + static_cast<float>(next(1000)) * 0.01f;
            else if (depthKind == 3) {
                const float odd[] = {0.0f, -1.0f, 1.3e12f, NAN, INFINITY, 1e-30f, 2.0f};
                d = odd[next(7)];
            }
            c.depth[static_cast<size_t>(y) * W + x] = d;
        }
    c.mode = static_cast<int32_t>(next(4));
    c.cameraK = 0.2 + static_cast<double>(next(30)) * 0.1;
    // Radius R for the fixed modes: trunc(W * distance).
    const int32_t radiusKind = static_cast<int32_t>(next(10));
    int32_t R = 0;
    if (radiusKind == 0)
        R = static_cast<int32_t>(next(3)); // 0, 1, 2
    else if (radiusKind < 6)
        R = 3 + static_cast<int32_t>(next(20));
    else if (radiusKind < 8)
        R = 20 + static_cast<int32_t>(next(static_cast<uint32_t>(2 * (W + H))));
    else if (radiusKind == 8)
        R = 1000 + static_cast<int32_t>(next(100000));
    else
        R = -static_cast<int32_t>(next(5));
    c.distance = (R + 0.5) / W;
    if (c.mode == 1 || c.mode == 3)
        c.distance = 0.05 + static_cast<double>(next(60)) * 0.05;
    c.envelope = next(8) == 0;
    c.envelopeValue = next(3) == 0 ? -1.0 : c.distance;
    const int32_t keys = 1 + static_cast<int32_t>(next(5));
    const int32_t basePosition = static_cast<int32_t>(next(101));
    for (int32_t k = 0; k < 5; ++k) {
        c.keyEnabled[k] = k < keys ? 1 : 0;
        c.keyRed[k] = static_cast<int32_t>(next(256));
        c.keyGreen[k] = static_cast<int32_t>(next(256));
        c.keyBlue[k] = static_cast<int32_t>(next(256));
        // Close positions make short blends inside one falloff plateau.
        c.keyPosition[k] = next(2) == 0
                               ? static_cast<int32_t>(next(101))
                               : std::min(100, basePosition + static_cast<int32_t>(next(4)));
    }
    if (next(6) == 0)
        c.keyEnabled[0] = c.keyEnabled[1] = c.keyEnabled[2] = c.keyEnabled[3] = c.keyEnabled[4] = 0;
    return c;
}

inline std::string describe(const Case& c) {
    std::ostringstream out;
    out << "W " << c.width << " H " << c.height << " mode " << c.mode << " value " << c.value
        << " distance " << c.distance << " envelope " << c.envelope << " (" << c.envelopeValue
        << ") k " << c.cameraK << " keys";
    for (int k = 0; k < 5; ++k)
        if (c.keyEnabled[k])
            out << " (" << c.keyRed[k] << "," << c.keyGreen[k] << "," << c.keyBlue[k] << " @"
                << c.keyPosition[k] << ")";
    return out.str();
}

// The setting a case describes, its size envelope (if any) made by `envelopes`.
inline void fillSetting(orvit::GlowSetting* s, const Case& c, fakes::FakeEnvelopes& envelopes) {
    orvit::initSetting(s, nullptr, c.value);
    s->mode = c.mode;
    s->distance = c.distance;
    for (int k = 0; k < 5; ++k) {
        s->keyEnabled[k] = c.keyEnabled[k];
        s->keyRed[k] = c.keyRed[k];
        s->keyGreen[k] = c.keyGreen[k];
        s->keyBlue[k] = c.keyBlue[k];
        s->keyPosition[k] = c.keyPosition[k];
    }
    if (c.envelope)
        s->sizeEnvelope = envelopes.make(c.envelopeValue);
}

// The literal layer of setting `s` (made from case `c`) over the frame of case
// `frame`, with the camera value of `frame`; *radius gets the Fixed modes' R
// (-1 where there is none).
inline reference::Layer referenceLayer(const Case& frame, const Case& c,
                                       const orvit::GlowSetting& s, int32_t* radius) {
    using namespace orvit;
    fakes::PlaneSource source(frame.width, frame.height);
    const bool depthMode = s.mode == ModeDepth || s.mode == ModeGDepth;
    *radius = -1;
    if (!depthMode && !fixedRadius(&s, source, radius))
        *radius = -1;
    const double size = c.envelope ? c.envelopeValue : c.distance;
    return reference::glow(frame.special, frame.depth, frame.width, frame.height, s, *radius, size,
                           frame.cameraK);
}

// Empty when the kernel, with every fill, matches the reference; otherwise the
// first difference: fill, plane, x, y and both values.
inline std::string compareCase(const Case& c) {
    using namespace orvit;
    fakes::FakeCamera camera(c.cameraK);
    fakes::FakeEnvelopes envelopes;
    GlowSetting s;
    fillSetting(&s, c, envelopes);
    fakes::PlaneSource source(c.width, c.height);
    source.special = c.special;
    source.depth = c.depth;
    int32_t R = -1;
    const reference::Layer ref = referenceLayer(c, c, s, &R);

    const GlowRule rules[] = {kFixedRule, kDepthRule, kGFixedRule, kGDepthRule};
    const FillChoice choices[] = {FillChoice::Fastest, FillChoice::Stamp, FillChoice::Nearest};
    const char* choiceNames[] = {"fastest", "stamp", "nearest"};
    std::string failure;
    FilterInstance* instance = createInstance();
    for (int f = 0; f < 3; ++f) {
        const size_t before = failure.size();
        runGlowKernel(instance, &s, source, rules[c.mode], choices[f]);
        const auto& layer = instance->glowLayer;
        if (layer.width != c.width || layer.height != c.height || layer.strength == nullptr) {
            failure = std::string(choiceNames[f]) + ": layer size";
            break;
        }
        const uint8_t* planes[4] = {layer.strength, layer.red, layer.green, layer.blue};
        const std::vector<uint8_t>* expected[4] = {&ref.strength, &ref.red, &ref.green, &ref.blue};
        const char* names[4] = {"strength", "red", "green", "blue"};
        for (size_t i = 0; i < ref.strength.size() && failure.size() == before; ++i)
            for (int p = 0; p < 4; ++p)
                if (planes[p][i] != (*expected[p])[i]) {
                    std::ostringstream out;
                    out << choiceNames[f] << ": " << names[p] << " at "
                        << static_cast<int32_t>(i % c.width) << ","
                        << static_cast<int32_t>(i / c.width) << " is "
                        << static_cast<int>(planes[p][i]) << ", reference "
                        << static_cast<int>((*expected[p])[i]) << "; ";
                    failure += out.str();
                    break;
                }
    }
    destroyInstance(instance);
    releaseEnvelopes(&s);
    if (!failure.empty())
        failure += "R " + std::to_string(R) + ", " + describe(c);
    return failure;
}

} // namespace glowcases
