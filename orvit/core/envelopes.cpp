#include "orvit/core/envelopes.h"

#include "orvit/core/saved_lines.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_set>

namespace orvit::core {

namespace {

EnvelopeEditor* editor = nullptr;

std::unordered_set<Envelope*>& liveSet() {
    static std::unordered_set<Envelope*> live;
    return live;
}

uint64_t madeEnvelopes = 0;

// The latest evaluations; the first one kept has the number `firstKept`.
struct EvaluationLog {
    std::deque<EnvelopeEvaluation> kept;
    uint64_t firstKept = 0;

    void add(const EnvelopeEvaluation& e) {
        try {
            kept.push_back(e);
        } catch (...) {
            return; // out of memory: the evaluation goes unrecorded
        }
        if (kept.size() > kKeptEvaluations) {
            kept.pop_front();
            ++firstKept;
        }
    }
};

EvaluationLog& evaluationLog() {
    static EvaluationLog log;
    return log;
}

void writeLine(const SaveState* state, const char* text) {
    state->writeLine(state->data, text, static_cast<int32_t>(std::strlen(text)));
}

// Reads a whole decimal integer; false for anything else.
bool parseCount(const char* text, long* count) {
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || errno != 0)
        return false;
    while (*end == ' ')
        ++end;
    if (*end != '\0')
        return false;
    *count = n;
    return true;
}

void loadKeys(Envelope* e, const LoadState* state);

// "TIME VALUE", two numbers and nothing else.
bool parseKey(const char* text, Key* key) {
    char* end = nullptr;
    key->time = std::strtod(text, &end);
    if (end == text)
        return false;
    const char* rest = end;
    key->value = std::strtod(rest, &end);
    if (end == rest)
        return false;
    while (*end == ' ')
        ++end;
    return *end == '\0';
}

} // namespace

// The service's operations. Each checks its handle, so a stale or foreign
// handle costs nothing worse than an ignored call.
extern "C" {

static EnvelopeHandle ORVIT_CALL serviceCreate(int32_t*) {
    try {
        return makeEnvelope({});
    } catch (...) {
        return nullptr; // out of memory: no envelope
    }
}

static void ORVIT_CALL serviceDestroy(EnvelopeHandle envelope) {
    destroyEnvelope(envelope);
}

static void ORVIT_CALL serviceCopy(EnvelopeHandle source, EnvelopeHandle destination) {
    const Envelope* from = findEnvelope(source);
    Envelope* to = findEnvelope(destination);
    try {
        if (from != nullptr && to != nullptr && from != to)
            to->setKeys(from->keys());
    } catch (...) {
        to->setKeys({}); // out of memory: the copy stays empty
    }
}

static int32_t ORVIT_CALL serviceEvaluate(EnvelopeHandle envelope, double time, double* value) {
    const Envelope* e = findEnvelope(envelope);
    if (e == nullptr || value == nullptr)
        return 0;
    *value = e->value(time);
    evaluationLog().add({e->ordinal(), e->loadedAtLine(), time, *value});
    return 1;
}

// A foreign handle or a missing request is cancelled; so is an editor that
// fails, since nothing it throws may reach the module.
static int32_t ORVIT_CALL serviceEdit(EnvelopeHandle envelope, EnvelopeEditRequest* request) {
    Envelope* e = findEnvelope(envelope);
    if (e == nullptr || request == nullptr || editor == nullptr)
        return 0;
    try {
        return editor->edit(*e, *request);
    } catch (...) {
        return 0;
    }
}

// Lines: "keys N", then N lines "TIME VALUE", printed with 17 significant
// digits so that every double reads back exactly.
static void ORVIT_CALL serviceSave(EnvelopeHandle envelope, const SaveState* state) {
    const Envelope* e = findEnvelope(envelope);
    if (e == nullptr || state == nullptr || state->writeLine == nullptr)
        return;
    char line[96];
    std::snprintf(line, sizeof line, "keys %lu", static_cast<unsigned long>(e->keys().size()));
    writeLine(state, line);
    for (const Key& k : e->keys()) {
        std::snprintf(line, sizeof line, "%.17g %.17g", k.time, k.value);
        writeLine(state, line);
    }
}

// Reads the "keys N" line, then exactly N key lines. A damaged count reads
// no further line; a damaged key line is skipped but still counted, so the
// state always ends where the envelope's lines end.
static void ORVIT_CALL serviceLoad(EnvelopeHandle envelope, const LoadState* state) {
    Envelope* e = findEnvelope(envelope);
    if (e == nullptr || state == nullptr || state->readLine == nullptr)
        return;
    const LineReader* reader = LineReader::of(state);
    e->setLoadedAtLine(reader != nullptr ? reader->linesRead() + 1 : 0);
    try {
        loadKeys(e, state);
    } catch (...) {
        e->setKeys({}); // out of memory: the envelope stays empty
    }
}

} // extern "C"

