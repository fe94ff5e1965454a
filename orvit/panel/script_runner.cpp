#include "orvit/panel/script_runner.h"

#include "orvit/core/text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace orvit::panel {
namespace {

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
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
        std::string("the control is ") + controlKind(t) + " (" + controlTypeName(t) + ")";
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
        step->value.integer = findItem(items, a.item);
        if (step->value.integer < 0)
            *why = "no item " + core::inQuotes(core::trimmed(a.item)) +
                   " (the items: " + shownItems(items) + ")";
        return step->value.integer >= 0;
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

int findItem(const std::vector<std::string>& items, const std::string& wanted) {
    const std::string name = core::trimmed(wanted);
    for (int pass = 0; pass < 2; ++pass)
        for (size_t i = 0; i < items.size(); ++i) {
            const std::string item = core::trimmed(items[i]);
            if (pass == 0 ? item == name : lower(item) == lower(name))
                return static_cast<int>(i);
        }
    return -1;
}

std::string shownItems(const std::vector<std::string>& items) {
    return core::joined(items, [](const std::string& item) { return core::trimmed(item); });
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
            *why = "no control is labelled " + core::inQuotes(target.label);
            return nullptr;
        }
        if (target.ordinal == 0 && found.size() > 1) {
            *why = std::to_string(found.size()) + " controls are labelled " +
                   core::inQuotes(target.label) + ": say which, e.g. " +
                   core::inQuotes(target.label) + "[2] or button right of another control";
            return nullptr;
        }
        if (static_cast<size_t>(target.ordinal) > found.size()) {
            *why = "only " + std::to_string(found.size()) + " controls are labelled " +
                   core::inQuotes(target.label);
            return nullptr;
        }
        c = found[target.ordinal == 0 ? 0 : static_cast<size_t>(target.ordinal) - 1];
        // A text label stands for the control it labels, the next on its right.
        if (c->type() == ControlType::Text && target.near.empty()) {
            PanelControl* labelled = nearest(panel, *c, "control", false);
            if (labelled == nullptr) {
                *why = "nothing stands right of the text " + core::inQuotes(target.label);
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
                   core::inQuotes(c->label()) + ") on its row";
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

int32_t ScriptedEnvelopeEditor::edit(core::Envelope& envelope, const EnvelopeEditRequest& request) {
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
            error = "the press opened the envelope editor " + core::inQuotes(seen.title) +
                    ", which the line does not answer (end it with: then accept TIME VALUE, "
                    "..., cancel, remove or answer N)";
    } else {
        answered_ = true;
        result = answer->result;
        if (answer->replaceKeys) {
            const double low = seen.low, high = seen.high;
            for (const core::Key& k : answer->keys)
                if (!(k.value >= low && k.value <= high)) {
                    char range[96];
                    std::snprintf(range, sizeof range, "%g to %g", low, high);
                    error = "the envelope editor " + core::inQuotes(seen.title) + " takes " +
                            core::inQuotes(seen.label) + " values from " + range;
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
    const core::EnvelopeEditorInPlace editorInPlace(&editor_);

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

} // namespace orvit::panel
