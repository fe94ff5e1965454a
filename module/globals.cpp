#include "module/globals.h"

namespace orvit {

GlobalFunc globalLookup = nullptr;
const EnvelopeService* envelopeService = nullptr;
const MessageService* messageService = nullptr;
const PanelServices* panelService = nullptr;
PanelHandle currentPanel = nullptr;

void* lookupService(const char* name) {
    return globalLookup != nullptr ? globalLookup(name, 0) : nullptr;
}

EnvelopeHandle createEnvelope() {
    if (envelopeService == nullptr || envelopeService->createEnvelope == nullptr)
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

} // namespace orvit
