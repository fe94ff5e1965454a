#include "fakes/fake_envelopes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fakes {

namespace {
FakeEnvelopes* current = nullptr;
} // namespace

struct FakeEnvelopeSlots {
    static EnvelopeHandle create(int32_t* word) {
        *word = 0;
        current->calls.push_back("create");
        return current->make(0.0);
    }
    static void destroy(EnvelopeHandle e) {
        current->calls.push_back("destroy");
        --current->live_;
        delete static_cast<FakeEnvelope*>(e);
    }
    static void copy(EnvelopeHandle from, EnvelopeHandle to) {
        current->calls.push_back("copy");
        static_cast<FakeEnvelope*>(to)->value = static_cast<FakeEnvelope*>(from)->value;
    }
    static int32_t evaluate(EnvelopeHandle e, double, double* value) {
        current->calls.push_back("evaluate");
        *value = static_cast<FakeEnvelope*>(e)->value;
        return 1;
    }
    static void load(EnvelopeHandle e, const LoadState* state) {
        current->calls.push_back("load");
        char line[256];
        // Only an "env " line sets the value: fuzzed data gives any line here.
        if (state->readLine(state->data, line, 255) >= 0 && std::strncmp(line, "env ", 4) == 0)
            static_cast<FakeEnvelope*>(e)->value = std::strtod(line + 4, nullptr);
    }
    static void save(EnvelopeHandle e, const SaveState* state) {
        current->calls.push_back("save");
        char line[64];
        int n = std::snprintf(line, sizeof line, "env %.17g", static_cast<FakeEnvelope*>(e)->value);
        state->writeLine(state->data, line, n);
    }
};

FakeEnvelopes::FakeEnvelopes() {
    current = this;
    service.createEnvelope = FakeEnvelopeSlots::create;
    service.destroyEnvelope = FakeEnvelopeSlots::destroy;
    service.copyEnvelope = FakeEnvelopeSlots::copy;
    service.evaluate = FakeEnvelopeSlots::evaluate;
    service.loadEnvelope = FakeEnvelopeSlots::load;
    service.saveEnvelope = FakeEnvelopeSlots::save;
    orvit::envelopeService = &service;
}

FakeEnvelopes::~FakeEnvelopes() {
    orvit::envelopeService = nullptr;
    current = nullptr;
}

FakeEnvelope* FakeEnvelopes::make(double value) {
    auto* e = new FakeEnvelope;
    e->value = value;
    e->id = nextId_++;
    ++live_;
    return e;
}

} // namespace fakes
