#include "tests/support/fakes/fake_envelopes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fakes {

namespace {} // namespace

double FakeEnvelope::at(double time) const {
    if (keys.empty())
        return 0.0;
    if (time <= keys.front().first)
        return keys.front().second;
    for (size_t i = 1; i < keys.size(); ++i) {
        const auto& [t1, v1] = keys[i];
        if (time <= t1) {
            const auto& [t0, v0] = keys[i - 1];
            return v0 + (v1 - v0) * (time - t0) / (t1 - t0);
        }
    }
    return keys.back().second;
}

struct FakeEnvelopeSlots {
    static FakeEnvelope* of(EnvelopeHandle e) { return static_cast<FakeEnvelope*>(e); }
    static EnvelopeHandle create(int32_t* word) {
        *word = 0;
        FakeEnvelopes::current()->calls.push_back("create");
        return FakeEnvelopes::current()->make(EnvelopeKeys{});
    }
    static void destroy(EnvelopeHandle e) {
        FakeEnvelopes::current()->calls.push_back("destroy");
        FakeEnvelopes::current()->destroyed.push_back(of(e)->id);
        --FakeEnvelopes::current()->live_;
        delete of(e);
    }
    static void copy(EnvelopeHandle from, EnvelopeHandle to) {
        FakeEnvelopes::current()->calls.push_back("copy");
        of(to)->keys = of(from)->keys;
    }
    static int32_t evaluate(EnvelopeHandle e, double time, double* value) {
        FakeEnvelopes::current()->calls.push_back("evaluate");
        FakeEnvelopes::current()->evaluations.push_back({of(e)->id, time});
        *value = of(e)->at(time);
        return 1;
    }
    static int32_t edit(EnvelopeHandle e, EnvelopeEditRequest* request) {
        FakeEnvelopes::current()->calls.push_back("edit");
        FakeEnvelopes::current()->editRequests.push_back(*request);
        if (FakeEnvelopes::current()->editResult == 1)
            of(e)->keys = FakeEnvelopes::current()->editKeys;
        return FakeEnvelopes::current()->editResult;
    }
    // One line: "env V" (a constant) or "keys T V T V ...". Only such a line
    // sets keys: fuzzed data gives any line here.
    static void load(EnvelopeHandle e, const LoadState* state) {
        FakeEnvelopes::current()->calls.push_back("load");
        char line[256];
        if (state->readLine(state->data, line, 255) < 0)
            return;
        if (std::strncmp(line, "env ", 4) == 0) {
            of(e)->keys = {{0.0, std::strtod(line + 4, nullptr)}};
        } else if (std::strncmp(line, "keys", 4) == 0) {
            EnvelopeKeys keys;
            char* p = line + 4;
            for (;;) {
                char* end = nullptr;
                const double t = std::strtod(p, &end);
                if (end == p)
                    break;
                p = end;
                const double v = std::strtod(p, &end);
                if (end == p)
                    break;
                p = end;
                keys.push_back({t, v});
            }
            of(e)->keys = keys;
        }
    }
    static void save(EnvelopeHandle e, const SaveState* state) {
        FakeEnvelopes::current()->calls.push_back("save");
        const EnvelopeKeys& keys = of(e)->keys;
        std::string line;
        char number[64];
        if (keys.size() == 1 && keys[0].first == 0.0) {
            std::snprintf(number, sizeof number, "env %.17g", keys[0].second);
            line = number;
        } else {
            line = "keys";
            for (const auto& [t, v] : keys) {
                std::snprintf(number, sizeof number, " %.17g %.17g", t, v);
                line += number;
            }
        }
        state->writeLine(state->data, line.c_str(), static_cast<int32_t>(line.size()));
    }
};

FakeEnvelopes::FakeEnvelopes() {
    service.createEnvelope = FakeEnvelopeSlots::create;
    service.destroyEnvelope = FakeEnvelopeSlots::destroy;
    service.copyEnvelope = FakeEnvelopeSlots::copy;
    service.evaluate = FakeEnvelopeSlots::evaluate;
    service.editEnvelope = FakeEnvelopeSlots::edit;
    service.loadEnvelope = FakeEnvelopeSlots::load;
    service.saveEnvelope = FakeEnvelopeSlots::save;
    orvit::envelopeService = &service;
}

FakeEnvelopes::~FakeEnvelopes() {
    orvit::envelopeService = nullptr;
}

FakeEnvelope* FakeEnvelopes::make(double value) {
    return make(EnvelopeKeys{{0.0, value}});
}

FakeEnvelope* FakeEnvelopes::make(EnvelopeKeys keys) {
    auto* e = new FakeEnvelope;
    e->id = nextId_++;
    e->keys = std::move(keys);
    ++live_;
    return e;
}

} // namespace fakes
