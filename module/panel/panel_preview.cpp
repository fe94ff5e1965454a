#include "module/panel/panel_preview.h"

#include "module/filter/frame_source.h"
#include "module/filter/kernel/glow_kernel.h"
#include "module/panel/callbacks.h"
#include "module/panel/panel_state.h"
#include "module/services/services.h"

#include <cmath>

namespace orvit {

namespace {

// A grey or channel computed in double, truncated toward zero into 0..255;
// what is not a number paints 0, so no conversion is ever undefined.
int32_t channel(double value) {
    if (!(value >= 0.0))
        return 0;
    if (value >= 255.0)
        return 255;
    return static_cast<int32_t>(value);
}

struct Rgb {
    int32_t red, green, blue;
};

// Everything a colour needs, read once before painting.
struct Painter {
    const FilterInstance* instance;
    int32_t choice;
    int32_t special; // the special value masked by "Special"
    float span;      // maxDepth - minDepth, held as a float
    double opacity;  // (100 - transparency) x 0.01, for "Preview"
    const GlowLayer* layer;

    Rgb colour(size_t i) const {
        const auto& s = instance->snapshot;
        switch (choice) {
        case DisplayColor:
            return {s.red[i], s.green[i], s.blue[i]};
        case DisplayDepth: {
            const double depth = s.depth[i];
            if (depth == static_cast<double>(kHostFarDepth))
                return {0, 0, 0};
            const double q = (static_cast<double>(instance->maxDepth) - depth) / span;
            const int32_t g = std::isfinite(q) ? channel(q * 255.0) : 0;
            return {g, g, g};
        }
        case DisplaySpecial: {
            const int32_t g = s.special[i] == special ? 255 : 0;
            return {g, g, g};
        }
        default: {
            const auto& l = *layer;
            return {add(l.red[i] * l.strength[i], s.red[i]),
                    add(l.green[i] * l.strength[i], s.green[i]),
                    add(l.blue[i] * l.strength[i], s.blue[i])};
        }
        }
    }

    // trunc(glow x strength x w x (1/256) + snap), clamped to 0..255.
    int32_t add(int32_t glowTimesStrength, uint8_t snap) const {
        return channel(glowTimesStrength * opacity * (1.0 / 256) + snap);
    }
};

} // namespace

void ORVIT_CALL drawPreview(ControlHandle control, void* userData, int32_t) {
    const auto* instance = static_cast<const FilterInstance*>(userData);
    if (instance->snapshot.red == nullptr)
        return;
    const int32_t ox = getInt(control, AttrOriginX);
    const int32_t oy = getInt(control, AttrOriginY);
    const int32_t choice = getInt(panelControls.displayPopup, AttrValue);
    const int32_t half = getInt(panelControls.halfResBox, AttrValue);
    Painter painter{
        instance, choice, 0, instance->maxDepth - instance->minDepth, 0.0, &instance->glowLayer};
    if (choice < DisplayColor || choice > DisplayPreview)
        return;
    if (choice == DisplaySpecial) {
        const int32_t k = getInt(panelControls.specialPopup, AttrValue);
        if (k < 0 || k >= instance->specialValueCount)
            return;
        painter.special = instance->specialValues[k];
    }
    if (choice == DisplayPreview) {
        // Only a preview run's layer matches the snapshot element for element.
        const auto& layer = *painter.layer;
        if (layer.red == nullptr || layer.width != kSnapshotWidth ||
            layer.height != kSnapshotHeight || instance->selected == nullptr)
            return;
        painter.opacity = (100.0 - instance->selected->transparency) * 0.01;
    }

    const DrawFuncs* draw = panelService->drawFuncs;
    const int32_t step = half != 0 ? 2 : 1;
    for (int32_t r = 0; r < kSnapshotHeight; r += step) {
        for (int32_t c = 0; c < kSnapshotWidth; c += step) {
            const Rgb rgb = painter.colour(static_cast<size_t>(r) * kSnapshotWidth + c);
            if (half != 0)
                draw->drawRGBBox(currentPanel, rgb.red, rgb.green, rgb.blue, ox + c, oy + r, 2, 2);
            else
                draw->drawRGBPixel(currentPanel, rgb.red, rgb.green, rgb.blue, ox + c, oy + r);
        }
    }
}

void ORVIT_CALL runPreview(ControlHandle, void* userData) {
    auto* instance = static_cast<FilterInstance*>(userData);
    // A host may offer the button without a rendered frame: nothing to run on.
    if (instance->snapshot.red == nullptr || instance->selected == nullptr)
        return;
    const int32_t mode = getInt(panelControls.modeChoice, AttrValue);
    storeControls(instance->selected);
    SnapshotFrameSource source(instance);
    if (GlowKernel kernel = kernelForMode(mode))
        kernel(instance, instance->selected, source);
    setInt(panelControls.displayPopup, AttrValue, DisplayPreview);
    drawCurrentPanel(DrawRefresh);
}

void ORVIT_CALL drawNothing(ControlHandle, void*, int32_t) {}

} // namespace orvit
