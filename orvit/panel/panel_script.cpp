#include "orvit/panel/panel_script.h"
#include "orvit/core/text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace orvit::panel {

namespace {

struct Token {
    std::string text;
    bool quoted = false;  // "..."
    bool ordinal = false; // [N]
};

const char* const kKinds[] = {"box",   "button", "popup", "field", "colour",
                              "color", "slider", "area",  "text",  "control"};

bool isKind(const std::string& word) {
    for (const char* k : kKinds)
        if (word == k)
            return true;
    return false;
}

// Reads one line into tokens; `text` gets the line without its comment.
class ScriptLine {
  public:
    ScriptLine(const Script& script, size_t number, const std::string& line)
        : script_(script), number_(number) {
        size_t i = 0;
        bool inQuote = false;
        for (; i < line.size(); ++i) {
            if (line[i] == '"')
                inQuote = !inQuote;
            else if (line[i] == '#' && !inQuote)
                break;
        }
        text_ = core::trimmed(line.substr(0, i));
        split();
    }

    [[noreturn]] void fail(const std::string& why) const {
        throw ScriptError("script '" + script_.name + "' line " + std::to_string(number_) + ": " +
                          text_ + ": " + why);
    }

    const std::string& text() const { return text_; }
    size_t size() const { return tokens_.size(); }
    bool atEnd() const { return next_ >= tokens_.size(); }
    const Token& peek(size_t ahead = 0) const {
        static const Token none;
        return next_ + ahead < tokens_.size() ? tokens_[next_ + ahead] : none;
    }
    const Token& take() {
        const Token& t = peek();
        ++next_;
        return t;
    }
    bool takeWord(const char* word) {
        if (atEnd() || peek().quoted || peek().text != word)
            return false;
        ++next_;
        return true;
    }
    // The words left on the line, joined by single blanks.
    std::string rest() {
        std::string out;
        while (!atEnd()) {
            const Token& t = take();
            out += (out.empty() ? "" : " ") + t.text;
        }
        return out;
    }

    // The next word as `what`: an unquoted number that `parse` reads whole
    // (errno set when out of its type's range) and whose value `fits`.
    template <typename Parse, typename Fits>
    auto numeric(const char* what, Parse parse, Fits fits) {
        if (atEnd())
            fail(std::string("expected ") + what);
        const Token& t = take();
        errno = 0;
        char* end = nullptr;
        const auto v = parse(t.text.c_str(), &end);
        if (t.quoted || t.text.empty() || *end != '\0' || errno != 0 || !fits(v))
            fail(std::string("expected ") + what + ", not '" + t.text + "'");
        return v;
    }

    double number(const char* what) {
        return numeric(
            what, [](const char* text, char** end) { return std::strtod(text, end); },
            [](double v) { return std::isfinite(v); });
    }

    int32_t integer(const char* what) {
        return static_cast<int32_t>(numeric(
            what, [](const char* text, char** end) { return std::strtol(text, end, 10); },
            [](long v) {
                return v >= std::numeric_limits<int32_t>::min() &&
                       v <= std::numeric_limits<int32_t>::max();
            }));
    }

  private:
    // Takes the text from text_[i] to the next `close` as a token of the
    // `kind` flagged; `missing` when there is no `close`. Where it ends.
    size_t enclosed(size_t i, char close, const char* missing, bool Token::*kind) {
        const size_t end = text_.find(close, i + 1);
        if (end == std::string::npos)
            fail(missing);
        Token t;
        t.text = text_.substr(i + 1, end - i - 1);
        t.*kind = true;
        tokens_.push_back(t);
        return end + 1;
    }

    void split() {
        size_t i = 0;
        while (i < text_.size()) {
            const char c = text_[i];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
            } else if (c == '"') {
                i = enclosed(i, '"', "a label's closing \" is missing", &Token::quoted);
            } else if (c == '[') {
                i = enclosed(i, ']', "the closing ] is missing", &Token::ordinal);
            } else if (c == ',') {
                tokens_.push_back(Token{",", false, false});
                ++i;
            } else {
                const size_t end = text_.find_first_of(" \t\r\",[", i);
                Token t;
                t.text = text_.substr(i, end == std::string::npos ? std::string::npos : end - i);
                tokens_.push_back(t);
                i = end == std::string::npos ? text_.size() : end;
            }
        }
    }

    const Script& script_;
    size_t number_;
    std::string text_;
    std::vector<Token> tokens_;
    size_t next_ = 0;
};

const char* const kTargetHelp =
    "expected a control: a \"label\", key N box|colour|position, or KIND left of / right of a "
    "control";

