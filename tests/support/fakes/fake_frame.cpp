#include "tests/support/fakes/fake_frame.h"

namespace fakes {

namespace {

FakeFrame* recorded = nullptr;
const FrameAccess* memory = nullptr; // the memory frame's own record

const uint8_t* byteLine(int32_t type, int32_t y) {
    if (recorded->recordRequests)
        recorded->requests.push_back("b" + std::to_string(type) + " " + std::to_string(y));
    return memory->byteLine(type, y);
}

const float* floatLine(int32_t type, int32_t y) {
    if (recorded->recordRequests)
        recorded->requests.push_back("f" + std::to_string(type) + " " + std::to_string(y));
    return memory->floatLine(type, y);
}

} // namespace

FakeFrame::FakeFrame(int32_t w, int32_t h) : MemoryFrame(w, h) {
    for (std::vector<uint8_t>* plane : {&outRed, &outGreen, &outBlue, &outAlpha})
        plane->assign(plane->size(), 0);
}

const FrameAccess* FakeFrame::access() {
    end = start;
    binding_.reset();
    binding_ = std::make_unique<orvit::core::FrameBinding>(*this);
    recorded = this;
    memory = binding_->access();
    record_ = *memory;
    record_.byteLine = byteLine;
    record_.floatLine = floatLine;
    return &record_;
}

void FakeFrame::fillRect(std::vector<uint8_t>& plane, int32_t x0, int32_t y0, int32_t w, int32_t h,
                         uint8_t value) {
    for (int32_t y = y0; y < y0 + h; ++y)
        for (int32_t x = x0; x < x0 + w; ++x)
            plane[at(x, y)] = value;
}

} // namespace fakes
