#include "module/filter/working_planes.h"

#include <cstdlib>
#include <cstring>

namespace orvit {

uint8_t* takeSparePlane(uint8_t*& spare, size_t count) {
    uint8_t* plane = spare;
    spare = nullptr;
    if (plane == nullptr)
        return static_cast<uint8_t*>(std::calloc(count + 1, 1));
    std::memset(plane, 0, count + 1);
    return plane;
}

} // namespace orvit
