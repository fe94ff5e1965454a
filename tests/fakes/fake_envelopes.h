// A recording envelope service for unit tests: each envelope is one constant
// value; every call is logged as "create", "destroy", "copy", "evaluate",
// "load" or "save".
#pragma once

#include "host/envelope.h"
#include "module/globals.h"

#include <string>
#include <vector>

namespace fakes {

struct FakeEnvelope {
    double value = 0.0;
    int id = 0;
};

class FakeEnvelopes {
  public:
    // Installs the service in the module's process-wide variable.
    FakeEnvelopes();
    ~FakeEnvelopes();

    FakeEnvelope* make(double value);
    static double valueOf(EnvelopeHandle handle) {
        return static_cast<FakeEnvelope*>(handle)->value;
    }
    int live() const { return live_; }

    EnvelopeService service{};
    std::vector<std::string> calls;

  private:
    int live_ = 0;
    int nextId_ = 1;
    friend struct FakeEnvelopeSlots;
};

} // namespace fakes
