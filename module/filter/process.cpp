#include "module/filter/process.h"

#include "module/filter/arith.h"
#include "module/filter/frame_source.h"
#include "module/filter/kernel/glow_kernel.h"
#include "module/filter/simd.h"
#include "module/filter/working_planes.h"
#include "module/services/services.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

namespace orvit {

namespace {

// A host without one of the colour buffers gets 0 for it.
uint8_t byteAt(const uint8_t* line, int32_t x) {
    return line != nullptr ? line[x] : 0;
}

// One setting's share of pixels [first, first + n): for each colour,
// sum = min(255, trunc(acc + glow * w)) with w = strength * k, in double
// precision, where acc is the accumulator's value (0 when `acc` is null).
// Strength 0 adds exactly nothing. The sums go to out[c][0 .. n).
void weightedSums(const GlowLayer& layer, const uint8_t* const acc[3], double k, size_t first,
                  size_t n, uint8_t* const out[3]) {
    const uint8_t* strength = layer.strength + first;
    const uint8_t* glow[3] = {layer.red + first, layer.green + first, layer.blue + first};
    const uint8_t* from[3] = {nullptr, nullptr, nullptr};
    if (acc[0] != nullptr)
        for (int c = 0; c < 3; ++c)
            from[c] = acc[c] + first;
    size_t i = 0;
#ifdef ORVIT_HAVE_SSE2
    // Sixteen pixels at a time, two doubles a register, with the same
    // products and sums as one pixel at a time.
    const __m128d kk = _mm_set1_pd(k);
    const __m128i zero = _mm_setzero_si128();
    auto load = [](const uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    // The sixteen bytes as four groups of four 32-bit integers.
    auto widen = [&](__m128i bytes, __m128i quads[4]) {
        const __m128i low = _mm_unpacklo_epi8(bytes, zero);
        const __m128i high = _mm_unpackhi_epi8(bytes, zero);
        quads[0] = _mm_unpacklo_epi16(low, zero);
        quads[1] = _mm_unpackhi_epi16(low, zero);
        quads[2] = _mm_unpacklo_epi16(high, zero);
        quads[3] = _mm_unpackhi_epi16(high, zero);
    };
    auto lowPair = [](__m128i quad) { return _mm_cvtepi32_pd(quad); };
    auto highPair = [](__m128i quad) { return _mm_cvtepi32_pd(_mm_shuffle_epi32(quad, 0xEE)); };
    for (; i + 16 <= n; i += 16) {
        const __m128i s = load(strength + i);
        const __m128i dark = _mm_cmpeq_epi8(s, zero);
        const int darkMask = _mm_movemask_epi8(dark);
        if (darkMask == 0xFFFF) {
            for (int c = 0; c < 3; ++c)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out[c] + i),
                                 from[c] != nullptr ? load(from[c] + i) : zero);
            continue;
        }
        __m128i sq[4];
        widen(s, sq);
        __m128d w[8];
        for (int q = 0; q < 4; ++q) {
            w[2 * q] = _mm_mul_pd(lowPair(sq[q]), kk);
            w[2 * q + 1] = _mm_mul_pd(highPair(sq[q]), kk);
        }
        // Where every glowing pixel of the sixteen has one colour (a ramp of
        // one colour), a channel's products take that colour once: the
        // pixels without strength add 0 whatever their colour.
        const int lane = __builtin_ctz(static_cast<unsigned>(~darkMask)); // the first that glows
        // A shared colour's sums into an empty accumulator, by channel (a
        // grey glow has the same in all three).
        int sharedAs[3] = {-1, -1, -1};
        __m128i sharedSums[3];
        for (int c = 0; c < 3; ++c) {
            const __m128i g = load(glow[c] + i);
            const uint8_t one = glow[c][i + static_cast<size_t>(lane)];
            const bool shared =
                _mm_movemask_epi8(_mm_or_si128(
                    _mm_cmpeq_epi8(g, _mm_set1_epi8(static_cast<char>(one))), dark)) == 0xFFFF;
            if (shared && from[c] == nullptr) {
                sharedAs[c] = one;
                int same = -1;
                for (int earlier = 0; earlier < c; ++earlier)
                    if (sharedAs[earlier] == one)
                        same = earlier;
                if (same >= 0) {
                    sharedSums[c] = sharedSums[same];
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out[c] + i), sharedSums[c]);
                    continue;
                }
            }
            __m128i gq[4];
            __m128i aq[4];
            if (!shared)
                widen(g, gq);
            if (from[c] != nullptr)
                widen(load(from[c] + i), aq);
            const __m128d oneD = _mm_set1_pd(one);
            __m128i sums[4];
            for (int q = 0; q < 4; ++q) {
                __m128d low = _mm_mul_pd(shared ? oneD : lowPair(gq[q]), w[2 * q]);
                __m128d high = _mm_mul_pd(shared ? oneD : highPair(gq[q]), w[2 * q + 1]);
                if (from[c] != nullptr) {
                    low = _mm_add_pd(lowPair(aq[q]), low);
                    high = _mm_add_pd(highPair(aq[q]), high);
                }
                sums[q] = _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
            }
            // Sums are at least 0; the packs saturate at 255.
            sharedSums[c] = _mm_packus_epi16(_mm_packs_epi32(sums[0], sums[1]),
                                             _mm_packs_epi32(sums[2], sums[3]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[c] + i), sharedSums[c]);
        }
    }
