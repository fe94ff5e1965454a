// The per-frame work of the image filter.
#pragma once

#include "module/abi/frame_access.h"
#include "module/settings/settings.h"

#include <cstddef>
#include <cstdint>

namespace orvit {

uint32_t flags();
// Refreshes the snapshot, then filters the frame (or passes it through when
// the instance is disabled). Reports nothing.
void process(FilterInstance* instance, const FrameAccess* access);
// Samples the frame into the 256 x 192 snapshot with its depth range.
void takeSnapshot(FilterInstance* instance, const FrameAccess* access);

} // namespace orvit
