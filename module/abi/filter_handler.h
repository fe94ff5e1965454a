// The host's image-filter handler record, filled by the handler activation.
#pragma once

#include "abi.h"
#include "frame_access.h"
#include "line_io.h"

#include <cstddef>
#include <cstdint>

extern "C" {

// Opaque filter instance as the host sees it.
typedef void* InstanceHandle;

// All slots are called by the host on its own thread, one at a time per instance.
struct FilterHandler {
    // Slot 1: a new instance owned by the host until destroy, or null.
    InstanceHandle(ORVIT_CALL* create)(void);
    // Slot 2: releases the instance; null is ignored.
    void(ORVIT_CALL* destroy)(InstanceHandle instance);
    // Slot 3: makes `to` a deep copy of `from`'s settings; returns 0.
    int32_t(ORVIT_CALL* copy)(InstanceHandle from, InstanceHandle to);
    // Slot 4: replaces the settings with the lines of `state`; returns 0.
    int32_t(ORVIT_CALL* load)(InstanceHandle instance, const LoadState* state);
    // Slot 5: writes the settings as lines; returns 0.
    int32_t(ORVIT_CALL* save)(InstanceHandle instance, const SaveState* state);
    // Slot 6: filters one frame; the record is used only during the call.
    void(ORVIT_CALL* process)(InstanceHandle instance, const FrameAccess* access);
    // Slot 7: buffers needed, one bit per buffer type code; 0x1001.
    uint32_t(ORVIT_CALL* flags)(InstanceHandle instance);
};

} // extern "C"

#if ORVIT_PTR32
static_assert(sizeof(FilterHandler) == 28, "seven slots");
static_assert(offsetof(FilterHandler, flags) == 24, "flags is slot 7");
#endif

// Slot order, in every build.
static_assert(orvit_layout::inOrder(
                  {ORVIT_POINTER(FilterHandler, create), ORVIT_POINTER(FilterHandler, destroy),
                   ORVIT_POINTER(FilterHandler, copy), ORVIT_POINTER(FilterHandler, load),
                   ORVIT_POINTER(FilterHandler, save), ORVIT_POINTER(FilterHandler, process),
                   ORVIT_POINTER(FilterHandler, flags)}),
              "FilterHandler: create, destroy, copy, load, save, process, flags");
