#include "orvit/panel/preview_picture.h"

namespace orvit::panel {

PanelControl* findPreviewArea(Panel& panel) {
    for (const auto& c : panel.controls()) {
        const ControlDescription& d = c->description();
        if (c->type() == ControlType::Area && d.areaWidth == kPreviewWidth &&
            d.areaHeight == kPreviewHeight)
            return c.get();
    }
    return nullptr;
}

Picture areaPicture(Panel& panel, const PanelControl& area) {
    const Canvas& canvas = panel.canvas();
    Picture p;
    p.width = area.description().areaWidth;
    p.height = area.description().areaHeight;
    p.rgb.reserve(static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 3);
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) {
            const auto rgb = canvas.pixel(area.originX() + x, area.originY() + y);
            p.rgb.insert(p.rgb.end(), rgb.begin(), rgb.end());
        }
    return p;
}

int32_t PreviewTaker::run(Panel& panel, int32_t flags) {
    taken_ = false;
    const int32_t answer = user_.run(panel, flags);
    PanelControl* area = panel.live() ? findPreviewArea(panel) : nullptr;
    if (area == nullptr)
        return answer;
    const DrawCounts before = panel.draws;
    panel.drawControl(*area, DrawRefresh);
    calls_.pixels = panel.draws.pixels - before.pixels;
    calls_.boxes = panel.draws.boxes - before.boxes;
    calls_.rgbBoxes = panel.draws.rgbBoxes - before.rgbBoxes;
    picture_ = areaPicture(panel, *area);
    taken_ = true;
    return answer;
}

} // namespace orvit::panel
