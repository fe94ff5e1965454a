// Reads the surfaces and their special-buffer values from the scene's object files.
#pragma once

#include "module/abi/items.h"
#include "module/settings/settings.h"

namespace orvit {

// Empties the instance's surface table, then walks every object of the scene
// (firstItem(ItemObject, 0), nextItem) and adds the special-buffer bytes of each
// "SURF" chunk of the object's "FORM"/"LWOB" file. A file used by several objects
// is read once per object. Unreadable or damaged files end quietly, keeping what
// was added before the damage. Null services leave the table empty.
void scanObjectSurfaces(FilterInstance* instance, const ItemInfo* itemInfo,
                        const ObjectInfo* objectInfo);

// The walk over one file, for the scan above and for the fuzz target.
void scanObjectFile(FilterInstance* instance, const char* fileName);

} // namespace orvit
