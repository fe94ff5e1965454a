// The program's frame in memory behind a FrameAccess, for unit tests: it
// records every line request ("b0 y" for byteLine, "f12 y" for floatLine)
// and starts with its output planes zero, so that a test sees what putRGB
// and putAlpha wrote.
#pragma once

#include "module/abi/frame_access.h"
#include "orvit/core/memory_frame.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fakes {

class FakeFrame : public orvit::core::MemoryFrame {
  public:
    FakeFrame(int32_t width, int32_t height);

    // Binds the record to this frame; only one frame is bound at a time.
    const FrameAccess* access();

    void fillRect(std::vector<uint8_t>& plane, int32_t x0, int32_t y0, int32_t w, int32_t h,
                  uint8_t value);

    std::vector<std::string> requests;
    bool recordRequests = false;

  private:
    std::unique_ptr<orvit::core::FrameBinding> binding_;
    FrameAccess record_{};
};

} // namespace fakes
