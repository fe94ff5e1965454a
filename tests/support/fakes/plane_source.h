// A FrameSource over planes held by the test, counting its line requests.
#pragma once

#include "module/filter/frame_source.h"

#include <vector>

namespace fakes {

class PlaneSource final : public orvit::FrameSource {
  public:
    PlaneSource(int32_t w, int32_t h, double startTime = 0.0)
        : special(static_cast<size_t>(w) * h, 0), depth(static_cast<size_t>(w) * h, 1.0f) {
        width = w;
        height = h;
        start = startTime;
    }
    const uint8_t* specialLine(int32_t y) override {
        ++specialRequests;
        return special.data() + static_cast<size_t>(y) * width;
    }
    const float* depthLine(int32_t y) override {
        ++depthRequests;
        return depth.data() + static_cast<size_t>(y) * width;
    }
    void fill(int32_t x0, int32_t y0, int32_t w, int32_t h, uint8_t value, float d = 1.0f) {
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x) {
                special[static_cast<size_t>(y) * width + x] = value;
                depth[static_cast<size_t>(y) * width + x] = d;
            }
    }

    std::vector<uint8_t> special;
    std::vector<float> depth;
    int specialRequests = 0;
    int depthRequests = 0;
};

} // namespace fakes
