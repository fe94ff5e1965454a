// The filter's working planes: the glow layer a kernel run fills, and the
// spare planes the instance keeps from one enabled frame to the next (the
// records are the instance's; these are the filter's steps on them).
#pragma once

#include "module/settings/settings.h"

#include <cstddef>
#include <cstdint>

namespace orvit {

// A working plane of `count` + 1 zero bytes: `spare` cleared and taken (left
// null) when present, else a fresh one; null when memory runs out.
uint8_t* takeSparePlane(uint8_t*& spare, size_t count);

} // namespace orvit
