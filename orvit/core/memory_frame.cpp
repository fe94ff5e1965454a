#include "orvit/core/memory_frame.h"

#include "orvit/core/host_error.h"

#include <initializer_list>
#include <string>

namespace orvit::core {

namespace {

MemoryFrame* bound = nullptr;

bool insideRow(int32_t y) {
    return bound != nullptr && y >= 0 && y < bound->height;
}

bool insidePixel(int32_t x, int32_t y) {
    return insideRow(y) && x >= 0 && x < bound->width;
}

// Row `y` of a plane; null for a buffer the frame lacks.
template <typename T> const T* rowOf(const std::vector<T>& plane, int32_t y) {
    return plane.empty() ? nullptr : plane.data() + bound->at(0, y);
}

} // namespace

// The record's operations. A request outside the frame or for a buffer the
// frame does not have gets null (or is ignored), never memory beyond a plane.
extern "C" {

static const uint8_t* ORVIT_CALL frameByteLine(int32_t type, int32_t y) {
    if (!insideRow(y))
        return nullptr;
    switch (type) {
    case BufferSpecial:
        return rowOf(bound->special, y);
    case BufferRed:
        return rowOf(bound->red, y);
    case BufferGreen:
        return rowOf(bound->green, y);
    case BufferBlue:
        return rowOf(bound->blue, y);
    case BufferAlpha:
        return rowOf(bound->alpha, y);
    default:
        return nullptr;
    }
}

static const float* ORVIT_CALL frameFloatLine(int32_t type, int32_t y) {
    if (!insideRow(y) || type != BufferDepth)
        return nullptr;
    return rowOf(bound->depth, y);
}

static void ORVIT_CALL framePutRGB(int32_t x, int32_t y, const uint8_t* rgb) {
    if (!insidePixel(x, y) || rgb == nullptr)
        return;
    const size_t i = bound->at(x, y);
    bound->outRed[i] = rgb[0];
    bound->outGreen[i] = rgb[1];
    bound->outBlue[i] = rgb[2];
}

static void ORVIT_CALL framePutAlpha(int32_t x, int32_t y, uint8_t alpha) {
    if (insidePixel(x, y))
        bound->outAlpha[bound->at(x, y)] = alpha;
}

} // extern "C"

MemoryFrame::MemoryFrame(int32_t w, int32_t h) : width(w > 0 ? w : 0), height(h > 0 ? h : 0) {
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    red.assign(n, 0);
    green.assign(n, 0);
    blue.assign(n, 0);
    alpha.assign(n, 255);
    special.assign(n, 0);
    depth.assign(n, 1.0f);
    resetOutput();
}

void MemoryFrame::resetOutput() {
    outRed = red;
    outGreen = green;
    outBlue = blue;
    outAlpha = alpha;
}

FrameBinding::FrameBinding(MemoryFrame& frame) : previous_(bound) {
    const size_t n = frame.at(0, frame.height);
    const std::string pixels =
        std::to_string(frame.width) + " x " + std::to_string(frame.height) + " pixels";
    for (const auto* plane : {&frame.red, &frame.green, &frame.blue, &frame.alpha, &frame.special})
        if (!plane->empty() && plane->size() != n)
            throw HostError("frame planes do not match the frame's " + pixels);
    for (const auto* plane : {&frame.outRed, &frame.outGreen, &frame.outBlue, &frame.outAlpha})
        if (plane->size() != n)
            throw HostError("frame planes do not match the frame's " + pixels);
    if (!frame.depth.empty() && frame.depth.size() != n)
        throw HostError("depth plane does not match the frame's " + pixels);
    bound = &frame;
    // The record, one field per line in order.
    access_.width = frame.width;
    access_.height = frame.height;
    access_.frame = frame.frame;
    access_.start = frame.start;
    access_.end = frame.end;
    access_.byteLine = frameByteLine;
    access_.floatLine = frameFloatLine;
    access_.putRGB = framePutRGB;
    access_.putAlpha = framePutAlpha;
    access_.monitor = nullptr;
}

FrameBinding::~FrameBinding() {
    bound = previous_;
}

} // namespace orvit::core
