// An in-memory frame behind a FrameAccess, for unit tests. It records every
// line request ("b0 y" for byteLine, "f12 y" for floatLine) and keeps what
// putRGB and putAlpha write.
#pragma once

#include "module/abi/frame_access.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fakes {

class FakeFrame {
  public:
    FakeFrame(int32_t width, int32_t height);
    ~FakeFrame();

    // Binds the record to this frame; only one frame is bound at a time.
    const FrameAccess* access();

    size_t at(int32_t x, int32_t y) const { return static_cast<size_t>(y) * width + x; }
    void fillRect(std::vector<uint8_t>& plane, int32_t x0, int32_t y0, int32_t w, int32_t h,
                  uint8_t value);

    int32_t width;
    int32_t height;
    double start = 0.0;
    // An empty plane is a buffer the host lacks: its lines are null.
    std::vector<uint8_t> red, green, blue, alpha, special;
    std::vector<float> depth;
    std::vector<uint8_t> outRed, outGreen, outBlue, outAlpha;
    std::vector<std::string> requests;
    bool recordRequests = false;

  private:
    FrameAccess record_{};
};

} // namespace fakes
