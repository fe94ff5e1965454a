#include "module/settings/settings.h"

#include "module/services/services.h"
#include "module/settings/surface_table.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace orvit {

namespace {

void freeSetting(GlowSetting* setting) {
    releaseEnvelopes(setting);
    delete setting;
}

template <typename T> void freePlane(T*& plane) {
    std::free(plane);
    plane = nullptr;
}

} // namespace

FilterInstance* createInstance() {
    auto* instance = new (std::nothrow) FilterInstance;
    if (instance == nullptr)
        return nullptr;
    std::memset(static_cast<void*>(instance), 0, sizeof *instance);
    initSetting(&instance->clipboard, instance, 0);
    return instance;
}

void releaseSettings(FilterInstance* instance) {
    for (int32_t i = 0; i < instance->settingCount; ++i)
        freeSetting(instance->settings[i]);
    std::free(instance->settings);
    instance->settings = nullptr;
    instance->settingCount = 0;
}

bool obtainSnapshot(FilterInstance* instance) {
    auto& s = instance->snapshot;
    if (s.red != nullptr)
        return true;
    const size_t count = static_cast<size_t>(kSnapshotWidth) * kSnapshotHeight;
    s.red = static_cast<uint8_t*>(std::malloc(count));
    s.green = static_cast<uint8_t*>(std::malloc(count));
    s.blue = static_cast<uint8_t*>(std::malloc(count));
    s.special = static_cast<uint8_t*>(std::malloc(count));
    s.depth = static_cast<float*>(std::malloc(count * sizeof(float)));
    if (s.red == nullptr || s.green == nullptr || s.blue == nullptr || s.special == nullptr ||
        s.depth == nullptr) {
        releaseSnapshot(instance);
        return false;
    }
    return true;
}

void releaseSnapshot(FilterInstance* instance) {
    freePlane(instance->snapshot.red);
    freePlane(instance->snapshot.green);
    freePlane(instance->snapshot.blue);
    freePlane(instance->snapshot.special);
    freePlane(instance->snapshot.depth);
}

void releaseGlowLayer(FilterInstance* instance) {
    auto& layer = instance->glowLayer;
    freePlane(layer.red);
    freePlane(layer.green);
    freePlane(layer.blue);
    freePlane(layer.strength);
    layer.width = 0;
    layer.height = 0;
}

void releaseSparePlanes(FilterInstance* instance) {
    auto& spare = instance->spare;
    for (uint8_t*& plane : spare.layer)
        freePlane(plane);
    for (uint8_t*& plane : spare.accumulator)
        freePlane(plane);
    spare.width = 0;
    spare.height = 0;
}

void destroyInstance(FilterInstance* instance) {
    if (instance == nullptr)
        return;
    releaseSettings(instance);
    clearSurfaces(instance);
    freePlane(instance->snapshot.red);
    freePlane(instance->snapshot.green);
    freePlane(instance->snapshot.blue);
    releaseGlowLayer(instance);
    freePlane(instance->snapshot.special);
    freePlane(instance->snapshot.depth);
    releaseEnvelopes(&instance->clipboard);
    releaseSparePlanes(instance);
    delete instance;
}

void copyInstance(FilterInstance* destination, const FilterInstance* source) {
    releaseSettings(destination);
    destination->enabled = source->enabled;
    if (source->settingCount <= 0)
        return;
    // Out of memory: the destination keeps the entries copied so far.
    auto** array = static_cast<GlowSetting**>(
        std::malloc(sizeof(GlowSetting*) * static_cast<size_t>(source->settingCount)));
    if (array == nullptr)
        return;
    destination->settings = array;
    for (int32_t i = 0; i < source->settingCount; ++i) {
        auto* entry = new (std::nothrow) GlowSetting;
        if (entry == nullptr)
            return;
        initSetting(entry, nullptr, 0);
        copySetting(entry, source->settings[i]);
        array[i] = entry;
        destination->settingCount = i + 1;
    }
}

void initSetting(GlowSetting* setting, FilterInstance* owner, int32_t value) {
    setting->value = value;
    setting->enabled = 0;
    for (int i = 0; i < kColorKeyCount; ++i) {
        setting->keyEnabled[i] = i == 0 ? 1 : 0;
        setting->keyRed[i] = 255;
        setting->keyGreen[i] = 255;
        setting->keyBlue[i] = 255;
        setting->keyPosition[i] = 20 * i;
    }
    setting->mode = ModeFixed;
    setting->distance = 0.05;
    setting->transparency = 50.0;
    setting->sizeEnvelope = nullptr;
    setting->transparencyEnvelope = nullptr;
    setting->owner = owner;
}

void releaseEnvelopes(GlowSetting* setting) {
    destroyEnvelope(setting->sizeEnvelope);
    destroyEnvelope(setting->transparencyEnvelope);
    setting->sizeEnvelope = nullptr;
    setting->transparencyEnvelope = nullptr;
}

namespace {

// One envelope kind of copySetting: afterwards `destination` holds a copy of
// `source` exactly when `source` is present.
void copyEnvelopeInto(EnvelopeHandle& destination, EnvelopeHandle source) {
    if (source == nullptr) {
        destroyEnvelope(destination);
        destination = nullptr;
        return;
    }
    if (destination == nullptr)
        destination = createEnvelope();
    copyEnvelope(source, destination);
}

} // namespace

void copySetting(GlowSetting* destination, const GlowSetting* source) {
    destination->value = source->value;
    destination->enabled = source->enabled;
    for (int i = 0; i < kColorKeyCount; ++i) {
        destination->keyEnabled[i] = source->keyEnabled[i];
        destination->keyRed[i] = source->keyRed[i];
        destination->keyGreen[i] = source->keyGreen[i];
        destination->keyBlue[i] = source->keyBlue[i];
        destination->keyPosition[i] = source->keyPosition[i];
    }
    destination->mode = source->mode;
    destination->distance = source->distance;
    destination->transparency = source->transparency;
    copyEnvelopeInto(destination->sizeEnvelope, source->sizeEnvelope);
    copyEnvelopeInto(destination->transparencyEnvelope, source->transparencyEnvelope);
}

GlowSetting* appendSetting(FilterInstance* instance, int32_t value) {
    auto* entry = new (std::nothrow) GlowSetting;
    if (entry == nullptr)
        return nullptr;
    auto** grown = static_cast<GlowSetting**>(
        std::realloc(instance->settings,
                     sizeof(GlowSetting*) * (static_cast<size_t>(instance->settingCount) + 1)));
    if (grown == nullptr) {
        delete entry;
        return nullptr;
    }
    initSetting(entry, instance, value);
    instance->settings = grown;
    instance->settings[instance->settingCount] = entry;
    ++instance->settingCount;
    return entry;
}

GlowSetting* findOrAddSetting(FilterInstance* instance, int32_t value) {
    for (int32_t i = 0; i < instance->settingCount; ++i)
        if (instance->settings[i]->value == value)
            return instance->settings[i];
    return appendSetting(instance, value);
}

} // namespace orvit
