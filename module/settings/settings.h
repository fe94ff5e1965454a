// Filter instance, glow settings and the surface table.
#pragma once

#include "module/abi/envelope.h"

#include <cstddef>
#include <cstdint>

namespace orvit {

struct FilterInstance;

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

// One kernel run's glow: ramp indices per colour and the strength, each
// width x height + 1 bytes (the spare byte gives an empty frame planes too);
// planes absent and size 0 between runs.
struct GlowLayer {
    uint8_t* red;
    uint8_t* green;
    uint8_t* blue;
    uint8_t* strength;
    int32_t width;
    int32_t height;
};

// Planes kept from one enabled frame to the next, so that the next frame of
// the same size takes them again instead of fresh pages: the four layer
// planes and the three accumulator planes (present once a frame had two
// settings), contents left over. Released by a frame of another size, by a
// disabled frame and by destroyInstance.
struct SparePlanes {
    uint8_t* layer[4]; // red, green, blue, strength
    uint8_t* accumulator[3];
    int32_t width;
    int32_t height;
};

// A host reads this record as it is laid out: the fields up to `clipboard`
// stay in this order, and new ones only follow it.
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
    GlowLayer glowLayer;
    float maxDepth;
    float minDepth;
    GlowSetting clipboard;
    SparePlanes spare;
};

// The records' field order and widths, in every build: a host or tool reads
// an instance as laid out here.
static_assert(
    orvit_layout::inOrder({ORVIT_FIELD(GlowSetting, value, 4), ORVIT_FIELD(GlowSetting, enabled, 4),
                           ORVIT_FIELD(GlowSetting, keyEnabled, 4 * kColorKeyCount),
                           ORVIT_FIELD(GlowSetting, keyRed, 4 * kColorKeyCount),
                           ORVIT_FIELD(GlowSetting, keyGreen, 4 * kColorKeyCount),
                           ORVIT_FIELD(GlowSetting, keyBlue, 4 * kColorKeyCount),
                           ORVIT_FIELD(GlowSetting, keyPosition, 4 * kColorKeyCount),
                           ORVIT_FIELD(GlowSetting, mode, 4), ORVIT_FIELD(GlowSetting, distance, 8),
                           ORVIT_FIELD(GlowSetting, transparency, 8),
                           ORVIT_POINTER(GlowSetting, sizeEnvelope),
                           ORVIT_POINTER(GlowSetting, transparencyEnvelope),
                           ORVIT_POINTER(GlowSetting, owner)}),
    "GlowSetting: value, enabled, the five key columns, mode, distance, transparency, "
    "the two envelopes, owner");
static_assert(orvit_layout::inOrder({ORVIT_FIELD(FilterInstance, enabled, 4),
                                     ORVIT_POINTER(FilterInstance, settings),
                                     ORVIT_FIELD(FilterInstance, settingCount, 4),
                                     ORVIT_POINTER(FilterInstance, selected),
                                     ORVIT_POINTER(FilterInstance, surfaces),
                                     ORVIT_FIELD(FilterInstance, surfaceCount, 4),
                                     ORVIT_POINTER(FilterInstance, specialValues),
                                     ORVIT_FIELD(FilterInstance, specialValueCount, 4),
                                     ORVIT_POINTER(FilterInstance, snapshot.red),
                                     ORVIT_POINTER(FilterInstance, snapshot.green),
                                     ORVIT_POINTER(FilterInstance, snapshot.blue),
                                     ORVIT_POINTER(FilterInstance, snapshot.special),
                                     ORVIT_POINTER(FilterInstance, snapshot.depth),
                                     ORVIT_POINTER(FilterInstance, glowLayer.red),
                                     ORVIT_POINTER(FilterInstance, glowLayer.green),
                                     ORVIT_POINTER(FilterInstance, glowLayer.blue),
                                     ORVIT_POINTER(FilterInstance, glowLayer.strength),
                                     ORVIT_FIELD(FilterInstance, glowLayer.width, 4),
                                     ORVIT_FIELD(FilterInstance, glowLayer.height, 4),
                                     ORVIT_FIELD(FilterInstance, maxDepth, 4),
                                     ORVIT_FIELD(FilterInstance, minDepth, 4),
                                     ORVIT_FIELD(FilterInstance, clipboard, sizeof(GlowSetting))}),
              "FilterInstance: enabled, settings, settingCount, selected, surfaces, surfaceCount, "
              "specialValues, specialValueCount, the snapshot's five planes, the glow layer's four "
              "planes, width and height, maxDepth, minDepth, clipboard");

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
// Releases the glow layer's planes and sets its size to 0.
void releaseGlowLayer(FilterInstance* instance);
// Releases the spare planes and sets their size to 0.
void releaseSparePlanes(FilterInstance* instance);

} // namespace orvit
