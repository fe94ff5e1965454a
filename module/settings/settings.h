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
    struct {
        uint8_t* red;
        uint8_t* green;
        uint8_t* blue;
        uint8_t* strength;
        int32_t width;
        int32_t height;
    } glowLayer;
    float maxDepth;
    float minDepth;
    GlowSetting clipboard;
    // Working planes kept between enabled frames, so the next frame of the
    // same size takes them again instead of fresh pages: the four layer
    // planes and the three accumulator planes (present once a frame had two
    // settings), width x height + 1 bytes each, contents left over. The layer
    // itself is still empty between frames. Released by a frame of another
    // size, by a disabled frame and by destroyInstance.
    struct {
        uint8_t* layer[4]; // red, green, blue, strength
        uint8_t* accumulator[3];
        int32_t width;
        int32_t height;
    } spare;
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
// Releases the glow layer's planes and sets its size to 0.
void releaseGlowLayer(FilterInstance* instance);
// Releases the spare planes kept between frames.
void releaseSparePlanes(FilterInstance* instance);
// A working plane of `count` + 1 zero bytes: `spare` cleared and taken (left
// null) when present, else a fresh one; null when memory runs out.
uint8_t* takeSparePlane(uint8_t*& spare, size_t count);

} // namespace orvit
