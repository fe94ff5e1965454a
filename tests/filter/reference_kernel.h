// The glow rules written out literally, with full-size tables and no shared
// machinery: the yardstick the module's kernels must match byte for byte.
#pragma once

#include "filter/color_ramp.h"
#include "settings/settings.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace reference {

struct Layer {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> red, green, blue, strength;
};

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
    auto stampAt = [&](int32_t x, int32_t y, int32_t R) {
        std::vector<uint8_t> falloff(static_cast<size_t>(R) + 1);
        for (int32_t d = 0; d <= R; ++d)
            falloff[d] = static_cast<uint8_t>(
                static_cast<int32_t>((std::cos((d * 3.141592) / R) + 1.0) * 127.5));
        std::vector<int32_t> dist(static_cast<size_t>(R + 1) * (R + 1));
        for (int32_t a = 0; a <= R; ++a)
            for (int32_t b = 0; b <= R; ++b) {
                int32_t d = static_cast<int32_t>(std::sqrt(static_cast<double>(b * b + a * a)));
                dist[a * (R + 1) + b] = d >= R ? R : d;
            }
        for (int32_t ty = std::max(0, y - R); ty <= std::min(y + R, H - 1); ++ty)
            for (int32_t tx = std::max(0, x - R); tx <= std::min(x + R, W - 1); ++tx) {
                int32_t d = dist[std::abs(y - ty) * (R + 1) + std::abs(x - tx)];
                uint8_t f = falloff[d];
                size_t p = static_cast<size_t>(ty) * W + tx;
                if (out.strength[p] <= f) {
                    out.strength[p] = f;
                    int32_t c =
                        255 - static_cast<int32_t>((1.0 - static_cast<double>(d) / R) * 255.0);
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
                if (R >= 1)
                    stampAt(x, y, R);
            }
        }
    orvit::freeColorRamp(&ramp);
    return out;
}

} // namespace reference
