// "LWPanelServices": the host's panel service, as far as the module uses it.
#pragma once

#include "abi.h"

#include <cstddef>
#include <cstdint>

extern "C" {

// Opaque panel handle, owned by the host from createPanel to destroyPanel.
typedef void* PanelHandle;
// Opaque control handle, owned by the host; valid while its panel exists.
typedef void* ControlHandle;

// Panel attribute codes of getPanelAttr and setPanelAttr.
enum PanelAttr : int32_t { PanelHeight = 3, PanelUserData = 12 };

// Draw modes of drawPanel and drawControl.
enum DrawMode : int32_t { DrawNormal = 1, DrawGhosted = 2, DrawRefresh = 3 };

// Control descriptor and drawing record; their fields belong to the panel.
struct ControlDesc;
struct DrawFuncs;

// All slots are called on the thread of the interface activation.
struct PanelServices {
    // Slot 0: a new panel titled `title`; `self` is this record. Null on failure.
    PanelHandle(ORVIT_CALL* createPanel)(const char* title, const PanelServices* self);
    // Slot 1: releases the panel and its controls.
    void(ORVIT_CALL* destroyPanel)(PanelHandle panel);
    // Slot 2: runs the panel modally with `flags`; returns when the user closes
    // it: non-zero OK, 0 Cancel.
    int32_t(ORVIT_CALL* openPanel)(PanelHandle panel, int32_t flags);
    void* slot3; // unused
    // Slot 4: redraws the whole panel in `mode` (a DrawMode).
    void(ORVIT_CALL* drawPanel)(PanelHandle panel, int32_t mode);
    void* slot5; // unused
    // Slot 6: writes the 32-bit payload of `attr` (a PanelAttr) to *value.
    void(ORVIT_CALL* getPanelAttr)(PanelHandle panel, int32_t attr, void* value);
    // Slot 7: sets `attr` from the payload at `value`: the height as a 32-bit
    // integer, the user data as a pointer.
    void(ORVIT_CALL* setPanelAttr)(PanelHandle panel, int32_t attr, void* value);
    // Slot 8: adds a control of `type` (e.g. "BoolControl") described by `desc`
    // with `label`; returns its handle, owned by the panel.
    ControlHandle(ORVIT_CALL* addControl)(PanelHandle panel, const char* type,
                                          const ControlDesc* desc, const char* label);
    void* slot9; // unused
    // Slot 10 (member): the drawing record for area controls, owned by the host.
    const DrawFuncs* drawFuncs;
};

} // extern "C"

#if ORVIT_PTR32
static_assert(sizeof(PanelServices) == 44, "eleven slots");
static_assert(offsetof(PanelServices, destroyPanel) == 4, "destroyPanel is slot 1");
static_assert(offsetof(PanelServices, openPanel) == 8, "openPanel is slot 2");
static_assert(offsetof(PanelServices, drawPanel) == 16, "drawPanel is slot 4");
static_assert(offsetof(PanelServices, getPanelAttr) == 24, "getPanelAttr is slot 6");
static_assert(offsetof(PanelServices, setPanelAttr) == 28, "setPanelAttr is slot 7");
static_assert(offsetof(PanelServices, addControl) == 32, "addControl is slot 8");
static_assert(offsetof(PanelServices, drawFuncs) == 40, "drawFuncs is slot 10");
#endif
