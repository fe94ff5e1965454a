// The table of the scene's surfaces and their special-buffer values.
#pragma once

#include "module/settings/settings.h"

namespace orvit {

// Releases every record, the table and the special values; both counts become 0.
void clearSurfaces(FilterInstance* instance);
// Adds a record unless all four bytes are 0 or the name is null (then null and
// nothing changes); keeps the table sorted by name and rebuilds the special values.
SurfaceBuffers* addSurface(FilterInstance* instance, const char* name, const uint8_t buffers[4]);
// Unsigned byte-wise name order; a prefix sorts first.
int compareSurfaceNames(const char* a, const char* b);

SurfaceBuffers* findSurfaceByName(const FilterInstance* instance, const char* name);
int32_t surfaceIndexByName(const FilterInstance* instance, const char* name);
SurfaceBuffers* findSurfaceByValue(const FilterInstance* instance, int32_t value);
int32_t surfaceIndexByValue(const FilterInstance* instance, int32_t value);

} // namespace orvit
