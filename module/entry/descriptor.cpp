#include "module/entry/activation.h"

namespace orvit {

int32_t ORVIT_CALL startup() {
    return 4;
}

void ORVIT_CALL shutdown() {}

namespace {

// Both servers share one name; the list ends with a record of nulls.
ServerRecord serverList[] = {
    {"ImageFilterHandler", "Tesk_Orvit", activateHandler},
    {"ImageFilterInterface", "Tesk_Orvit", activateInterface},
    {nullptr, nullptr, nullptr},
};

} // namespace

} // namespace orvit

// Constant-initialised, so the host can read it before any module code runs.
ModuleDescriptor _mod_descrip = {
    ORVIT_SYNC_WORD, ORVIT_MODULE_VERSION, ORVIT_MACHINE_WORD,
    orvit::startup,  orvit::shutdown,      orvit::serverList,
};
