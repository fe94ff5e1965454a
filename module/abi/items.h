// Item, object and camera information services.
#pragma once

#include "abi.h"

#include <cstddef>
#include <cstdint>

extern "C" {

// Opaque item identifier; null means no item.
typedef void* ItemId;

// Item type codes of firstItem.
enum ItemType : int32_t { ItemObject = 0, ItemCamera = 2 };

// "LW Item Info 2". Items are owned by the host.
struct ItemInfo {
    // Slot 0: first item of `type` under `parent` (0), or null.
    ItemId(ORVIT_CALL* firstItem)(int32_t type, ItemId parent);
    // Slot 1: the following item of the same type, or null.
    ItemId(ORVIT_CALL* nextItem)(ItemId item);
};

// "LW Object Info".
struct ObjectInfo {
    // Slot 0: the object's file name, NUL-terminated, owned by the host; may be null.
    const char*(ORVIT_CALL* objectFileName)(ItemId object);
};

// "LW Camera Info". Only the sixth operation is used.
struct CameraInfo {
    void* slot0; // unused
    void* slot1; // unused
    void* slot2; // unused
    void* slot3; // unused
    void* slot4; // unused
    // Slot 5: writes two view values of `camera` at `time`; the first, K, is
    // tan(horizontal field of view / 2). The result is ignored.
    int32_t(ORVIT_CALL* viewValues)(ItemId camera, double time, double* first, double* second);
};

} // extern "C"

#if ORVIT_PTR32
static_assert(offsetof(ItemInfo, nextItem) == 4, "nextItem is slot 1");
static_assert(offsetof(CameraInfo, viewValues) == 20, "viewValues is slot 5");
#endif

// Slot order, in every build.
static_assert(orvit_layout::inOrder({ORVIT_POINTER(ItemInfo, firstItem),
                                     ORVIT_POINTER(ItemInfo, nextItem)}),
              "ItemInfo: two slots");
static_assert(orvit_layout::inOrder({ORVIT_POINTER(ObjectInfo, objectFileName)}),
              "ObjectInfo: one slot");
static_assert(orvit_layout::inOrder(
                  {ORVIT_POINTER(CameraInfo, slot0), ORVIT_POINTER(CameraInfo, slot1),
                   ORVIT_POINTER(CameraInfo, slot2), ORVIT_POINTER(CameraInfo, slot3),
                   ORVIT_POINTER(CameraInfo, slot4), ORVIT_POINTER(CameraInfo, viewValues)}),
              "CameraInfo: viewValues is slot 5");
