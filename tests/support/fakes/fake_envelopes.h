// A recording envelope service for unit tests. An envelope is a list of keys
// (time, value), linear between keys and constant outside them, so the time
// of an evaluation matters. Every call is logged by name in `calls`; which
// envelope was destroyed, and at which times envelopes were evaluated, are
// kept apart so tests can check order and time.
#pragma once

#include "module/abi/envelope.h"
#include "module/services/services.h"
#include "tests/support/fakes/bound.h"

#include <string>
#include <utility>
#include <vector>

namespace fakes {

using EnvelopeKeys = std::vector<std::pair<double, double>>; // (time, value), ascending time

struct FakeEnvelope {
    int id = 0;
    EnvelopeKeys keys;
    double at(double time) const;
};

struct Evaluation {
    int id;
    double time;
};

class FakeEnvelopes : public Bound<FakeEnvelopes> {
  public:
    // Installs the service in the module's process-wide variable.
    FakeEnvelopes();
    ~FakeEnvelopes();

    // A constant envelope: one key at time 0.
    FakeEnvelope* make(double value);
    FakeEnvelope* make(EnvelopeKeys keys);
    static int idOf(EnvelopeHandle handle) { return static_cast<FakeEnvelope*>(handle)->id; }
    static double valueOf(EnvelopeHandle handle, double time = 0.0) {
        return static_cast<FakeEnvelope*>(handle)->at(time);
    }
    int live() const { return live_; }

    EnvelopeService service{};
    std::vector<std::string> calls;
    std::vector<int> destroyed;          // ids, in the order destroyed
    std::vector<Evaluation> evaluations; // in the order asked

    // The editor's answer, and the keys it gives the envelope on 1.
    int editResult = 1;
    EnvelopeKeys editKeys;
    std::vector<EnvelopeEditRequest> editRequests;

  private:
    int live_ = 0;
    int nextId_ = 1;
    friend struct FakeEnvelopeSlots;
};

} // namespace fakes
