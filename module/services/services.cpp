#include "module/services/services.h"

namespace orvit {

GlobalFunc globalLookup = nullptr;
const EnvelopeService* envelopeService = nullptr;
const MessageService* messageService = nullptr;
const PanelServices* panelService = nullptr;
PanelHandle currentPanel = nullptr;

void* lookupService(const char* name) {
    return globalLookup != nullptr ? globalLookup(name, 0) : nullptr;
}

namespace {

template <typename Record> const Record* lookupRecord(const char* name) {
    return static_cast<const Record*>(lookupService(name));
}

} // namespace

const EnvelopeService* lookupEnvelopeService() {
    const auto* s = lookupRecord<EnvelopeService>("EnvelopeHandler");
    if (s == nullptr || s->createEnvelope == nullptr || s->destroyEnvelope == nullptr ||
        s->copyEnvelope == nullptr || s->evaluate == nullptr || s->editEnvelope == nullptr ||
        s->loadEnvelope == nullptr || s->saveEnvelope == nullptr)
        return nullptr;
    return s;
}

const MessageService* lookupMessageService() {
    const auto* s = lookupRecord<MessageService>("Info Messages");
    return s != nullptr && s->errorMessage != nullptr ? s : nullptr;
}

const PanelServices* lookupPanelService() {
    const auto* s = lookupRecord<PanelServices>("LWPanelServices");
    if (s == nullptr || s->createPanel == nullptr || s->destroyPanel == nullptr ||
        s->openPanel == nullptr || s->drawPanel == nullptr || s->getPanelAttr == nullptr ||
        s->setPanelAttr == nullptr || s->addControl == nullptr || s->drawFuncs == nullptr)
        return nullptr;
    const DrawFuncs* d = s->drawFuncs;
    if (d->drawRGBPixel == nullptr || d->drawBox == nullptr || d->drawRGBBox == nullptr)
        return nullptr;
    return s;
}

const ItemInfo* lookupItemInfo() {
    const auto* s = lookupRecord<ItemInfo>("LW Item Info 2");
    return s != nullptr && s->firstItem != nullptr && s->nextItem != nullptr ? s : nullptr;
}

const ObjectInfo* lookupObjectInfo() {
    const auto* s = lookupRecord<ObjectInfo>("LW Object Info");
    return s != nullptr && s->objectFileName != nullptr ? s : nullptr;
}

const CameraInfo* lookupCameraInfo() {
    const auto* s = lookupRecord<CameraInfo>("LW Camera Info");
    return s != nullptr && s->viewValues != nullptr ? s : nullptr;
}

EnvelopeHandle createEnvelope() {
    if (envelopeService == nullptr)
        return nullptr;
    int32_t word = 0;
    return envelopeService->createEnvelope(&word);
}

void destroyEnvelope(EnvelopeHandle envelope) {
    if (envelope != nullptr && envelopeService != nullptr)
        envelopeService->destroyEnvelope(envelope);
}

void copyEnvelope(EnvelopeHandle source, EnvelopeHandle destination) {
    if (source != nullptr && destination != nullptr && envelopeService != nullptr)
        envelopeService->copyEnvelope(source, destination);
}

bool evaluateEnvelope(EnvelopeHandle envelope, double time, double* value) {
    if (envelope == nullptr || envelopeService == nullptr)
        return false;
    envelopeService->evaluate(envelope, time, value);
    return true;
}

int32_t editEnvelope(EnvelopeHandle envelope, EnvelopeEditRequest* request) {
    if (envelope == nullptr || envelopeService == nullptr)
        return 0;
    return envelopeService->editEnvelope(envelope, request);
}

bool loadEnvelope(EnvelopeHandle envelope, const LoadState* state) {
    if (envelope == nullptr || envelopeService == nullptr)
        return false;
    envelopeService->loadEnvelope(envelope, state);
    return true;
}

bool saveEnvelope(EnvelopeHandle envelope, const SaveState* state) {
    if (envelope == nullptr || envelopeService == nullptr)
        return false;
    envelopeService->saveEnvelope(envelope, state);
    return true;
}

} // namespace orvit
