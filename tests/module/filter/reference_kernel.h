// The glow rules written out literally, with no shared machinery: the
// yardstick the module's kernels must match byte for byte. As the rules say,
// the fixed modes build their tables once per call and the depth modes once
// per outline pixel. The one liberty taken cannot change a value: the tables
// hold only the offsets and distances a stamp clipped to the frame can meet,
// so huge radii stay feasible.
#pragma once

#include "module/filter/color_ramp.h"
#include "module/settings/settings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

namespace reference {

struct Layer {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> red, green, blue, strength;
};

struct Tables {
    int32_t columns = 0;
    std::vector<uint8_t> falloff; // by distance
    std::vector<int32_t> dist;    // [a][b], a, b up to the frame's reach
};

// falloff[d] = trunc((cos((d * 3.141592) / R) + 1) * 127.5); distance[a][b] =
// min(R, trunc(sqrt(b^2 + a^2))). R = 0: the single entries falloff 0 and
// distance 0: a stamp covers only its own pixel.
inline Tables buildTables(int32_t R, int32_t W, int32_t H) {
    Tables t;
    const int32_t rows = std::min(R, H - 1) + 1;
    t.columns = std::min(R, W - 1) + 1;
    t.dist.resize(static_cast<size_t>(rows) * t.columns);
    int32_t farthest = 0;
    for (int32_t a = 0; a < rows; ++a)
        for (int32_t b = 0; b < t.columns; ++b) {
            int64_t sum = static_cast<int64_t>(b) * b + static_cast<int64_t>(a) * a;
            int32_t d = static_cast<int32_t>(std::sqrt(static_cast<double>(sum)));
            d = d >= R ? R : d;
            t.dist[static_cast<size_t>(a) * t.columns + b] = d;
            farthest = std::max(farthest, d);
        }
    t.falloff.resize(static_cast<size_t>(farthest) + 1);
    for (int32_t d = 0; d <= farthest; ++d)
        t.falloff[d] = R == 0 ? 0
                              : static_cast<uint8_t>(static_cast<int32_t>(
                                    (std::cos((d * 3.141592) / R) + 1.0) * 127.5));
    return t;
}

// mode 0..3; radius per call for the Fixed modes; for the Depth modes each
// outline pixel's radius is trunc(((W * size) / (D * k)) * 0.5), 2..100 stamps.
inline Layer glow(const std::vector<uint8_t>& special, const std::vector<float>& depth, int32_t W,
                  int32_t H, const orvit::GlowSetting& setting, int32_t fixedRadius, double size,
                  double k) {
    Layer out;
    out.width = W;
    out.height = H;
    const size_t n = static_cast<size_t>(W) * H;
    out.red.assign(n, 0);
    out.green.assign(n, 0);
    out.blue.assign(n, 0);
    out.strength.assign(n, 0);
    orvit::ColorRamp ramp;
    orvit::buildColorRamp(&ramp, &setting, 256);
    if (ramp.keyCount == 0)
        return out;
    const bool depthMode = setting.mode == 1 || setting.mode == 3;
    const bool gMode = setting.mode == 2 || setting.mode == 3;
    std::map<int32_t, Tables> tables;
    auto stampAt = [&](int32_t x, int32_t y, int32_t R) {
        if (depthMode)
            tables.clear();
        auto found = tables.find(R);
        if (found == tables.end())
            found = tables.emplace(R, buildTables(R, W, H)).first;
        const Tables& t = found->second;
        const int64_t r = R; // x + R stays exact for huge radii
        for (int64_t ty = std::max<int64_t>(0, y - r); ty <= std::min<int64_t>(y + r, H - 1); ++ty)
            for (int64_t tx = std::max<int64_t>(0, x - r); tx <= std::min<int64_t>(x + r, W - 1);
                 ++tx) {
                int32_t d = t.dist[static_cast<size_t>(std::abs(y - ty)) * t.columns +
                                   static_cast<size_t>(std::abs(x - tx))];
                uint8_t f = t.falloff[d];
                size_t p = static_cast<size_t>(ty) * W + tx;
                if (out.strength[p] <= f) {
                    out.strength[p] = f;
                    // R = 0: the outline pixel keeps strength 0 and takes ramp entry 255.
                    int32_t c = R == 0 ? 255
                                       : 255 - static_cast<int32_t>(
                                                   (1.0 - static_cast<double>(d) / R) * 255.0);
                    out.red[p] = ramp.red[c];
                    out.green[p] = ramp.green[c];
                    out.blue[p] = ramp.blue[c];
                }
            }
    };
    for (int32_t y = 1; y <= H - 2; ++y)
        for (int32_t x = 1; x <= W - 2; ++x) {
            auto at = [&](int32_t xx, int32_t yy) {
                return special[static_cast<size_t>(yy) * W + xx];
            };
            if (at(x, y) != setting.value)
                continue;
            int32_t cnt = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if ((dx || dy) && at(x + dx, y + dy) == setting.value)
                        ++cnt;
            if (cnt == 8) {
                if (!gMode) {
                    size_t p = static_cast<size_t>(y) * W + x;
                    out.strength[p] = 255;
                    out.red[p] = ramp.red[0];
                    out.green[p] = ramp.green[0];
                    out.blue[p] = ramp.blue[0];
                }
            } else if (cnt >= (gMode ? 5 : 4)) {
                int32_t R = fixedRadius;
                if (depthMode) {
                    double q = ((W * size) /
                                (static_cast<double>(depth[static_cast<size_t>(y) * W + x]) * k)) *
                               0.5;
                    if (!(q > -1e9 && q < 1e9))
                        continue;
                    R = static_cast<int32_t>(q);
                    if (R <= 1 || R > 100)
                        continue;
                }
                if (R >= 0)
                    stampAt(x, y, R);
            }
        }
    orvit::freeColorRamp(&ramp);
    return out;
}

// One setting's layer added into the three accumulator planes with its
// transparency t (clamped to 0..100): acc = min(255, trunc(acc + glow * w)),
// w = strength * ((100 - t) * (1 / 25500)).
inline void accumulate(std::vector<uint8_t> (&acc)[3], const Layer& layer, double transparency) {
    const double t = std::isnan(transparency) ? 0.0 : std::min(100.0, std::max(0.0, transparency));
    const double k = (100.0 - t) * (1.0 / 25500);
    const std::vector<uint8_t>* glow[3] = {&layer.red, &layer.green, &layer.blue};
    for (size_t p = 0; p < acc[0].size(); ++p) {
        const double w = layer.strength[p] * k;
        for (int c = 0; c < 3; ++c)
            acc[c][p] = static_cast<uint8_t>(
                std::min(255, static_cast<int>(acc[c][p] + (*glow[c])[p] * w)));
    }
}

} // namespace reference
