// "EnvelopeHandler": keyed envelopes. A handle is an Envelope made by the
// service; handles the service did not make are ignored.
#pragma once

#include "module/abi/envelope.h"
#include "orvit/core/keys.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvit::core {

class Envelope {
  public:
    explicit Envelope(uint64_t ordinal) : ordinal_(ordinal) {}

    const std::vector<Key>& keys() const { return keys_; }
    void setKeys(std::vector<Key> keys) { keys_ = orderedKeys(std::move(keys)); }
    double value(double time) const { return evaluateKeys(keys_, time); }

    // The envelope's number: 1 for the first the service made, and so on.
    uint64_t ordinal() const { return ordinal_; }
    // The line (from 1) of the stand-in's LineReader at which the service's
    // load last read this envelope's lines; 0 when it never loaded through one.
    size_t loadedAtLine() const { return loadedAtLine_; }
    void setLoadedAtLine(size_t line) { loadedAtLine_ = line; }

  private:
    uint64_t ordinal_;
    size_t loadedAtLine_ = 0;
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

// `editor` behind editEnvelope for the life of this object; the one it
// replaced comes back after.
class EnvelopeEditorInPlace {
  public:
    explicit EnvelopeEditorInPlace(EnvelopeEditor* editor) : previous_(setEnvelopeEditor(editor)) {}
    ~EnvelopeEditorInPlace() { setEnvelopeEditor(previous_); }
    EnvelopeEditorInPlace(const EnvelopeEditorInPlace&) = delete;
    EnvelopeEditorInPlace& operator=(const EnvelopeEditorInPlace&) = delete;

  private:
    EnvelopeEditor* previous_;
};

// One call of the service's evaluate that wrote a value: which envelope, the
// time asked for and the value given.
struct EnvelopeEvaluation {
    uint64_t ordinal;
    size_t loadedAtLine; // as Envelope::loadedAtLine at the time of the call
    double time;
    double value;
};

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

// The service keeps its latest evaluations (up to kKeptEvaluations), each
// numbered in order. A mark is the number the next one will get; the
// evaluations since a mark are those made after it was taken, oldest first
// (those still kept).
uint64_t evaluationMark();
std::vector<EnvelopeEvaluation> evaluationsSince(uint64_t mark);
constexpr size_t kKeptEvaluations = 4096;

// The largest key count a saved envelope may state; more is damage.
constexpr long kMaxSavedKeys = 1000000;

} // namespace orvit::core
