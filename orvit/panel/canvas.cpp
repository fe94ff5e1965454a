#include "orvit/panel/panel_model.h"

#include <algorithm>
#include <cstring>

namespace orvit::panel {

namespace {

uint8_t channel(int32_t v) {
    return static_cast<uint8_t>(std::clamp<int32_t>(v, 0, 255));
}

} // namespace

std::array<uint8_t, 3> paletteColour(int32_t code) {
    switch (code) {
    case 4096:
        return {0, 0, 0};
    case 4097:
        return {255, 255, 255};
    case 4098:
        return {112, 112, 112};
    case 4099:
        return {208, 208, 208};
    case 4100:
        return {64, 64, 64};
    default:
        return {255, 0, 255};
    }
}

void Canvas::resize(int32_t w, int32_t h) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (w == width && h == height)
        return;
    std::vector<uint8_t> next(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    for (size_t i = 0; i < next.size(); i += 3)
        std::memcpy(&next[i], kCanvasBackground.data(), 3);
    const int32_t keepW = std::min(w, width), keepH = std::min(h, height);
    for (int32_t row = 0; row < keepH; ++row)
        std::memcpy(&next[(static_cast<size_t>(row) * w) * 3],
                    &rgb[(static_cast<size_t>(row) * width) * 3], static_cast<size_t>(keepW) * 3);
    rgb = std::move(next);
    width = w;
    height = h;
}

void Canvas::fill(int32_t x, int32_t y, int32_t w, int32_t h, std::array<uint8_t, 3> colour) {
    // In 64 bits, so that no edge can overflow.
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(int64_t{x} + std::max(w, 0), width);
    const int64_t bottom = std::min<int64_t>(int64_t{y} + std::max(h, 0), height);
    for (int64_t row = top; row < bottom; ++row)
        for (int64_t col = left; col < right; ++col)
            std::memcpy(&rgb[static_cast<size_t>((row * width + col) * 3)], colour.data(), 3);
}

std::array<uint8_t, 3> Canvas::pixel(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width || y >= height)
        return {0, 0, 0};
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

// ---- The drawing record of area controls ---------------------------------

extern "C" {

static void ORVIT_CALL drawRGBPixel(PanelHandle panel, int32_t red, int32_t green, int32_t blue,
                                    int32_t x, int32_t y) {
    if (Panel* p = Panel::fromHandle(panel))
        p->drawRGBPixel(red, green, blue, x, y);
}

static void ORVIT_CALL drawBox(PanelHandle panel, int32_t colour, int32_t x, int32_t y, int32_t w,
                               int32_t h) {
    if (Panel* p = Panel::fromHandle(panel))
        p->drawBox(colour, x, y, w, h);
}

static void ORVIT_CALL drawRGBBox(PanelHandle panel, int32_t red, int32_t green, int32_t blue,
                                  int32_t x, int32_t y, int32_t w, int32_t h) {
    if (Panel* p = Panel::fromHandle(panel))
        p->drawRGBBox(red, green, blue, x, y, w, h);
}

} // extern "C"

const DrawFuncs* panelDrawFuncs() {
    // In slot order; slots 0 and 2 are not offered.
    static const DrawFuncs record{nullptr, drawRGBPixel, nullptr, drawBox, drawRGBBox};
    return &record;
}

void Panel::checkColour(const char* operation, int32_t red, int32_t green, int32_t blue) {
    if (red >= 0 && red <= 255 && green >= 0 && green <= 255 && blue >= 0 && blue <= 255)
        return;
    fault(std::string(operation) + " colour " + std::to_string(red) + " " + std::to_string(green) +
          " " + std::to_string(blue) + " outside 0..255");
}

void Panel::drawRGBPixel(int32_t red, int32_t green, int32_t blue, int32_t x, int32_t y) {
    ++draws.pixels;
    checkColour("drawRGBPixel", red, green, blue);
    canvas_.fill(x, y, 1, 1, {channel(red), channel(green), channel(blue)});
}

void Panel::drawBox(int32_t colour, int32_t x, int32_t y, int32_t w, int32_t h) {
    ++draws.boxes;
    canvas_.fill(x, y, w, h, paletteColour(colour));
}

void Panel::drawRGBBox(int32_t red, int32_t green, int32_t blue, int32_t x, int32_t y, int32_t w,
                       int32_t h) {
    ++draws.rgbBoxes;
    checkColour("drawRGBBox", red, green, blue);
    canvas_.fill(x, y, w, h, {channel(red), channel(green), channel(blue)});
}

} // namespace orvit::panel
