// Process-wide host services, shared by every instance: the bottom layer of
// the module above the host's declarations. The activations fill them;
// everything else only reads them.
//
// A service record is checked once, where it is looked up: a record that
// lacks any slot the module calls counts as absent, so every reader tests for
// null and nothing else.
#pragma once

#include "module/abi/envelope.h"
#include "module/abi/items.h"
#include "module/abi/module.h"
#include "module/abi/panel.h"

namespace orvit {

extern GlobalFunc globalLookup;                // both activations
extern const EnvelopeService* envelopeService; // both activations; null when absent
extern const MessageService* messageService;   // interface activation
extern const PanelServices* panelService;      // interface activation
extern PanelHandle currentPanel;               // openSettings, while a panel exists

// The service `name` through globalLookup, unchecked; null without a lookup.
void* lookupService(const char* name);

// Checked look-ups through globalLookup: the record, or null when the host
// has none or it lacks a slot the module calls.
const EnvelopeService* lookupEnvelopeService(); // "EnvelopeHandler"
const MessageService* lookupMessageService();   // "Info Messages"
const PanelServices* lookupPanelService();      // "LWPanelServices"
const ItemInfo* lookupItemInfo();               // "LW Item Info 2"
const ObjectInfo* lookupObjectInfo();           // "LW Object Info"
const CameraInfo* lookupCameraInfo();           // "LW Camera Info"

// Envelope operations, all through envelopeService. Without the service no
// handle exists: create gives null and the rest do nothing.
EnvelopeHandle createEnvelope();
void destroyEnvelope(EnvelopeHandle envelope);
void copyEnvelope(EnvelopeHandle source, EnvelopeHandle destination);
// Writes the value at `time` and returns true; false (and *value untouched)
// when there is no envelope or no service.
bool evaluateEnvelope(EnvelopeHandle envelope, double time, double* value);
// The host's modal editor on the envelope: 1 accepted, 0 cancelled (also
// without an envelope or service), -1 removed, or whatever else it answers.
int32_t editEnvelope(EnvelopeHandle envelope, EnvelopeEditRequest* request);
// Reads the envelope's own lines; false when there is no envelope or no service.
bool loadEnvelope(EnvelopeHandle envelope, const LoadState* state);
// Writes the envelope's own lines; false (nothing written) likewise.
bool saveEnvelope(EnvelopeHandle envelope, const SaveState* state);

} // namespace orvit
