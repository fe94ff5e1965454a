#include "module/filter/working_planes.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace orvit {

namespace {

void freePlane(uint8_t*& plane) {
    std::free(plane);
    plane = nullptr;
}

void releaseLayer(GlowLayer& layer) {
    for (uint8_t** plane : {&layer.red, &layer.green, &layer.blue, &layer.strength})
        freePlane(*plane);
    layer.width = 0;
    layer.height = 0;
}

// Hands the planes back when the instance is destroyed.
void releaseWorking(WorkingPlanes* planes) {
    releaseLayer(planes->layer);
    releaseSparePlanes(*planes);
    std::free(planes);
}

} // namespace

WorkingPlanes* workingPlanes(FilterInstance* instance) {
    if (instance->working == nullptr) {
        instance->working = static_cast<WorkingPlanes*>(std::calloc(1, sizeof(WorkingPlanes)));
        instance->releaseWorking = releaseWorking;
    }
    return instance->working;
}

const GlowLayer& glowLayer(const FilterInstance* instance) {
    static const GlowLayer kEmpty{};
    return instance->working != nullptr ? instance->working->layer : kEmpty;
}

void releaseGlowLayer(FilterInstance* instance) {
    if (instance->working != nullptr)
        releaseLayer(instance->working->layer);
}

void releaseSparePlanes(WorkingPlanes& planes) {
    for (uint8_t*& plane : planes.spare.layer)
        freePlane(plane);
    for (uint8_t*& plane : planes.spare.accumulator)
        freePlane(plane);
    planes.spare.width = 0;
    planes.spare.height = 0;
}

uint8_t* takeSparePlane(uint8_t*& spare, size_t count) {
    uint8_t* plane = spare;
    spare = nullptr;
    if (plane == nullptr)
        return static_cast<uint8_t*>(std::calloc(count + 1, 1));
    std::memset(plane, 0, count + 1);
    return plane;
}

} // namespace orvit
