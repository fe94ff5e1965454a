// The host's per-frame record handed to the filter's process operation.
#pragma once

#include "abi.h"

#include <cstddef>
#include <cstdint>

extern "C" {

// Buffer type codes for byteLine and floatLine.
enum BufferType : int32_t {
    BufferSpecial = 0, // byteLine: special-buffer value per pixel
    BufferDepth = 12,  // floatLine: depth per pixel
    BufferRed = 32,    // byteLine
    BufferGreen = 33,  // byteLine
    BufferBlue = 34,   // byteLine
    BufferAlpha = 35,  // byteLine
};

struct FrameAccess {
    int32_t width;  // pixels per row
    int32_t height; // rows
    int32_t frame;  // frame number
    double start;   // frame time; envelopes are evaluated here
    double end;     // end time (carried, not used)
    // Called on the render thread; returns `width` bytes of buffer `type`,
    // row `y`, owned by the host and valid until process returns.
    const uint8_t*(ORVIT_CALL* byteLine)(int32_t type, int32_t y);
    // As byteLine, `width` 32-bit floats.
    const float*(ORVIT_CALL* floatLine)(int32_t type, int32_t y);
    // Writes the final red, green, blue of pixel (x, y); rgb points to 3 bytes.
    void(ORVIT_CALL* putRGB)(int32_t x, int32_t y, const uint8_t* rgb);
    // Writes the final alpha of pixel (x, y).
    void(ORVIT_CALL* putAlpha)(int32_t x, int32_t y, uint8_t alpha);
    void* monitor; // host progress object (carried, not used)
};

} // extern "C"

// The depth of a pixel that no surface covers: 1.3e12 held as a 32-bit float,
// exactly 1300000014336.0. Only the single-precision value marks far depth.
constexpr float kHostFarDepth = 1.3e12f;

#if ORVIT_PTR32
static_assert(offsetof(FrameAccess, height) == 4 && offsetof(FrameAccess, frame) == 8,
              "three integers first");
// A double sits at 16 where it is 8-aligned (Windows), at 12 on the System V
// i386 ABI; the fields after it follow without gaps either way.
static_assert(offsetof(FrameAccess, start) == 12 || offsetof(FrameAccess, start) == 16,
              "start follows the three integers");
#if defined(_WIN32)
static_assert(offsetof(FrameAccess, start) == 16, "start at 16 on Windows");
#endif
static_assert(offsetof(FrameAccess, end) == offsetof(FrameAccess, start) + 8, "end after start");
static_assert(offsetof(FrameAccess, byteLine) == offsetof(FrameAccess, start) + 16, "byteLine");
static_assert(offsetof(FrameAccess, floatLine) == offsetof(FrameAccess, start) + 20, "floatLine");
static_assert(offsetof(FrameAccess, putRGB) == offsetof(FrameAccess, start) + 24, "putRGB");
static_assert(offsetof(FrameAccess, putAlpha) == offsetof(FrameAccess, start) + 28, "putAlpha");
static_assert(offsetof(FrameAccess, monitor) == offsetof(FrameAccess, start) + 32, "monitor");
#endif

// Field order and widths, in every build.
static_assert(orvit_layout::inOrder(
                  {ORVIT_FIELD(FrameAccess, width, 4), ORVIT_FIELD(FrameAccess, height, 4),
                   ORVIT_FIELD(FrameAccess, frame, 4), ORVIT_FIELD(FrameAccess, start, 8),
                   ORVIT_FIELD(FrameAccess, end, 8), ORVIT_POINTER(FrameAccess, byteLine),
                   ORVIT_POINTER(FrameAccess, floatLine), ORVIT_POINTER(FrameAccess, putRGB),
                   ORVIT_POINTER(FrameAccess, putAlpha), ORVIT_POINTER(FrameAccess, monitor)}),
              "FrameAccess: width, height, frame, start, end, byteLine, floatLine, putRGB, "
              "putAlpha, monitor");
