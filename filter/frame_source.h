// Line access through which the glow kernels read the special and depth
// buffers, either from the host's frame or from the instance's snapshot.
#pragma once

#include "host/frame_access.h"
#include "settings/settings.h"

#include <cstdint>

namespace orvit {

class FrameSource {
  public:
    virtual ~FrameSource() = default;
    virtual const uint8_t* specialLine(int32_t y) = 0;
    virtual const float* depthLine(int32_t y) = 0;

    int32_t width = 0;
    int32_t height = 0;
    int32_t frame = 0;
    double start = 0.0;
    double end = 0.0;
    void* monitor = nullptr;
};

class HostFrameSource final : public FrameSource {
  public:
    explicit HostFrameSource(const FrameAccess* frameAccess) : access(frameAccess) {
        width = access->width;
        height = access->height;
        frame = access->frame;
        start = access->start;
        end = access->end;
        monitor = access->monitor;
    }
    const uint8_t* specialLine(int32_t y) override { return access->byteLine(BufferSpecial, y); }
    const float* depthLine(int32_t y) override { return access->floatLine(BufferDepth, y); }

    const FrameAccess* access;
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