ScriptTarget parseTarget(ScriptLine& r) {
    ScriptTarget target;
    for (;;) {
        if (r.atEnd())
            r.fail(kTargetHelp);
        const Token& t = r.peek();
        if (t.quoted) {
            r.take();
            target.base = ScriptTarget::Base::Label;
            target.label = t.text;
            if (r.peek().ordinal) {
                const std::string n = r.take().text;
                char* end = nullptr;
                const long v = std::strtol(n.c_str(), &end, 10);
                if (n.empty() || *end != '\0' || v < 1 || v > 1000)
                    r.fail("expected [N] with N from 1, not [" + n + "]");
                target.ordinal = static_cast<int>(v);
            }
            return target;
        }
        if (!t.ordinal && t.text == "key") {
            r.take();
            target.base = ScriptTarget::Base::Key;
            target.key = r.integer("a key number 1 to 5 after key");
            if (target.key < 1 || target.key > 5)
                r.fail("key rows are numbered 1 to 5, not " + std::to_string(target.key));
            const std::string part = r.atEnd() ? "" : r.take().text;
            if (part == "box" || part == "position")
                target.part = part;
            else if (part == "colour" || part == "color")
                target.part = "colour";
            else
                r.fail("expected box, colour or position after key " + std::to_string(target.key));
            return target;
        }
        if (!t.quoted && isKind(t.text) &&
            (r.peek(1).text == "left" || r.peek(1).text == "right") && r.peek(2).text == "of") {
            ScriptTarget::Near near;
            near.kind = t.text == "color" ? "colour" : t.text;
            near.left = r.peek(1).text == "left";
            target.near.push_back(near);
            r.take();
            r.take();
            r.take();
            continue;
        }
        r.fail(kTargetHelp);
    }
}

EditorAnswer parseAnswer(ScriptLine& r) {
    EditorAnswer a;
    a.given = true;
    if (r.takeWord("cancel")) {
        a.result = 0;
    } else if (r.takeWord("remove")) {
        a.result = -1;
    } else if (r.takeWord("answer")) {
        a.result = r.integer("an integer after answer");
    } else if (r.takeWord("accept")) {
        a.result = 1;
        a.replaceKeys = true;
        for (;;) {
            core::Key k{};
            k.time = r.number("a key: TIME VALUE");
            k.value = r.number("a key's value after its time");
            a.keys.push_back(k);
            if (r.atEnd())
                break;
            if (r.take().text != ",")
                r.fail("keys are TIME VALUE pairs separated by commas");
        }
    } else {
        r.fail("expected accept TIME VALUE, ..., cancel, remove or answer N after then");
    }
    return a;
}

ScriptAction parseAction(ScriptLine& r, size_t number) {
    ScriptAction a;
    a.line = number;
    a.text = r.text();
    const Token verb = r.take();
    using Verb = ScriptAction::Verb;
    if (verb.quoted || verb.ordinal)
        r.fail("a line starts with what the user does: tick, choose, set, type, press, ok or "
               "cancel");
    if (verb.text == "ok" || verb.text == "cancel") {
        a.verb = verb.text == "ok" ? Verb::Ok : Verb::Cancel;
        if (!r.atEnd())
            r.fail("nothing may follow " + verb.text);
        return a;
    }
    if (verb.text == "tick") {
        a.verb = Verb::Tick;
        a.target = parseTarget(r);
        const std::string state = r.atEnd() ? "" : r.take().text;
        if (state != "on" && state != "off")
            r.fail("expected on or off after the box");
        a.on = state == "on";
    } else if (verb.text == "choose") {
        a.verb = Verb::Choose;
        a.target = parseTarget(r);
        if (r.atEnd())
            r.fail("expected the item to choose");
        if (r.size() > 0 && r.peek().quoted) {
            a.item = r.take().text;
        } else {
            a.item = r.rest();
        }
    } else if (verb.text == "set") {
        a.verb = Verb::Set;
        a.target = parseTarget(r);
        a.ints.push_back(r.integer("a whole number"));
        while (!r.atEnd())
            a.ints.push_back(r.integer("a whole number"));
    } else if (verb.text == "type") {
        a.verb = Verb::Type;
        a.target = parseTarget(r);
        a.number = r.number("a number to type");
    } else if (verb.text == "press") {
        a.verb = Verb::Press;
        a.target = parseTarget(r);
        if (r.takeWord("then"))
            a.answer = parseAnswer(r);
    } else {
        r.fail("unknown action '" + verb.text +
               "': expected tick, choose, set, type, press, ok or cancel");
    }
    if (!r.atEnd())
        r.fail("unexpected '" + r.peek().text + "' at the end");
    return a;
}

} // namespace

Script parseScript(const std::string& text, const std::string& name) {
    Script script;
    script.name = name;
    size_t number = 0;
    size_t start = 0;
    bool ended = false;
    size_t endLine = 0;
    while (start <= text.size()) {
        const size_t newline = text.find('\n', start);
        const std::string line =
            text.substr(start, newline == std::string::npos ? std::string::npos : newline - start);
        ++number;
        ScriptLine r(script, number, line);
        if (r.size() > 0) {
            if (ended)
                r.fail("the script ended at line " + std::to_string(endLine) +
                       "; nothing may follow ok or cancel");
            script.actions.push_back(parseAction(r, number));
            const auto verb = script.actions.back().verb;
            if (verb == ScriptAction::Verb::Ok || verb == ScriptAction::Verb::Cancel) {
                ended = true;
                endLine = number;
            }
        }
        if (newline == std::string::npos)
            break;
        start = newline + 1;
    }
    if (!ended)
        throw ScriptError("script '" + name + "': it ends without ok or cancel");
    return script;
}

std::string lineError(const Script& script, const ScriptAction& action, const std::string& why) {
    return "script '" + script.name + "' line " + std::to_string(action.line) + ": " + action.text +
           ": " + why;
}

} // namespace orvit::panel
