#include "module/settings/settings_lines.h"

#include "module/services/services.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace orvit {

namespace {

constexpr int32_t kVersion = 4;
constexpr int32_t kLineBytes = 256;
constexpr int32_t kMaxLineLength = kLineBytes - 1;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// For a decimal real that from_chars found out of range: true when it is too
// large, false when too small. Its decimal exponent decides, which is far
// from zero either way.
bool tooLarge(const char* p, const char* end) {
    long leading = 0; // digits before the point, from the first non-zero one
    long zeros = 0;   // zeros after the point before the first non-zero digit
    bool nonZero = false;
    bool afterPoint = false;
    for (; p < end && (isDigit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            afterPoint = true;
        } else if (nonZero || *p != '0') {
            nonZero = true;
            if (!afterPoint)
                ++leading;
        } else if (afterPoint) {
            ++zeros;
        }
    }
    long exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+'))
            ++p;
        for (; p < end && isDigit(*p); ++p)
            if (exponent < 1000000)
                exponent = exponent * 10 + (*p - '0');
        if (negative)
            exponent = -exponent;
    }
    long magnitude = leading > 0 ? leading - 1 : -(zeros + 1);
    return nonZero && magnitude + exponent >= 0;
}

// The fields of one line, read the way the C scanner reads "%d" and "%lf"
// conversions separated by blanks, but without its undefined overflow. The
// first field that does not parse ends the line: it and every later field
// keep their values.
class FieldReader {
  public:
    explicit FieldReader(const char* text) : at_(text), end_(text + std::strlen(text)) {}

    FieldReader& integer(int32_t& field) {
        bool negative = false;
        const char* p = signedStart(&negative);
        if (p == nullptr)
            return *this;
        if (!isDigit(*p))
            return fail();
        const int64_t limit = negative ? INT64_C(2147483648) : INT64_C(2147483647);
        int64_t magnitude = 0;
        for (; isDigit(*p); ++p)
            if (magnitude < limit)
                magnitude = std::min(limit, magnitude * 10 + (*p - '0'));
        field = static_cast<int32_t>(negative ? -magnitude : magnitude);
        at_ = p;
        return *this;
    }

    FieldReader& real(double& field) {
        bool negative = false;
        const char* p = signedStart(&negative);
        if (p == nullptr)
            return *this;
        if (*p == '-' || *p == '+')
            return fail(); // from_chars would take a second sign
        double value = 0.0;
        auto [next, error] = std::from_chars(p, end_, value, std::chars_format::general);
        if (error == std::errc::invalid_argument || next == p)
            return fail();
        if (error == std::errc::result_out_of_range)
            value = tooLarge(p, next) ? HUGE_VAL : 0.0;
        field = negative ? -value : value;
        at_ = next;
        return *this;
    }

  private:
    // The field's first character after blanks, or null once a field failed.
    const char* start() {
        if (at_ == nullptr)
            return nullptr;
        while (isBlank(*at_))
            ++at_;
        return at_;
    }
    // The same past a sign; *negative when it was '-'.
    const char* signedStart(bool* negative) {
        const char* p = start();
        if (p != nullptr && (*p == '-' || *p == '+')) {
            *negative = *p == '-';
            ++p;
        }
        return p;
    }
    FieldReader& fail() {
        at_ = nullptr;
        return *this;
    }

    const char* at_;
    const char* end_;
};

// One line of the host's reader in the module's 256-byte buffer. After the
// first missing line no further line is asked for.
class LineSource {
  public:
    explicit LineSource(const LoadState* state) : state_(state) {}

    bool next() {
        if (ended_)
            return false;
        text_[0] = '\0';
        ended_ = state_->readLine(state_->data, text_, kMaxLineLength) < 0;
        text_[kMaxLineLength] = '\0'; // a reader that overran the length still ends here
        return !ended_;
    }
    FieldReader fields() const { return FieldReader(text_); }
    const char* text() const { return text_; }

  private:
    const LoadState* state_;
    char text_[kLineBytes];
    bool ended_ = false;
};

// Line a, "%d %d %d %lf %lf".
void readMainFields(GlowSetting* entry, const LineSource& line) {
    line.fields()
        .integer(entry->value)
        .integer(entry->enabled)
        .integer(entry->mode)
        .real(entry->distance)
        .real(entry->transparency);
}

// The five key lines, "%d %d %d %d %d" each. False when the data ended.
bool readKeys(GlowSetting* entry, LineSource& line) {
    for (int i = 0; i < kColorKeyCount; ++i) {
        if (!line.next())
            return false;
        line.fields()
            .integer(entry->keyEnabled[i])
            .integer(entry->keyRed[i])
            .integer(entry->keyGreen[i])
            .integer(entry->keyBlue[i])
            .integer(entry->keyPosition[i]);
    }
    return true;
}

