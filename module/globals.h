// Process-wide host services, shared by every instance. Each activation
// overwrites the ones it sets; everything else only reads them.
#pragma once

#include "host/envelope.h"
#include "host/module.h"
#include "host/panel.h"

namespace orvit {

extern GlobalFunc globalLookup;                // both activations
extern const EnvelopeService* envelopeService; // both activations; may be null
extern const MessageService* messageService;   // interface activation
extern const PanelServices* panelService;      // interface activation
extern PanelHandle currentPanel;               // openSettings, while a panel exists

// The service `name` through globalLookup, or null (also without a lookup).
void* lookupService(const char* name);

// Envelope operations, all through envelopeService. Without the service no
// handle exists: create gives null and the rest do nothing.
EnvelopeHandle createEnvelope();
void destroyEnvelope(EnvelopeHandle envelope);
void copyEnvelope(EnvelopeHandle source, EnvelopeHandle destination);
// Writes the value at `time` and returns true; false (and *value untouched)
// when there is no envelope or no service.
bool evaluateEnvelope(EnvelopeHandle envelope, double time, double* value);

} // namespace orvit
