#include "demo_objects.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace orvit::demo {

using orvit::host::ObjectChunk;
using orvit::host::ObjectDescription;
using orvit::host::ObjectSurface;

namespace {

// "PNTS": the eight corners of a box, big-endian 32-bit floats.
ObjectChunk boxPoints(float sx, float sy, float sz) {
    ObjectChunk chunk{"PNTS", {}};
    for (int i = 0; i < 8; ++i) {
        const float p[3] = {(i & 1) ? sx : -sx, (i & 2) ? sy : -sy, (i & 4) ? sz : -sz};
        for (float v : p) {
            uint32_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            for (int shift = 24; shift >= 0; shift -= 8)
                chunk.body.push_back(static_cast<uint8_t>(bits >> shift));
        }
    }
    return chunk;
}

ObjectSurface surface(const std::string& name, uint8_t special) {
    ObjectSurface s;
    s.name = name;
    s.buffers = {special, 0, 0, 0};
    s.writeBuffers = special != 0;
    return s;
}

} // namespace

std::vector<DemoObject> demoObjects() {
    std::vector<DemoObject> objects(4);
    objects[0].file = "lamp.lwo";
    objects[0].object.chunksBefore = {boxPoints(1.1f, 1.1f, 1.1f)};
    objects[0].object.surfaces = {surface("Lamp_Glass", 1), surface("Lamp_Cap", 0)};
    objects[1].file = "crate.lwo";
    objects[1].object.chunksBefore = {boxPoints(1.3f, 1.1f, 1.3f)};
    objects[1].object.surfaces = {surface("Crate_Wood", 2)};
    objects[2].file = "ring.lwo";
    objects[2].object.chunksBefore = {boxPoints(0.9f, 0.9f, 0.1f)};
    objects[2].object.surfaces = {surface("Ring", 3)};
    objects[3].file = "comet.lwo";
    objects[3].object.chunksBefore = {boxPoints(0.45f, 0.45f, 0.45f)};
    objects[3].object.surfaces = {surface("Comet", 4)};
    return objects;
}

} // namespace orvit::demo
