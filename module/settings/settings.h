// Filter instance, glow settings and the surface table.
#pragma once

#include "module/abi/envelope.h"

#include <cstddef>
#include <cstdint>

namespace orvit {

struct FilterInstance;
struct WorkingPlanes;

enum GlowMode : int32_t { ModeFixed = 0, ModeDepth = 1, ModeGFixed = 2, ModeGDepth = 3 };

constexpr int kColorKeyCount = 5;

// The glow of one special-buffer value. The five colour keys are stored
// column-wise: key i is (keyEnabled[i], keyRed[i], keyGreen[i], keyBlue[i], keyPosition[i]).
struct GlowSetting {
    int32_t value;
    int32_t enabled;
    int32_t keyEnabled[kColorKeyCount];
    int32_t keyRed[kColorKeyCount];
    int32_t keyGreen[kColorKeyCount];
    int32_t keyBlue[kColorKeyCount];
    int32_t keyPosition[kColorKeyCount];
    int32_t mode;
    double distance;     // fraction of the frame width (Fixed modes) or scene length (Depth modes)
    double transparency; // percent
    EnvelopeHandle sizeEnvelope;
    EnvelopeHandle transparencyEnvelope;
    FilterInstance* owner;
};

struct SurfaceBuffers {
    char* name; // owned
    uint8_t buffers[4];
};

// The 256 x 192 capture of the last frame.
constexpr int32_t kSnapshotWidth = 256;
constexpr int32_t kSnapshotHeight = 192;

struct FilterInstance {
    int32_t enabled;
    GlowSetting** settings;
    int32_t settingCount;
    GlowSetting* selected; // borrowed: points into settings while the panel is open
    SurfaceBuffers** surfaces;
    int32_t surfaceCount;
    int32_t* specialValues;
    int32_t specialValueCount;
    struct {
        uint8_t* red;
        uint8_t* green;
        uint8_t* blue;
        uint8_t* special;
        float* depth;
    } snapshot;
    float maxDepth;
    float minDepth;
    GlowSetting clipboard;
    // The filter's working planes (module/filter/working_planes.h), absent
    // until it first needs them; destroyInstance hands them back through
    // releaseWorking.
    WorkingPlanes* working;
    void (*releaseWorking)(WorkingPlanes* working);
};

// Instances and settings.
FilterInstance* createInstance();
void destroyInstance(FilterInstance* instance);
void copyInstance(FilterInstance* destination, const FilterInstance* source);
void initSetting(GlowSetting* setting, FilterInstance* owner, int32_t value);
void releaseEnvelopes(GlowSetting* setting);
void copySetting(GlowSetting* destination, const GlowSetting* source);
GlowSetting* appendSetting(FilterInstance* instance, int32_t value);
GlowSetting* findOrAddSetting(FilterInstance* instance, int32_t value);
// Releases every entry of the list (envelopes, then the entry) and the array.
void releaseSettings(FilterInstance* instance);
// Obtains the five snapshot planes unless present; false (all five absent)
// when any cannot be obtained.
bool obtainSnapshot(FilterInstance* instance);
// Releases the snapshot's planes; each becomes absent.
void releaseSnapshot(FilterInstance* instance);

} // namespace orvit