// A flagged envelope: a new handle that reads its own lines. False when no
// envelope can be made; the handle then stays null.
bool loadEnvelopeInto(EnvelopeHandle& handle, const LoadState* state) {
    EnvelopeHandle envelope = createEnvelope();
    if (envelope == nullptr)
        return false;
    handle = envelope;
    return loadEnvelope(envelope, state);
}

// Appends and reads one entry. False when reading must stop.
bool loadEntry(FilterInstance* instance, LineSource& line, const LoadState* state, bool versioned) {
    if (!line.next())
        return false;
    GlowSetting* entry = appendSetting(instance, 0);
    if (entry == nullptr)
        return false;
    readMainFields(entry, line);
    if (versioned) {
        if (!line.next())
            return false;
        int32_t sizeFlag = 0;
        int32_t transparencyFlag = 0;
        line.fields().integer(sizeFlag).integer(transparencyFlag);
        if (sizeFlag != 0 && !loadEnvelopeInto(entry->sizeEnvelope, state))
            return false;
        if (transparencyFlag != 0 && !loadEnvelopeInto(entry->transparencyEnvelope, state))
            return false;
    }
    return readKeys(entry, line);
}

// Writes fields separated by one blank, then the line.
class LineWriter {
  public:
    LineWriter& integer(int32_t value) {
        separate();
        length_ = static_cast<int32_t>(std::to_chars(text_ + length_, end(), value).ptr - text_);
        return *this;
    }
    // "%lf": six decimals.
    LineWriter& real(double value) {
        separate();
        auto result = std::to_chars(text_ + length_, end(), value, std::chars_format::fixed, 6);
        length_ = static_cast<int32_t>(result.ptr - text_);
        return *this;
    }
    void write(const SaveState* state) {
        text_[length_] = '\0';
        state->writeLine(state->data, text_, length_);
    }

  private:
    void separate() {
        if (length_ > 0)
            text_[length_++] = ' ';
    }
    char* end() { return text_ + sizeof text_ - 1; }

    // Room for line a with two reals of the largest magnitude (317 characters each).
    char text_[768];
    int32_t length_ = 0;
};

} // namespace

int32_t saveSettings(const FilterInstance* instance, const SaveState* state) {
    if (instance == nullptr || state == nullptr || state->writeLine == nullptr)
        return 0;
    static const char kVersionLine[] = "v 04";
    state->writeLine(state->data, kVersionLine, static_cast<int32_t>(sizeof kVersionLine - 1));
    LineWriter().integer(instance->enabled).integer(instance->settingCount).write(state);
    for (int32_t i = 0; i < instance->settingCount; ++i) {
        const GlowSetting& entry = *instance->settings[i];
        LineWriter()
            .integer(entry.value)
            .integer(entry.enabled)
            .integer(entry.mode)
            .real(entry.distance)
            .real(entry.transparency)
            .write(state);
        // Without the service no envelope can be written: the flag says none.
        const bool size = entry.sizeEnvelope != nullptr && envelopeService != nullptr;
        const bool transparency =
            entry.transparencyEnvelope != nullptr && envelopeService != nullptr;
        LineWriter().integer(size ? 1 : 0).integer(transparency ? 1 : 0).write(state);
        if (size)
            saveEnvelope(entry.sizeEnvelope, state);
        if (transparency)
            saveEnvelope(entry.transparencyEnvelope, state);
        for (int k = 0; k < kColorKeyCount; ++k)
            LineWriter()
                .integer(entry.keyEnabled[k])
                .integer(entry.keyRed[k])
                .integer(entry.keyGreen[k])
                .integer(entry.keyBlue[k])
                .integer(entry.keyPosition[k])
                .write(state);
    }
    return 0;
}

int32_t loadSettings(FilterInstance* instance, const LoadState* state) {
    if (instance == nullptr)
        return 0;
    releaseSettings(instance);
    if (state == nullptr || state->readLine == nullptr)
        return 0;
    LineSource line(state);
    if (!line.next())
        return 0;
    const bool versioned = line.text()[0] == 'v';
    if (versioned) {
        int32_t version = 0;
        FieldReader(line.text() + 1).integer(version);
        if (!line.next() || version != kVersion)
            return 0;
    }
    int32_t count = 0;
    line.fields().integer(instance->enabled).integer(count);
    for (int32_t i = 0; i < count; ++i)
        if (!loadEntry(instance, line, state, versioned))
            break;
    return 0;
}

} // namespace orvit
