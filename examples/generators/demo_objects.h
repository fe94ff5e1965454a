// The demo scene's object files as its generator writes them: each a
// "FORM"/"LWOB" file with a point chunk (the shape's bounding box) and its
// surfaces, whose special-buffer bytes pick the glow of the pixels they cover.
#pragma once

#include "orvit/host/object_writer.h"

#include <vector>

namespace orvit::demo {

struct DemoObject {
    const char* file; // name inside examples/demo/objects
    orvit::host::ObjectDescription object;
};

// The objects in scene order.
std::vector<DemoObject> demoObjects();

} // namespace orvit::demo
