#include "fakes/fake_frame.h"

namespace fakes {

namespace {

FakeFrame* bound = nullptr;

const uint8_t* byteLine(int32_t type, int32_t y) {
    if (bound->recordRequests)
        bound->requests.push_back("b" + std::to_string(type) + " " + std::to_string(y));
    const size_t row = static_cast<size_t>(y) * bound->width;
    switch (type) {
    case BufferSpecial:
        return bound->special.data() + row;
    case BufferRed:
        return bound->red.data() + row;
    case BufferGreen:
        return bound->green.data() + row;
    case BufferBlue:
        return bound->blue.data() + row;
    case BufferAlpha:
        return bound->alpha.data() + row;
    default:
        return nullptr;
    }
}

const float* floatLine(int32_t type, int32_t y) {
    if (bound->recordRequests)
        bound->requests.push_back("f" + std::to_string(type) + " " + std::to_string(y));
    return type == BufferDepth ? bound->depth.data() + static_cast<size_t>(y) * bound->width
                               : nullptr;
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
