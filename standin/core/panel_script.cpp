#include "standin/core/panel_script.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

namespace orvit::standin {

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

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return "";
    const auto end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
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
        text_ = trim(line.substr(0, i));
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

    double number(const char* what) {
        if (atEnd())
            fail(std::string("expected ") + what);
        const Token& t = take();
        errno = 0;
        char* end = nullptr;
        const double v = std::strtod(t.text.c_str(), &end);
        if (t.quoted || t.text.empty() || *end != '\0' || errno != 0 || !std::isfinite(v))
            fail(std::string("expected ") + what + ", not '" + t.text + "'");
        return v;
    }

    int32_t integer(const char* what) {
        if (atEnd())
            fail(std::string("expected ") + what);
        const Token& t = take();
        errno = 0;
        char* end = nullptr;
        const long v = std::strtol(t.text.c_str(), &end, 10);
        if (t.quoted || t.text.empty() || *end != '\0' || errno != 0 ||
            v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
            fail(std::string("expected ") + what + ", not '" + t.text + "'");
        return static_cast<int32_t>(v);
    }

  private:
    void split() {
        size_t i = 0;
        while (i < text_.size()) {
            const char c = text_[i];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
            } else if (c == '"') {
                const size_t close = text_.find('"', i + 1);
                if (close == std::string::npos)
                    fail("a label's closing \" is missing");
                Token t;
                t.text = text_.substr(i + 1, close - i - 1);
                t.quoted = true;
                tokens_.push_back(t);
                i = close + 1;
            } else if (c == '[') {
                const size_t close = text_.find(']', i);
                if (close == std::string::npos)
                    fail("the closing ] is missing");
                Token t;
                t.text = text_.substr(i + 1, close - i - 1);
                t.ordinal = true;
                tokens_.push_back(t);
                i = close + 1;
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
            Key k{};
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

// ---- Resolving ------------------------------------------------------------

bool sameRow(const PanelControl& a, const PanelControl& b) {
    return int64_t{a.y} < int64_t{b.y} + b.height && int64_t{b.y} < int64_t{a.y} + a.height;
}

bool kindMatches(const std::string& kind, ControlType t) {
    if (kind == "control")
        return true;
    if (kind == "box")
        return t == ControlType::Bool;
    if (kind == "button")
        return t == ControlType::Button || t == ControlType::BoolButton;
    if (kind == "popup")
        return t == ControlType::Popup || t == ControlType::Choice;
    if (kind == "field")
        return t == ControlType::Float || t == ControlType::Percent;
    if (kind == "colour")
        return t == ControlType::MiniRGB;
    if (kind == "slider")
        return t == ControlType::MiniSlider;
    if (kind == "area")
        return t == ControlType::Area;
    if (kind == "text")
        return t == ControlType::Text;
    return false;
}

// The nearest control of `kind` on the row of `from`, on its left or right.
PanelControl* nearest(Panel& panel, const PanelControl& from, const std::string& kind, bool left) {
    PanelControl* best = nullptr;
    int64_t bestDistance = 0;
    for (const auto& c : panel.controls()) {
        if (c.get() == &from || !kindMatches(kind, c->type()) || !sameRow(*c, from))
            continue;
        const int64_t d = left ? int64_t{from.x} - c->x : int64_t{c->x} - from.x;
        if (d <= 0)
            continue;
        if (best == nullptr || d < bestDistance) {
            best = c.get();
            bestDistance = d;
        }
    }
    return best;
}

std::vector<PanelControl*> inReadingOrder(Panel& panel, const std::string& label) {
    std::vector<PanelControl*> found;
    for (const auto& c : panel.controls())
        if (c->label() == label)
            found.push_back(c.get());
    std::stable_sort(found.begin(), found.end(), [](const PanelControl* a, const PanelControl* b) {
        return a->y != b->y ? a->y < b->y : a->x < b->x;
    });
    return found;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

const char* kindName(ControlType t) {
    switch (t) {
    case ControlType::Bool:
        return "a box";
    case ControlType::BoolButton:
    case ControlType::Button:
        return "a button";
    case ControlType::Popup:
    case ControlType::Choice:
        return "a popup";
    case ControlType::Float:
    case ControlType::Percent:
        return "a field";
    case ControlType::MiniRGB:
        return "a colour";
    case ControlType::MiniSlider:
        return "a slider";
    case ControlType::Text:
        return "a text";
    case ControlType::Area:
        return "an area";
    }
    return "a control";
}

int32_t lastRunAnswer(ScriptAction::Verb verb) {
    return verb == ScriptAction::Verb::Ok ? 1 : 0;
}

} // namespace

bool prepareStep(const ScriptAction& a, Panel& panel, ScriptStep* step, std::string* why) {
    using Verb = ScriptAction::Verb;
    step->action = &a;
    if (a.verb == Verb::Ok || a.verb == Verb::Cancel)
        return true;
    PanelControl* c = resolveTarget(a.target, panel, why);
    if (c == nullptr)
        return false;
    step->control = c;
    const ControlType t = c->type();
    const std::string what =
        std::string("the control is ") + kindName(t) + " (" + controlTypeName(t) + ")";
    switch (a.verb) {
    case Verb::Tick:
        if (t != ControlType::Bool) {
            *why = what + ": tick is for boxes";
            return false;
        }
        step->value.integer = a.on ? 1 : 0;
        return true;
    case Verb::Choose: {
        if (t != ControlType::Popup && t != ControlType::Choice) {
            *why = what + ": choose is for popups";
            return false;
        }
        const std::vector<std::string>& items = c->description().items;
        const std::string wanted = trim(a.item);
        for (int pass = 0; pass < 2; ++pass)
            for (size_t i = 0; i < items.size(); ++i) {
                const std::string item = trim(items[i]);
                if (pass == 0 ? item == wanted : lower(item) == lower(wanted)) {
                    step->value.integer = static_cast<int32_t>(i);
                    return true;
                }
            }
        std::string list;
        for (const std::string& item : items)
            list += (list.empty() ? "" : ", ") + trim(item);
        *why = "no item " + quoted(wanted) + " (the items: " + list + ")";
        return false;
    }
    case Verb::Set:
        if (t == ControlType::MiniRGB) {
            if (a.ints.size() != 3) {
                *why = "a colour takes three numbers: red green blue";
                return false;
            }
            for (size_t i = 0; i < 3; ++i) {
                if (a.ints[i] < 0 || a.ints[i] > 255) {
                    *why = "colour values are 0 to 255, not " + std::to_string(a.ints[i]);
                    return false;
                }
                step->value.vector[i] = a.ints[i];
            }
            return true;
        }
        if (t == ControlType::MiniSlider) {
            const ControlDescription& d = c->description();
            if (a.ints.size() != 1) {
                *why = "a slider takes one number";
                return false;
            }
            if (a.ints[0] < d.rangeMin || a.ints[0] > d.rangeMax) {
                *why = "the slider goes from " + std::to_string(d.rangeMin) + " to " +
                       std::to_string(d.rangeMax) + ", not " + std::to_string(a.ints[0]);
                return false;
            }
            step->value.integer = a.ints[0];
            return true;
        }
        *why = what + ": set is for colours and sliders";
        return false;
    case Verb::Type:
        if (t == ControlType::Percent) {
            const ControlDescription& d = c->description();
            if (a.number < d.rangeMin || a.number > d.rangeMax) {
                *why = "the field takes " + std::to_string(d.rangeMin) + " to " +
                       std::to_string(d.rangeMax);
                return false;
            }
        } else if (t != ControlType::Float) {
            *why = what + ": type is for number fields";
            return false;
        }
        step->value.real = a.number;
        return true;
    case Verb::Press:
        if (t != ControlType::Button && t != ControlType::BoolButton) {
            *why = what + ": press is for buttons";
            return false;
        }
        return true;
    default:
        return true;
    }
}

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

PanelControl* resolveTarget(const ScriptTarget& target, Panel& panel, std::string* why) {
    PanelControl* c = nullptr;
    if (target.base == ScriptTarget::Base::Key) {
        const std::vector<PanelControl*> sliders = inReadingOrder(panel, "Position");
        if (static_cast<size_t>(target.key) > sliders.size()) {
            *why = "the panel has " + std::to_string(sliders.size()) + " key rows, not " +
                   std::to_string(target.key);
            return nullptr;
        }
        c = sliders[static_cast<size_t>(target.key) - 1];
        if (target.part == "box")
            c = nearest(panel, *c, "box", true);
        else if (target.part == "colour")
            c = nearest(panel, *c, "colour", true);
        if (c == nullptr) {
            *why = "key row " + std::to_string(target.key) + " has no " + target.part;
            return nullptr;
        }
    } else {
        const std::vector<PanelControl*> found = inReadingOrder(panel, target.label);
        if (found.empty()) {
            *why = "no control is labelled " + quoted(target.label);
            return nullptr;
        }
        if (target.ordinal == 0 && found.size() > 1) {
            *why = std::to_string(found.size()) + " controls are labelled " + quoted(target.label) +
                   ": say which, e.g. " + quoted(target.label) +
                   "[2] or button right of another control";
            return nullptr;
        }
        if (static_cast<size_t>(target.ordinal) > found.size()) {
            *why = "only " + std::to_string(found.size()) + " controls are labelled " +
                   quoted(target.label);
            return nullptr;
        }
        c = found[target.ordinal == 0 ? 0 : static_cast<size_t>(target.ordinal) - 1];
        // A text label stands for the control it labels, the next on its right.
        if (c->type() == ControlType::Text && target.near.empty()) {
            PanelControl* labelled = nearest(panel, *c, "control", false);
            if (labelled == nullptr) {
                *why = "nothing stands right of the text " + quoted(target.label);
                return nullptr;
            }
            c = labelled;
        }
    }
    for (size_t i = target.near.size(); i-- > 0;) {
        const ScriptTarget::Near& n = target.near[i];
        PanelControl* next = nearest(panel, *c, n.kind, n.left);
        if (next == nullptr) {
            *why = "no " + n.kind + " stands " + (n.left ? "left" : "right") + " of control " +
                   std::to_string(c->index()) + " (" + controlTypeName(c->type()) + " " +
                   quoted(c->label()) + ") on its row";
            return nullptr;
        }
        c = next;
    }
    return c;
}

// ---- The envelope editor ----------------------------------------------------

void ScriptedEnvelopeEditor::expect(const ScriptAction* action) {
    action_ = action;
    answered_ = false;
    error.clear();
}

int32_t ScriptedEnvelopeEditor::edit(Envelope& envelope, const EnvelopeEditRequest& request) {
    EditorRequestSeen seen;
    seen.line = action_ != nullptr ? action_->line : 0;
    seen.title = request.title != nullptr ? request.title : "";
    seen.label = request.label != nullptr ? request.label : "";
    seen.low = request.low;
    seen.high = request.high;
    seen.panelServices = request.panelServices;
    seen.restZero = std::all_of(std::begin(request.zero), std::end(request.zero),
                                [](uint8_t b) { return b == 0; });
    const EditorAnswer* answer =
        action_ != nullptr && action_->answer.given && !answered_ ? &action_->answer : nullptr;
    int32_t result = 0;
    if (answer == nullptr) {
        if (error.empty())
            error = "the press opened the envelope editor " + quoted(seen.title) +
                    ", which the line does not answer (end it with: then accept TIME VALUE, "
                    "..., cancel, remove or answer N)";
    } else {
        answered_ = true;
        result = answer->result;
        if (answer->replaceKeys) {
            const double low = seen.low, high = seen.high;
            for (const Key& k : answer->keys)
                if (!(k.value >= low && k.value <= high)) {
                    char range[96];
                    std::snprintf(range, sizeof range, "%g to %g", low, high);
                    error = "the envelope editor " + quoted(seen.title) + " takes " +
                            quoted(seen.label) + " values from " + range;
                    result = 0;
                    break;
                }
            if (result == 1)
                envelope.setKeys(answer->keys);
        }
    }
    seen.answer = result;
    requests.push_back(seen);
    return result;
}

// ---- The scripted user ------------------------------------------------------

std::string lineError(const Script& script, const ScriptAction& action, const std::string& why) {
    return "script '" + script.name + "' line " + std::to_string(action.line) + ": " + action.text +
           ": " + why;
}

int32_t ScriptedUser::fail(const ScriptAction& action, const std::string& why) {
    if (error_.empty())
        error_ = lineError(script_, action, why);
    lastAnswer_ = 0;
    return 0;
}

int32_t ScriptedUser::run(Panel& panel, int32_t) {
    ++runs_;
    std::vector<ScriptStep> steps(script_.actions.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        std::string why;
        if (!prepareStep(script_.actions[i], panel, &steps[i], &why))
            return fail(script_.actions[i], why);
    }

    // The editor answers only while the script runs.
    const EnvelopeEditorInPlace editorInPlace(&editor_);

    using Verb = ScriptAction::Verb;
    for (const ScriptStep& step : steps) {
        const ScriptAction& a = *step.action;
        if (a.verb == Verb::Ok || a.verb == Verb::Cancel) {
            lastAnswer_ = lastRunAnswer(a.verb);
            return lastAnswer_;
        }
        if (!panel.live())
            return fail(a, "the module has released the panel");
        if (step.control->ghosted)
            return fail(a, "the control is ghosted: a user cannot change it");
        editor_.expect(&a);
        if (a.verb == Verb::Press)
            panel.userPress(*step.control);
        else
            panel.userChange(*step.control, step.value);
        if (!editor_.error.empty())
            return fail(a, editor_.error);
        if (a.answer.given && !editor_.answered())
            return fail(a, "the line answers an envelope editor, but the press opened none");
        editor_.expect(nullptr);
    }
    return fail(script_.actions.back(), "the script ends without ok or cancel");
}

} // namespace orvit::standin
