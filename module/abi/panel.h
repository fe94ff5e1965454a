// "LWPanelServices": the host's panel service, its controls and drawing
// record, as far as the module uses them. All of it runs on the thread of the
// interface activation, inside its call.
#pragma once

#include "abi.h"

#include <cstddef>
#include <cstdint>

extern "C" {

// Opaque panel handle, owned by the host from createPanel to destroyPanel.
typedef void* PanelHandle;

// Panel attribute codes of getPanelAttr and setPanelAttr.
enum PanelAttr : int32_t { PanelHeight = 3, PanelUserData = 12 };

// Draw modes of drawPanel and drawControl, and of draw callbacks.
enum DrawMode : int32_t { DrawNormal = 1, DrawGhosted = 2, DrawRefresh = 3 };

// Control attribute codes of getControlAttr and setControlAttr.
enum ControlAttr : int32_t {
    AttrX = 0,              // integer: left edge in panel pixels
    AttrY = 1,              // integer: top edge
    AttrWidth = 2,          // integer
    AttrHeight = 3,         // integer
    AttrValue = 4,          // integer, integer vector or double, by control type
    AttrOriginX = 5,        // integer: panel x of an area control's drawing origin
    AttrOriginY = 6,        // integer: panel y of that origin
    AttrDrawCallback = 13,  // pointer: ControlDrawFunc
    AttrEventCallback = 14, // pointer: ControlEventFunc
    AttrUserData = 16,      // pointer: handed to both callbacks
};

// Payload type codes of ControlValue.
enum ValueType : int32_t { ValueInt = 2, ValueFloat = 3, ValueIntVector = 5 };

// The value exchanged with getControlAttr and setControlAttr. Fixed layout:
// the type at 0; an integer (or, on the host's 32-bit targets, a pointer) at
// 4; an integer vector at 4, 8 and 12; a double at 8. Packed to 4 so that the
// double sits at 8 on every target.
#pragma pack(push, 4)
struct ControlReal {
    int32_t unused;
    double value;
};
struct ControlValue {
    int32_t type; // a ValueType
    union {
        int32_t intValue;     // ValueInt
        int32_t intVector[3]; // ValueIntVector: red, green, blue
        void* pointer;        // ValueInt carrying user data or a callback
        ControlReal real;     // ValueFloat
    };
};
#pragma pack(pop)

// Descriptor type codes of ControlDesc.
enum DescType : int32_t {
    DescButton = 2, // "ButtonControl"
    DescFloat = 4,  // "FloatControl"
    DescRGB = 5,    // "MiniRGBControl"
    DescBool = 8,   // "BoolControl", "BoolButtonControl"
    DescList = 9,   // "PopupControl", "ChoiceControl"
    DescText = 12,  // "TextControl"
    DescRange = 15, // "MiniSliderControl", "PercentControl"
    DescArea = 19,  // "AreaControl"
};

// The descriptor handed to addControl: the type code, then the fields of
// that code. The host reads it during addControl only.
struct ListDesc {
    const char* const* items; // null-terminated item texts
    int32_t listParam;        // 3 for popups, 0 for the mode choice
};
struct TextDesc {
    const char* const* lines; // null-terminated text lines
};
struct RangeDesc {
    int32_t width;
    int32_t min;
    int32_t max;
};
struct AreaDesc {
    int32_t width; // pixels
    int32_t height;
};
struct ControlDesc {
    int32_t type; // a DescType
    union {
        ListDesc list;   // DescList
        TextDesc text;   // DescText
        RangeDesc range; // DescRange
        AreaDesc area;   // DescArea
    };
};

struct Control;
typedef Control* ControlHandle;

// Routines the module binds to a control; `userData` is the control's
// UserData. A draw callback also gets the DrawMode, which it may ignore.
typedef void(ORVIT_CALL* ControlEventFunc)(ControlHandle control, void* userData);
typedef void(ORVIT_CALL* ControlDrawFunc)(ControlHandle control, void* userData, int32_t mode);

// The host's control record; the host keeps its own data after these slots.
struct Control {
    // Slot 0: redraws the control in `mode` (a DrawMode); Ghosted disables it
    // for the user, Normal enables it again.
    void(ORVIT_CALL* drawControl)(ControlHandle control, int32_t mode);
    // Slot 1: the host fills the payload of *value for `attr` (a ControlAttr).
    void(ORVIT_CALL* getControlAttr)(ControlHandle control, int32_t attr, ControlValue* value);
    // Slot 2: the host takes `attr` from *value; it does not call the event
    // callback for it.
    void(ORVIT_CALL* setControlAttr)(ControlHandle control, int32_t attr, ControlValue* value);
};

// The drawing record of area controls. Colours are 0..255, coordinates are
// panel pixels; drawing lands in the panel's picture at once.
struct DrawFuncs {
    void* slot0; // unused
    // Slot 1: one pixel.
    void(ORVIT_CALL* drawRGBPixel)(PanelHandle panel, int32_t red, int32_t green, int32_t blue,
                                   int32_t x, int32_t y);
    void* slot2; // unused
    // Slot 3: a filled box in host palette colour `colour`.
    void(ORVIT_CALL* drawBox)(PanelHandle panel, int32_t colour, int32_t x, int32_t y,
                              int32_t width, int32_t height);
    // Slot 4: a filled box.
    void(ORVIT_CALL* drawRGBBox)(PanelHandle panel, int32_t red, int32_t green, int32_t blue,
                                 int32_t x, int32_t y, int32_t width, int32_t height);
};

struct PanelServices {
    // Slot 0: a new panel titled `title`; `self` is this record. Null on failure.
    PanelHandle(ORVIT_CALL* createPanel)(const char* title, const PanelServices* self);
    // Slot 1: releases the panel and its controls.
    void(ORVIT_CALL* destroyPanel)(PanelHandle panel);
    // Slot 2: runs the panel modally with `flags`; returns when the user closes
    // it: non-zero OK, 0 Cancel. Callbacks run inside this call.
    int32_t(ORVIT_CALL* openPanel)(PanelHandle panel, int32_t flags);
    void* slot3; // unused
    // Slot 4: redraws the whole panel in `mode` (a DrawMode); draw callbacks
    // of area controls run inside this call.
    void(ORVIT_CALL* drawPanel)(PanelHandle panel, int32_t mode);
    void* slot5; // unused
    // Slot 6: writes the 32-bit payload of `attr` (a PanelAttr) to *value.
    void(ORVIT_CALL* getPanelAttr)(PanelHandle panel, int32_t attr, void* value);
    // Slot 7: sets `attr` from the payload at `value`: the height as a 32-bit
    // integer, the user data as a pointer.
    void(ORVIT_CALL* setPanelAttr)(PanelHandle panel, int32_t attr, void* value);
    // Slot 8: adds a control of `type` (e.g. "BoolControl") described by `desc`
    // with `label`, placed by the host below the others; returns its handle,
    // owned by the panel, or null when none could be made.
    ControlHandle(ORVIT_CALL* addControl)(PanelHandle panel, const char* type,
                                          const ControlDesc* desc, const char* label);
    void* slot9; // unused
    // Slot 10 (member): the drawing record for area controls, owned by the host.
    const DrawFuncs* drawFuncs;
};

} // extern "C"

