// "EnvelopeHandler": keyed envelopes. A handle is an Envelope made by the
// service; handles the service did not make are ignored.
#pragma once

#include "host/envelope.h"
#include "standin/core/keys.h"

#include <cstddef>
#include <vector>

namespace orvit::standin {

class Envelope {
  public:
    const std::vector<Key>& keys() const { return keys_; }
    void setKeys(std::vector<Key> keys) { keys_ = orderedKeys(std::move(keys)); }
    double value(double time) const { return evaluateKeys(keys_, time); }

  private:
    std::vector<Key> keys_;
};

// The modal editor behind the service's editEnvelope: a script's answers, or
// a window.
class EnvelopeEditor {
  public:
    virtual ~EnvelopeEditor() = default;
    // Edits `envelope` in place as `request` describes it: 1 accepted, 0
    // cancelled, -1 removed, or any other answer the editor gives.
    virtual int32_t edit(Envelope& envelope, const EnvelopeEditRequest& request) = 0;
};

// The editor editEnvelope hands its requests to, process-wide; returns the
// one it replaces. Without an editor every request is cancelled (0) and the
// envelope stays as it is.
EnvelopeEditor* setEnvelopeEditor(EnvelopeEditor* editor);

// The service record, filled once; valid for the life of the program.
const EnvelopeService* envelopeService();

// A new envelope, as the service's create makes it; released by the
// service's destroy (or destroyEnvelope).
Envelope* makeEnvelope(std::vector<Key> keys);
void destroyEnvelope(EnvelopeHandle handle);
// The envelope behind a handle, or null when the service did not make it or
// has released it.
Envelope* findEnvelope(EnvelopeHandle handle);
// Envelopes made and not yet released.
size_t liveEnvelopes();

// The largest key count a saved envelope may state; more is damage.
constexpr long kMaxSavedKeys = 1000000;

} // namespace orvit::standin
