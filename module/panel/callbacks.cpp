#include "module/panel/callbacks.h"

#include "module/filter/color_ramp.h"
#include "module/panel/panel_state.h"
#include "module/services/services.h"
#include "module/settings/surface_table.h"

#include <cstring>
#include <utility>

namespace orvit {

namespace {

FilterInstance* asInstance(void* userData) {
    return static_cast<FilterInstance*>(userData);
}

// The button shows whether the envelope exists; its field is ghosted while it does.
void showEnvelope(EnvelopeHandle envelope, ControlHandle button, ControlHandle field) {
    setInt(button, AttrValue, envelope != nullptr ? 1 : 0);
    drawControl(field, envelope != nullptr ? DrawGhosted : DrawNormal);
}

// The shown setting of the popup's value k, made with defaults if it has none.
GlowSetting* settingOfPopupValue(FilterInstance* instance) {
    const int32_t k = getInt(panelControls.specialPopup, AttrValue);
    if (k < 0 || k >= instance->specialValueCount)
        return nullptr;
    return findOrAddSetting(instance, instance->specialValues[k]);
}

// Pressing "E": edit a copy of the envelope; only an accepted edit replaces
// it, a removal drops it, and anything else leaves setting, button and field
// as they were (the copy is destroyed, never stored).
void editEnvelopeOf(EnvelopeHandle& envelope, ControlHandle button, ControlHandle field,
                    const char* title, const char* label, float high) {
    EnvelopeHandle edited = createEnvelope();
    if (edited == nullptr) {
        showEnvelope(envelope, button, field);
        return;
    }
    if (envelope != nullptr)
        copyEnvelope(envelope, edited);
    EnvelopeEditRequest request;
    std::memset(&request, 0, sizeof request);
    request.panelServices = const_cast<PanelServices*>(panelService);
    request.title = title;
    request.label = label;
    request.low = 0.0f;
    request.high = high;
    const int32_t result = editEnvelope(edited, &request);
    if (result == 1) {
        std::swap(envelope, edited); // the old envelope goes with the copy below
    } else if (result == -1) {
        destroyEnvelope(envelope);
        envelope = nullptr;
    }
    showEnvelope(envelope, button, field);
    destroyEnvelope(edited);
}

} // namespace

void loadControls(GlowSetting* setting) {
    const PanelControls& c = panelControls;
    setInt(c.valueEnableBox, AttrValue, setting->enabled);
    for (int i = 0; i < kColorKeyCount; ++i) {
        setInt(c.keyEnableBox[i], AttrValue, setting->keyEnabled[i]);
        setInt(c.keyPositionSlider[i], AttrValue, setting->keyPosition[i]);
        setVector(c.keyColorControl[i], setting->keyRed[i], setting->keyGreen[i],
                  setting->keyBlue[i]);
    }
    setInt(c.modeChoice, AttrValue, setting->mode);
    setFloat(c.distanceField, setting->distance);
    setFloat(c.transparencyField, setting->transparency);
    drawCurrentPanel(DrawRefresh);
    showEnvelope(setting->sizeEnvelope, c.sizeEnvelopeButton, c.distanceField);
    showEnvelope(setting->transparencyEnvelope, c.transEnvelopeButton, c.transparencyField);
}

void storeControls(GlowSetting* setting) {
    const PanelControls& c = panelControls;
    for (int i = 0; i < kColorKeyCount; ++i) {
        setting->keyEnabled[i] = getInt(c.keyEnableBox[i], AttrValue);
        setting->keyPosition[i] = getInt(c.keyPositionSlider[i], AttrValue);
        getVector(c.keyColorControl[i], &setting->keyRed[i], &setting->keyGreen[i],
                  &setting->keyBlue[i]);
    }
    setting->mode = getInt(c.modeChoice, AttrValue);
    setting->distance = getFloat(c.distanceField);
    setting->transparency = getFloat(c.transparencyField);
}

void ORVIT_CALL valueEnableChanged(ControlHandle, void* userData) {
    FilterInstance* instance = asInstance(userData);
    const int32_t v = getInt(panelControls.valueEnableBox, AttrValue);
    GlowSetting* g = settingOfPopupValue(instance);
    if (g != nullptr)
        g->enabled = v;
}

void ORVIT_CALL specialBufferChanged(ControlHandle, void* userData) {
    FilterInstance* instance = asInstance(userData);
    storeControls(instance->selected);
    const int32_t k = getInt(panelControls.specialPopup, AttrValue);
    // An index the popup cannot hold leaves the shown setting as it is.
    if (k < 0 || k >= instance->specialValueCount)
        return;
    const int32_t v = instance->specialValues[k];
    setInt(panelControls.surfacePopup, AttrValue, surfaceIndexByValue(instance, v));
    GlowSetting* g = findOrAddSetting(instance, v);
    if (g == nullptr)
        return;
    GlowSetting* old = instance->selected;
    instance->selected = g;
    loadControls(g);
    if (g != old)
        releaseGlowLayer(instance);
}

void ORVIT_CALL surfaceChanged(ControlHandle, void*) {}

void ORVIT_CALL copyPressed(ControlHandle, void* userData) {
    FilterInstance* instance = asInstance(userData);
    storeControls(instance->selected);
    copySetting(&instance->clipboard, instance->selected);
}

void ORVIT_CALL pastePressed(ControlHandle, void* userData) {
    FilterInstance* instance = asInstance(userData);
    GlowSetting* s = instance->selected;
    const int32_t v = s->value;
    copySetting(s, &instance->clipboard);
    s->value = v;
    loadControls(s);
}

void ORVIT_CALL keyChanged(ControlHandle, void*) {
    drawControl(panelControls.gradientStrip, DrawRefresh);
}

void ORVIT_CALL drawGradient(ControlHandle control, void* userData, int32_t) {
    FilterInstance* instance = asInstance(userData);
    // A host may draw before the shown setting is chosen: nothing to show yet.
    if (instance->selected == nullptr)
        return;
    const int32_t ox = getInt(control, AttrOriginX);
    const int32_t oy = getInt(control, AttrOriginY);
    storeControls(instance->selected);
    ColorRamp ramp;
    buildColorRamp(&ramp, instance->selected, 500);
    const DrawFuncs* draw = panelService->drawFuncs;
    if (ramp.keyCount == 0) {
        draw->drawBox(currentPanel, kNoKeyColour, ox, oy, 500, 10);
    } else if (ramp.keyCount == 1) {
        draw->drawRGBBox(currentPanel, ramp.red[0], ramp.green[0], ramp.blue[0], ox, oy, 500, 10);
    } else {
        for (int32_t i = 0; i < 500; ++i)
            draw->drawRGBBox(currentPanel, ramp.red[i], ramp.green[i], ramp.blue[i], ox + i, oy, 1,
                             10);
    }
    freeColorRamp(&ramp);
}

void ORVIT_CALL sizeEnvelopePressed(ControlHandle, void* userData) {
    GlowSetting* s = asInstance(userData)->selected;
    editEnvelopeOf(s->sizeEnvelope, panelControls.sizeEnvelopeButton, panelControls.distanceField,
                   "Glow size envelope", "Size", 0.1f);
}

void ORVIT_CALL transEnvelopePressed(ControlHandle, void* userData) {
    GlowSetting* s = asInstance(userData)->selected;
    editEnvelopeOf(s->transparencyEnvelope, panelControls.transEnvelopeButton,
                   panelControls.transparencyField, "Glow trans envelope", "Transparency", 100.0f);
}

} // namespace orvit
