// Scans one object file made of the fuzzer's bytes (a file in memory), through
// the item and object services, and checks the table the scan leaves behind.
#include "module/scan/object_scan.h"
#include "module/settings/surface_table.h"
#include "tests/fuzz/memory_file.h"
#include "tests/support/fakes/fake_items.h"

#include <cstdint>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// Sorted by name, no record of four zero bytes, and the special values are
// exactly the distinct non-zero bytes, ascending.
void checkTable(const orvit::FilterInstance* instance) {
    bool seen[256] = {};
    for (int32_t i = 0; i < instance->surfaceCount; ++i) {
        const orvit::SurfaceBuffers* s = instance->surfaces[i];
        if (i > 0)
            check(orvit::compareSurfaceNames(instance->surfaces[i - 1]->name, s->name) <= 0);
        check(s->buffers[0] | s->buffers[1] | s->buffers[2] | s->buffers[3]);
        for (uint8_t b : s->buffers)
            seen[b] = true;
    }
    int32_t n = 0;
    for (int v = 1; v < 256; ++v)
        if (seen[v]) {
            check(n < instance->specialValueCount && instance->specialValues[n] == v);
            ++n;
        }
    check(n == instance->specialValueCount);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzing::MemoryFile file("object_scan_fuzz");
    file.assign(data, size);

    orvit::FilterInstance* instance = orvit::createInstance();
    fakes::FakeItems items;
    items.objectFiles = {file.path()};
    orvit::scanObjectSurfaces(instance, items.itemInfo(), items.objectInfo());
    checkTable(instance);
    orvit::destroyInstance(instance);
    return 0;
}
