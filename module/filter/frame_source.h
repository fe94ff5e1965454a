// Line access through which the glow kernels read the special and depth
// buffers, either from the host's frame or from the instance's snapshot.
#pragma once

#include "module/abi/frame_access.h"
#include "module/settings/settings.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace orvit {

// Pixels of a width x height frame; 0 when it has none, or when its working
// planes would not fit the address space: three accumulator and four layer
// planes, plus a spare byte each, on a 32-bit target too. Such a frame is
// not filtered.
inline size_t framePixels(int32_t width, int32_t height) {
    if (width < 1 || height < 1)
        return 0;
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (pixels > (std::numeric_limits<size_t>::max() - 8) / 8)
        return 0;
    return static_cast<size_t>(pixels);
}

// Two virtual operations, in this slot order, then the header fields. A
// source is a local object of its concrete kind, never destroyed through
// this base, so the destructor takes no slot of its own.
class FrameSource {
  public:
    virtual const uint8_t* specialLine(int32_t y) = 0;
    virtual const float* depthLine(int32_t y) = 0;

    int32_t width = 0;
    int32_t height = 0;
    int32_t frame = 0;
    double start = 0.0;
    double end = 0.0;
    void* monitor = nullptr;

  protected:
    FrameSource() = default;
    FrameSource(const FrameSource&) = default;
    FrameSource& operator=(const FrameSource&) = default;
    ~FrameSource() = default;
};

// A buffer the host cannot give (a null line) reads as special value 0 and
// far depth, from lines of the source's own.
class HostFrameSource final : public FrameSource {
  public:
    explicit HostFrameSource(const FrameAccess* frameAccess) : access(frameAccess) {
        width = access->width;
        height = access->height;
        frame = access->frame;
        start = access->start;
        end = access->end;
        monitor = access->monitor;
        const size_t count = width > 0 ? static_cast<size_t>(width) : 1;
        noSpecial_ = static_cast<uint8_t*>(std::calloc(count, 1));
        farDepth_ = static_cast<float*>(std::malloc(count * sizeof(float)));
        if (farDepth_ != nullptr)
            std::fill(farDepth_, farDepth_ + count, kHostFarDepth);
    }
    ~HostFrameSource() {
        std::free(noSpecial_);
        std::free(farDepth_);
    }
    HostFrameSource(const HostFrameSource&) = delete;
    HostFrameSource& operator=(const HostFrameSource&) = delete;

    // False when the stand-in lines could not be obtained.
    bool ready() const { return noSpecial_ != nullptr && farDepth_ != nullptr; }
    const uint8_t* specialLine(int32_t y) override {
        const uint8_t* line = access->byteLine(BufferSpecial, y);
        return line != nullptr ? line : noSpecial_;
    }
    const float* depthLine(int32_t y) override {
        const float* line = access->floatLine(BufferDepth, y);
        return line != nullptr ? line : farDepth_;
    }

    const FrameAccess* access;

  private:
    uint8_t* noSpecial_;
    float* farDepth_;
};

class SnapshotFrameSource final : public FrameSource {
  public:
    explicit SnapshotFrameSource(const FilterInstance* instance)
        : specialPlane(instance->snapshot.special), depthPlane(instance->snapshot.depth) {
        width = kSnapshotWidth;
        height = kSnapshotHeight;
    }
    const uint8_t* specialLine(int32_t y) override { return specialPlane + y * width; }
    const float* depthLine(int32_t y) override { return depthPlane + y * width; }

    const uint8_t* specialPlane;
    const float* depthPlane;
};

} // namespace orvit
