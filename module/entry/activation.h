// The module's entry points: the exported descriptor, its start-up and
// shut-down, and the activations of the two servers.
#pragma once

#include "module/abi/filter_handler.h"
#include "module/abi/module.h"

#include <cstdint>

extern "C" {
// The one exported symbol; the host reads it to find the servers.
extern ORVIT_EXPORT ModuleDescriptor _mod_descrip;
}

namespace orvit {

// C++ linkage on purpose: a C symbol named `shutdown` would take the place of
// the socket call of the same name in any program the library is linked into.
int32_t ORVIT_CALL startup();
void ORVIT_CALL shutdown();

extern "C" {
// "ImageFilterHandler": fills `local`, a FilterHandler, with the seven operations.
int32_t ORVIT_CALL activateHandler(int32_t version, GlobalFunc global, void* local);
// "ImageFilterInterface": opens the settings of `local`, a FilterInstance.
int32_t ORVIT_CALL activateInterface(int32_t version, GlobalFunc global, void* local);
}

// Activation results.
constexpr int32_t kActivateOk = 0;
constexpr int32_t kActivateBadVersion = 1;
constexpr int32_t kActivateFailed = 2;

} // namespace orvit