#endif
    for (; i < n; ++i) {
        const double w = strength[i] * k;
        for (int c = 0; c < 3; ++c) {
            const int32_t a = from[c] != nullptr ? from[c][i] : 0;
            out[c][i] = static_cast<uint8_t>(saturate255(truncToInt(a + glow[c][i] * w)));
        }
    }
}

void accumulate(const GlowLayer& layer, size_t count, double k, uint8_t* const acc[3]) {
    weightedSums(layer, acc, k, 0, count, acc);
}

// The glow a frame receives: the accumulated settings (planes absent when
// none were accumulated) and the last setting's layer with its transparency
// factor, added on the way out rather than through one more pass over the
// accumulators.
struct Glow {
    const uint8_t* acc[3] = {nullptr, nullptr, nullptr};
    const GlowLayer* last = nullptr;
    double lastK = 0.0;
};

// Pixels composed at a time: a row's final colours are formed in a buffer of
// this many, then handed to the host pixel by pixel.
constexpr int32_t kChunk = 512;

// Sets quads[j] = (red[j], green[j], blue[j], alpha[j]) for j < n.
void interleave(const uint8_t* const lines[4], int32_t n, uint8_t* quads) {
    int32_t j = 0;
#ifdef ORVIT_HAVE_SSE2
    auto load = [&](int c) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[c] + j));
    };
    for (; j + 16 <= n; j += 16) {
        const __m128i rg[2] = {_mm_unpacklo_epi8(load(0), load(1)),
                               _mm_unpackhi_epi8(load(0), load(1))};
        const __m128i ba[2] = {_mm_unpacklo_epi8(load(2), load(3)),
                               _mm_unpackhi_epi8(load(2), load(3))};
        auto* out = reinterpret_cast<__m128i*>(quads + 4 * j);
        for (int h = 0; h < 2; ++h) {
            _mm_storeu_si128(out + 2 * h, _mm_unpacklo_epi16(rg[h], ba[h]));
            _mm_storeu_si128(out + 2 * h + 1, _mm_unpackhi_epi16(rg[h], ba[h]));
        }
    }
#endif
    for (; j < n; ++j)
        for (int c = 0; c < 4; ++c)
            quads[4 * j + c] = lines[c][j];
}

// The final pixels [first, first + n) of a row as red, green, blue, alpha
// quads: the rendered colour plus the glow, saturated, and the alpha.
// `lines` are the row's red, green, blue and alpha from x = first's column.
void composeChunk(const uint8_t* const lines[4], const Glow& glow, size_t first, int32_t n,
                  uint8_t* quads) {
    uint8_t sums[3][kChunk];
    uint8_t* const out[3] = {sums[0], sums[1], sums[2]};
    const uint8_t* add[3] = {glow.acc[0], glow.acc[1], glow.acc[2]};
    if (glow.last != nullptr) {
        weightedSums(*glow.last, glow.acc, glow.lastK, first, static_cast<size_t>(n), out);
        for (int c = 0; c < 3; ++c)
            add[c] = sums[c];
    } else if (add[0] != nullptr) {
        for (int c = 0; c < 3; ++c)
            add[c] += first;
    } else {
        interleave(lines, n, quads);
        return;
    }
    for (int c = 0; c < 3; ++c) {
        int32_t j = 0;
#ifdef ORVIT_HAVE_SSE2
        for (; j + 16 <= n; j += 16)
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(out[c] + j),
                _mm_adds_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[c] + j)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(add[c] + j))));