namespace {

void loadKeys(Envelope* e, const LoadState* state) {
    char line[256];
    std::vector<Key> keys;
    long count = 0;
    if (state->readLine(state->data, line, 255) < 0) {
        e->setKeys({});
        return;
    }
    line[255] = '\0';
    if (std::strncmp(line, "keys ", 5) != 0 || !parseCount(line + 5, &count) || count < 0 ||
        count > kMaxSavedKeys)
        count = 0;
    for (long i = 0; i < count; ++i) {
        if (state->readLine(state->data, line, 255) < 0)
            break;
        line[255] = '\0';
        Key key{};
        if (parseKey(line, &key))
            keys.push_back(key);
    }
    e->setKeys(std::move(keys));
}

// The record, one slot per line in slot order.
EnvelopeService makeService() {
    EnvelopeService s{};
    s.slot0 = nullptr;
    s.createEnvelope = serviceCreate;
    s.destroyEnvelope = serviceDestroy;
    s.copyEnvelope = serviceCopy;
    s.slot4 = nullptr;
    s.slot5 = nullptr;
    s.evaluate = serviceEvaluate;
    s.editEnvelope = serviceEdit;
    s.loadEnvelope = serviceLoad;
    s.saveEnvelope = serviceSave;
    return s;
}

} // namespace

const EnvelopeService* envelopeService() {
    static const EnvelopeService service = makeService();
    return &service;
}

EnvelopeEditor* setEnvelopeEditor(EnvelopeEditor* next) {
    EnvelopeEditor* previous = editor;
    editor = next;
    return previous;
}

Envelope* makeEnvelope(std::vector<Key> keys) {
    auto* e = new Envelope(madeEnvelopes + 1);
    ++madeEnvelopes;
    e->setKeys(std::move(keys));
    liveSet().insert(e);
    return e;
}

void destroyEnvelope(EnvelopeHandle handle) {
    Envelope* e = findEnvelope(handle);
    if (e == nullptr)
        return;
    liveSet().erase(e);
    delete e;
}

Envelope* findEnvelope(EnvelopeHandle handle) {
    auto* e = static_cast<Envelope*>(handle);
    return liveSet().count(e) != 0 ? e : nullptr;
}

size_t liveEnvelopes() {
    return liveSet().size();
}

uint64_t evaluationMark() {
    const EvaluationLog& log = evaluationLog();
    return log.firstKept + log.kept.size();
}

std::vector<EnvelopeEvaluation> evaluationsSince(uint64_t mark) {
    const EvaluationLog& log = evaluationLog();
    std::vector<EnvelopeEvaluation> since;
    const uint64_t from = mark > log.firstKept ? mark - log.firstKept : 0;
    for (uint64_t i = from; i < log.kept.size(); ++i)
        since.push_back(log.kept[static_cast<size_t>(i)]);
    return since;
}

} // namespace orvit::core
