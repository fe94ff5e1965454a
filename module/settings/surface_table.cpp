#include "module/settings/surface_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace orvit {

void clearSurfaces(FilterInstance* instance) {
    for (int32_t i = 0; i < instance->surfaceCount; ++i) {
        std::free(instance->surfaces[i]->name);
        delete instance->surfaces[i];
    }
    std::free(instance->surfaces);
    std::free(instance->specialValues);
    instance->surfaces = nullptr;
    instance->surfaceCount = 0;
    instance->specialValues = nullptr;
    instance->specialValueCount = 0;
}

int compareSurfaceNames(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    while (*x != 0 && *x == *y) {
        ++x;
        ++y;
    }
    return static_cast<int>(*x) - static_cast<int>(*y);
}

namespace {

// The list with the record's non-zero bytes added, each value once,
// ascending: the same list a rebuild from every record gives, without
// walking the table. False when out of memory (the list is then absent).
bool addSpecialValues(FilterInstance* instance, const SurfaceBuffers* record) {
    bool seen[256] = {};
    for (int32_t i = 0; i < instance->specialValueCount; ++i)
        seen[instance->specialValues[i]] = true;
    for (uint8_t b : record->buffers)
        if (b != 0)
            seen[b] = true;
    std::free(instance->specialValues);
    instance->specialValues = nullptr;
    instance->specialValueCount = 0;
    auto* values = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * 256));
    if (values == nullptr)
        return false;
    int32_t n = 0;
    for (int v = 1; v < 256; ++v)
        if (seen[v])
            values[n++] = v;
    instance->specialValues = values;
    instance->specialValueCount = n;
    return true;
}

} // namespace

SurfaceBuffers* addSurface(FilterInstance* instance, const char* name, const uint8_t buffers[4]) {
    if (name == nullptr)
        return nullptr;
    if (buffers[0] == 0 && buffers[1] == 0 && buffers[2] == 0 && buffers[3] == 0)
        return nullptr;
    auto* record = new (std::nothrow) SurfaceBuffers;
    if (record == nullptr)
        return nullptr;
    size_t length = std::strlen(name);
    record->name = static_cast<char*>(std::malloc(length + 1));
    auto** grown = static_cast<SurfaceBuffers**>(
        std::realloc(instance->surfaces,
                     sizeof(SurfaceBuffers*) * (static_cast<size_t>(instance->surfaceCount) + 1)));
    if (record->name == nullptr || grown == nullptr) {
        std::free(record->name);
        delete record;
        if (grown != nullptr)
            instance->surfaces = grown;
        return nullptr;
    }
    std::memcpy(record->name, name, length + 1);
    std::memcpy(record->buffers, buffers, 4);
    instance->surfaces = grown;
    // The table stays sorted by name: the record goes after every name that
    // sorts before or equal to its own, so a scan costs no sort per record.
    SurfaceBuffers** end = instance->surfaces + instance->surfaceCount;
    SurfaceBuffers** at = std::upper_bound(instance->surfaces, end, record,
                                           [](const SurfaceBuffers* a, const SurfaceBuffers* b) {
                                               return compareSurfaceNames(a->name, b->name) < 0;
                                           });
    std::memmove(at + 1, at, static_cast<size_t>(end - at) * sizeof(SurfaceBuffers*));
    *at = record;
    ++instance->surfaceCount;
    addSpecialValues(instance, record);
    return record;
}

int32_t surfaceIndexByName(const FilterInstance* instance, const char* name) {
    if (name == nullptr)
        return -1;
    for (int32_t i = 0; i < instance->surfaceCount; ++i)
        if (compareSurfaceNames(instance->surfaces[i]->name, name) == 0)
            return i;
    return -1;
}

SurfaceBuffers* findSurfaceByName(const FilterInstance* instance, const char* name) {
    int32_t i = surfaceIndexByName(instance, name);
    return i < 0 ? nullptr : instance->surfaces[i];
}

int32_t surfaceIndexByValue(const FilterInstance* instance, int32_t value) {
    for (int32_t i = 0; i < instance->surfaceCount; ++i)
        for (uint8_t b : instance->surfaces[i]->buffers)
            if (static_cast<int32_t>(b) == value)
                return i;
    return -1;
}

SurfaceBuffers* findSurfaceByValue(const FilterInstance* instance, int32_t value) {
    int32_t i = surfaceIndexByValue(instance, value);
    return i < 0 ? nullptr : instance->surfaces[i];
}

} // namespace orvit
