#include "module/entry/activation.h"

#include "module/filter/process.h"
#include "module/panel/open_settings.h"
#include "module/services/services.h"
#include "module/settings/settings.h"
#include "module/settings/settings_lines.h"

namespace orvit {

namespace {

FilterInstance* asInstance(InstanceHandle handle) {
    return static_cast<FilterInstance*>(handle);
}

} // namespace

// The handler's operations as the host calls them. Each reads only the
// arguments shown and lets nothing escape across the C boundary.
extern "C" {

static InstanceHandle ORVIT_CALL handlerCreate() {
    return createInstance();
}

static void ORVIT_CALL handlerDestroy(InstanceHandle instance) {
    destroyInstance(asInstance(instance));
}

// The host names the source first and the destination second.
static int32_t ORVIT_CALL handlerCopy(InstanceHandle from, InstanceHandle to) {
    if (from != nullptr && to != nullptr && from != to)
        copyInstance(asInstance(to), asInstance(from));
    return 0;
}

static int32_t ORVIT_CALL handlerLoad(InstanceHandle instance, const LoadState* state) {
    if (instance == nullptr || state == nullptr)
        return 0;
    return loadSettings(asInstance(instance), state);
}

static int32_t ORVIT_CALL handlerSave(InstanceHandle instance, const SaveState* state) {
    if (instance == nullptr || state == nullptr)
        return 0;
    return saveSettings(asInstance(instance), state);
}

static void ORVIT_CALL handlerProcess(InstanceHandle instance, const FrameAccess* access) {
    if (instance != nullptr && access != nullptr)
        process(asInstance(instance), access);
}

static uint32_t ORVIT_CALL handlerFlags(InstanceHandle) {
    return flags();
}

} // extern "C"

namespace {

// Fills the host's handler record, one slot per line in slot order.
void fillHandler(FilterHandler* handler) {
    handler->create = handlerCreate;
    handler->destroy = handlerDestroy;
    handler->copy = handlerCopy;
    handler->load = handlerLoad;
    handler->save = handlerSave;
    handler->process = handlerProcess;
    handler->flags = handlerFlags;
}

// What both activations check first: version 1, and a record to work on (a
// handler record to fill, an instance to edit), without which the server is
// of no use. When both hold, the host's lookup is kept and kActivateOk given.
int32_t acceptActivation(int32_t version, GlobalFunc global, const void* local) {
    if (version != 1)
        return kActivateBadVersion;
    if (local == nullptr)
        return kActivateFailed;
    globalLookup = global;
    return kActivateOk;
}

} // namespace

extern "C" int32_t ORVIT_CALL activateHandler(int32_t version, GlobalFunc global, void* local) {
    const int32_t accepted = acceptActivation(version, global, local);
    if (accepted != kActivateOk)
        return accepted;
    // Stored even when null: the envelope operations then do without it.
    envelopeService = lookupEnvelopeService();
    fillHandler(static_cast<FilterHandler*>(local));
    return kActivateOk;
}

extern "C" int32_t ORVIT_CALL activateInterface(int32_t version, GlobalFunc global, void* local) {
    const int32_t accepted = acceptActivation(version, global, local);
    if (accepted != kActivateOk)
        return accepted;
    messageService = lookupMessageService();
    if (messageService == nullptr)
        return kActivateFailed;
    envelopeService = lookupEnvelopeService();
    if (envelopeService == nullptr) {
        messageService->errorMessage("Looking for EnvelopeHandler", "Got plexora.p?");
        return kActivateFailed;
    }
    panelService = lookupPanelService();
    if (panelService == nullptr)
        return kActivateFailed;
    return openSettings(static_cast<FilterInstance*>(local)) ? kActivateOk : kActivateFailed;
}

} // namespace orvit
