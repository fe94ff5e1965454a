// "EnvelopeHandler": the envelope service that an outside component supplies.
#pragma once

#include "abi.h"
#include "line_io.h"

#include <cstddef>
#include <cstdint>

extern "C" {

// Opaque envelope handle; null means no envelope.
typedef void* EnvelopeHandle;

// Request handed to editEnvelope; 200 bytes, zero beyond `high`.
struct EnvelopeEditRequest {
    void* panelServices; // the "LWPanelServices" record
    const char* title;   // window title
    const char* label;   // value label
    float low;           // 0.0
    float high;          // 0.1 for the size, 100.0 for the transparency
    uint8_t zero[200 - 3 * sizeof(void*) - 2 * sizeof(float)];
};

struct EnvelopeService {
    void* slot0; // unused
    // Slot 1: `word` is writable and never read back; returns a new envelope
    // owned by the caller until destroyEnvelope.
    EnvelopeHandle(ORVIT_CALL* createEnvelope)(int32_t* word);
    // Slot 2: releases the envelope.
    void(ORVIT_CALL* destroyEnvelope)(EnvelopeHandle envelope);
    // Slot 3: `destination` becomes an independent copy of `source`.
    void(ORVIT_CALL* copyEnvelope)(EnvelopeHandle source, EnvelopeHandle destination);
    void* slot4; // unused
    void* slot5; // unused
    // Slot 6: writes the value at `time` to *value; the result is ignored.
    int32_t(ORVIT_CALL* evaluate)(EnvelopeHandle envelope, double time, double* value);
    // Slot 7: modal editor; 1 accepted, 0 cancelled, -1 envelope removed.
    int32_t(ORVIT_CALL* editEnvelope)(EnvelopeHandle envelope, EnvelopeEditRequest* request);
    // Slot 8: reads exactly the lines saveEnvelope wrote, leaving the state at
    // the next line.
    void(ORVIT_CALL* loadEnvelope)(EnvelopeHandle envelope, const LoadState* state);
    // Slot 9: writes the envelope as lines through the state.
    void(ORVIT_CALL* saveEnvelope)(EnvelopeHandle envelope, const SaveState* state);
};

} // extern "C"

static_assert(sizeof(EnvelopeEditRequest) == 200, "edit request is 200 bytes");
#if ORVIT_PTR32
static_assert(offsetof(EnvelopeEditRequest, title) == 4, "title at 4");
static_assert(offsetof(EnvelopeEditRequest, label) == 8, "label at 8");
static_assert(offsetof(EnvelopeEditRequest, low) == 12, "low at 12");
static_assert(offsetof(EnvelopeEditRequest, high) == 16, "high at 16");
static_assert(offsetof(EnvelopeEditRequest, zero) == 20, "zero from 20");
static_assert(sizeof(EnvelopeService) == 40, "ten slots");
static_assert(offsetof(EnvelopeService, evaluate) == 24, "evaluate is slot 6");
static_assert(offsetof(EnvelopeService, saveEnvelope) == 36, "saveEnvelope is slot 9");
#endif

// Field and slot order, in every build.
static_assert(orvit_layout::inOrder({ORVIT_POINTER(EnvelopeEditRequest, panelServices),
                                     ORVIT_POINTER(EnvelopeEditRequest, title),
                                     ORVIT_POINTER(EnvelopeEditRequest, label),
                                     ORVIT_FIELD(EnvelopeEditRequest, low, 4),
                                     ORVIT_FIELD(EnvelopeEditRequest, high, 4),
                                     ORVIT_FIELD(EnvelopeEditRequest, zero,
                                                 200 - 3 * orvit_layout::kPointer - 8)}),
              "EnvelopeEditRequest: panel services, title, label, low, high, zeros");
static_assert(orvit_layout::inOrder({ORVIT_POINTER(EnvelopeService, slot0),
                                     ORVIT_POINTER(EnvelopeService, createEnvelope),
                                     ORVIT_POINTER(EnvelopeService, destroyEnvelope),
                                     ORVIT_POINTER(EnvelopeService, copyEnvelope),
                                     ORVIT_POINTER(EnvelopeService, slot4),
                                     ORVIT_POINTER(EnvelopeService, slot5),
                                     ORVIT_POINTER(EnvelopeService, evaluate),
                                     ORVIT_POINTER(EnvelopeService, editEnvelope),
                                     ORVIT_POINTER(EnvelopeService, loadEnvelope),
                                     ORVIT_POINTER(EnvelopeService, saveEnvelope)}),
              "EnvelopeService: ten slots in order");
