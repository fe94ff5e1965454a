// What the host knows of the scene: the objects' files and the cameras.
#pragma once

#include "orvit/core/keys.h"

#include <string>
#include <vector>

namespace orvit::core {

struct Camera {
    // Horizontal field of view in radians, keyed over time.
    std::vector<Key> horizontalFov;
};

struct Scene {
    std::vector<std::string> objects; // object file paths, in scene order
    std::vector<Camera> cameras;      // the first one is the scene's camera
};

} // namespace orvit::core
