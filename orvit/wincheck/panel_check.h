// wincheck's panel part: opens the module's settings panel on fixed settings
// and object files with fixed scripts at it, and prints what the panel shows
// and what the settings become, then the preview area's picture in each
// display choice, for both builds to print alike.
#pragma once

#include "orvit/core/loader.h"
#include "orvit/host/host_services.h"

#include <string>

namespace orvit::wincheck {

// Runs every panel case; `folder` is where the object files are written (and
// removed again). Returns the number of failed checks of the host's own
// contract (leaks, faults); the printed text carries the rest.
int runPanelChecks(const core::LoadedModule& module, const core::ImageFilter& filter,
                   host::HostServices& services, const std::string& folder);

} // namespace orvit::wincheck