#endif
        for (; j < n; ++j)
            out[c][j] = static_cast<uint8_t>(saturate255(lines[c][j] + add[c][j]));
    }
    const uint8_t* const final[4] = {out[0], out[1], out[2], lines[3]};
    interleave(final, n, quads);
}

// Writes every pixel's colour, plus the glow with saturation, and its alpha.
void composite(const FrameAccess* access, const Glow& glow) {
    static const uint8_t kNoLine[kChunk] = {}; // a buffer the host lacks reads as 0
    const int32_t width = access->width;
    const int32_t types[4] = {BufferRed, BufferGreen, BufferBlue, BufferAlpha};
    uint8_t quads[4 * kChunk];
    for (int32_t y = 0; y < access->height; ++y) {
        const uint8_t* row[4];
        for (int c = 0; c < 4; ++c)
            row[c] = access->byteLine(types[c], y);
        const size_t rowStart = static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int32_t x0 = 0; x0 < width; x0 += kChunk) {
            const int32_t n = std::min(kChunk, width - x0);
            const uint8_t* lines[4];
            for (int c = 0; c < 4; ++c)
                lines[c] = row[c] != nullptr ? row[c] + x0 : kNoLine;
            composeChunk(lines, glow, rowStart + static_cast<size_t>(x0), n, quads);
            for (int32_t j = 0; j < n; ++j) {
                access->putRGB(x0 + j, y, quads + 4 * j);
                access->putAlpha(x0 + j, y, quads[4 * j + 3]);
            }
        }
    }
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

// Ends an enabled frame: the layer becomes empty and its planes, with the
// accumulators', are kept as spares for the next frame.
void setAside(FilterInstance* instance, uint8_t* const acc[3]) {
    auto& layer = instance->glowLayer;
    auto& spare = instance->spare;
    uint8_t* planes[4] = {layer.red, layer.green, layer.blue, layer.strength};
    layer.red = layer.green = layer.blue = layer.strength = nullptr;
    const bool fits = layer.width == spare.width && layer.height == spare.height;
    for (int p = 0; p < 4; ++p) {
        std::free(spare.layer[p]);
        spare.layer[p] = fits ? planes[p] : nullptr;
        if (!fits)
            std::free(planes[p]);
    }
    layer.width = 0;
    layer.height = 0;
    for (int c = 0; c < 3; ++c)
        if (acc[c] != nullptr) {
            std::free(spare.accumulator[c]);
            spare.accumulator[c] = acc[c];
        }
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
        releaseSparePlanes(instance);
        composite(access, Glow{});
        return;
    }
    auto& spare = instance->spare;
    if (spare.width != access->width || spare.height != access->height) {
        releaseSparePlanes(instance);
        spare.width = access->width;
        spare.height = access->height;
    }

    int32_t last = -1;
    for (int32_t s = 0; s < instance->settingCount; ++s)
        if (runsKernel(instance->settings[s]))
            last = s;
    uint8_t* acc[3] = {nullptr, nullptr, nullptr};
    Glow glow;
    for (int32_t s = 0; s <= last; ++s) {
        const GlowSetting* setting = instance->settings[s];
        if (!runsKernel(setting))
            continue;
        kernelForMode(setting->mode)(instance, setting, source);
        if (instance->glowLayer.strength == nullptr)
            continue;
        const double k = transparencyFactor(setting, access->start);
        if (s == last) {
            glow.last = &instance->glowLayer;
            glow.lastK = k;
            break;
        }
        if (acc[0] == nullptr)
            for (int c = 0; c < 3; ++c)
                acc[c] = takeSparePlane(spare.accumulator[c], count);
        if (acc[0] == nullptr || acc[1] == nullptr || acc[2] == nullptr) {
            // No room to accumulate: the frame passes through unchanged.
            for (uint8_t* plane : acc)
                std::free(plane);
            releaseGlowLayer(instance);
            releaseSparePlanes(instance);
            composite(access, Glow{});
            return;
        }
        accumulate(instance->glowLayer, count, k, acc);
    }
    for (int c = 0; c < 3; ++c)
        glow.acc[c] = acc[c];
    composite(access, glow);
    setAside(instance, acc);
}

} // namespace orvit
