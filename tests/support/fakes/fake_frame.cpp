#include "tests/support/fakes/fake_frame.h"

namespace fakes {

namespace {

FakeFrame* bound = nullptr;

// An emptied plane is a buffer the host does not have: its lines are null.
template <typename T> const T* lineOf(const std::vector<T>& plane, int32_t y) {
    return plane.empty() ? nullptr : plane.data() + static_cast<size_t>(y) * bound->width;
}

const uint8_t* byteLine(int32_t type, int32_t y) {
    if (bound->recordRequests)
        bound->requests.push_back("b" + std::to_string(type) + " " + std::to_string(y));
    switch (type) {
    case BufferSpecial:
        return lineOf(bound->special, y);
    case BufferRed:
        return lineOf(bound->red, y);
    case BufferGreen:
        return lineOf(bound->green, y);
    case BufferBlue:
        return lineOf(bound->blue, y);
    case BufferAlpha:
        return lineOf(bound->alpha, y);
    default:
        return nullptr;
    }
}

const float* floatLine(int32_t type, int32_t y) {
    if (bound->recordRequests)
        bound->requests.push_back("f" + std::to_string(type) + " " + std::to_string(y));
    return type == BufferDepth ? lineOf(bound->depth, y) : nullptr;
}

void putRGB(int32_t x, int32_t y, const uint8_t* rgb) {
    const size_t i = bound->at(x, y);
    bound->outRed[i] = rgb[0];
    bound->outGreen[i] = rgb[1];
    bound->outBlue[i] = rgb[2];
}

void putAlpha(int32_t x, int32_t y, uint8_t a) {
    bound->outAlpha[bound->at(x, y)] = a;
}

} // namespace

FakeFrame::FakeFrame(int32_t w, int32_t h) : width(w), height(h) {
    const size_t n = static_cast<size_t>(w > 0 ? w : 0) * static_cast<size_t>(h > 0 ? h : 0);
    red.assign(n, 0);
    green.assign(n, 0);
    blue.assign(n, 0);
    alpha.assign(n, 255);
    special.assign(n, 0);
    depth.assign(n, 1.0f);
    outRed.assign(n, 0);
    outGreen.assign(n, 0);
    outBlue.assign(n, 0);
    outAlpha.assign(n, 0);
}

FakeFrame::~FakeFrame() {
    if (bound == this)
        bound = nullptr;
}

const FrameAccess* FakeFrame::access() {
    bound = this;
    record_.width = width;
    record_.height = height;
    record_.frame = 0;
    record_.start = start;
    record_.end = start;
    record_.byteLine = byteLine;
    record_.floatLine = floatLine;
    record_.putRGB = putRGB;
    record_.putAlpha = putAlpha;
    record_.monitor = nullptr;
    return &record_;
}

void FakeFrame::fillRect(std::vector<uint8_t>& plane, int32_t x0, int32_t y0, int32_t w, int32_t h,
                         uint8_t value) {
    for (int32_t y = y0; y < y0 + h; ++y)
        for (int32_t x = x0; x < x0 + w; ++x)
            plane[at(x, y)] = value;
}

} // namespace fakes