static_assert(offsetof(ControlValue, intValue) == 4, "integer at 4");
static_assert(offsetof(ControlValue, real) + offsetof(ControlReal, value) == 8, "double at 8");
#if ORVIT_PTR32
static_assert(sizeof(ControlValue) == 16, "type and twelve payload bytes");
static_assert(offsetof(ControlValue, pointer) == 4, "pointer at 4");
static_assert(sizeof(ControlDesc) == 16, "type and at most three fields");
static_assert(offsetof(ControlDesc, list.items) == 4, "items at 4");
static_assert(offsetof(ControlDesc, list.listParam) == 8, "listParam at 8");
static_assert(offsetof(ControlDesc, range.max) == 12, "rangeMax at 12");
static_assert(sizeof(Control) == 12, "three operation slots");
static_assert(offsetof(DrawFuncs, drawRGBPixel) == 4, "drawRGBPixel is slot 1");
static_assert(offsetof(DrawFuncs, drawBox) == 12, "drawBox is slot 3");
static_assert(offsetof(DrawFuncs, drawRGBBox) == 16, "drawRGBBox is slot 4");
static_assert(sizeof(PanelServices) == 44, "eleven slots");
static_assert(offsetof(PanelServices, destroyPanel) == 4, "destroyPanel is slot 1");
static_assert(offsetof(PanelServices, openPanel) == 8, "openPanel is slot 2");
static_assert(offsetof(PanelServices, drawPanel) == 16, "drawPanel is slot 4");
static_assert(offsetof(PanelServices, getPanelAttr) == 24, "getPanelAttr is slot 6");
static_assert(offsetof(PanelServices, setPanelAttr) == 28, "setPanelAttr is slot 7");
static_assert(offsetof(PanelServices, addControl) == 32, "addControl is slot 8");
static_assert(offsetof(PanelServices, drawFuncs) == 40, "drawFuncs is slot 10");
#endif

// Slot order, in every build.
static_assert(orvit_layout::inOrder({ORVIT_POINTER(Control, drawControl),
                                     ORVIT_POINTER(Control, getControlAttr),
                                     ORVIT_POINTER(Control, setControlAttr)}),
              "Control: three slots");
static_assert(
    orvit_layout::inOrder({ORVIT_POINTER(DrawFuncs, slot0), ORVIT_POINTER(DrawFuncs, drawRGBPixel),
                           ORVIT_POINTER(DrawFuncs, slot2), ORVIT_POINTER(DrawFuncs, drawBox),
                           ORVIT_POINTER(DrawFuncs, drawRGBBox)}),
    "DrawFuncs: five slots");
static_assert(
    orvit_layout::inOrder(
        {ORVIT_POINTER(PanelServices, createPanel), ORVIT_POINTER(PanelServices, destroyPanel),
         ORVIT_POINTER(PanelServices, openPanel), ORVIT_POINTER(PanelServices, slot3),
         ORVIT_POINTER(PanelServices, drawPanel), ORVIT_POINTER(PanelServices, slot5),
         ORVIT_POINTER(PanelServices, getPanelAttr), ORVIT_POINTER(PanelServices, setPanelAttr),
         ORVIT_POINTER(PanelServices, addControl), ORVIT_POINTER(PanelServices, slot9),
         ORVIT_POINTER(PanelServices, drawFuncs)}),
    "PanelServices: eleven slots");
