// A frame held in memory behind a FrameAccess: the rendered planes a filter
// reads and the planes it writes.
#pragma once

#include "module/abi/frame_access.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvit::core {

class MemoryFrame {
  public:
    // All planes width x height: colour 0, alpha 255, special 0, depth 1.
    MemoryFrame(int32_t width, int32_t height);

    size_t at(int32_t x, int32_t y) const {
        return static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
    }
    // Copies the rendered colour and alpha into the output planes, so a pixel
    // the filter leaves alone shows as rendered.
    void resetOutput();

    int32_t width;
    int32_t height;
    int32_t frame = 0;
    double start = 0.0;
    double end = 0.0;
    // A rendered plane left empty is a buffer the host lacks: its lines are null.
    std::vector<uint8_t> red, green, blue, alpha, special;
    std::vector<float> depth;
    bool hasDepth = true; // false: the renderer gave none; `depth` is a stand-in
    std::vector<uint8_t> outRed, outGreen, outBlue, outAlpha;
};

// Binds a frame to the FrameAccess record for the time of one filter call.
// The record's operations carry no context, so the bound frame lives in a
// process-wide variable: one binding at a time.
class FrameBinding {
  public:
    explicit FrameBinding(MemoryFrame& frame);
    ~FrameBinding();
    FrameBinding(const FrameBinding&) = delete;
    FrameBinding& operator=(const FrameBinding&) = delete;

    const FrameAccess* access() const { return &access_; }

  private:
    MemoryFrame* previous_;
    FrameAccess access_{};
};

} // namespace orvit::core
