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

} // namespace

extern "C" int32_t ORVIT_CALL activateHandler(int32_t version, GlobalFunc global, void* local) {
    if (version != 1)
        return kActivateBadVersion;
    // A host that hands no record to fill cannot use the filter.
    if (local == nullptr)
        return kActivateFailed;
    globalLookup = global;
    // Stored even when null: the envelope operations then do without it.
    envelopeService = lookupEnvelopeService();
    fillHandler(static_cast<FilterHandler*>(local));
    return kActivateOk;
}

extern "C" int32_t ORVIT_CALL activateInterface(int32_t version, GlobalFunc global, void* local) {
    if (version != 1)
        return kActivateBadVersion;
    // Without an instance there is nothing to edit.
    if (local == nullptr)
        return kActivateFailed;
    globalLookup = global;
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
