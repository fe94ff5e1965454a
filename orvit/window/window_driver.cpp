#include "orvit/window/window_driver.h"

#include <FL/Fl.H>
#include <FL/Fl_Color_Chooser.H>
#include <FL/Fl_Return_Button.H>

#include <cstdio>

namespace orvit::window {

using panel::ControlType;
using panel::ScriptAction;
using Verb = panel::ScriptAction::Verb;

namespace {

std::string exact(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// The colour chooser's window while it is open: its chooser and OK button.
struct ChooserParts {
    Fl_Window* window = nullptr;
    Fl_Color_Chooser* chooser = nullptr;
    Fl_Button* ok = nullptr;
};

ChooserParts findChooser() {
    ChooserParts parts;
    for (Fl_Window* w = Fl::first_window(); w != nullptr; w = Fl::next_window(w)) {
        parts = ChooserParts{};
        for (int i = 0; i < w->children(); ++i) {
            if (auto* c = dynamic_cast<Fl_Color_Chooser*>(w->child(i)))
                parts.chooser = c;
            if (auto* b = dynamic_cast<Fl_Return_Button*>(w->child(i)))
                parts.ok = b;
        }
        if (parts.chooser != nullptr && parts.ok != nullptr) {
            parts.window = w;
            return parts;
        }
    }
    return ChooserParts{};
}

// The hand at the colour chooser: sets the colour and presses OK once the
// chooser is open.
struct ChooserHand {
    std::array<int32_t, 3> colour{};
    int tries = 0;
    bool done = false;

    static void act(void* data) {
        auto* hand = static_cast<ChooserHand*>(data);
        const ChooserParts parts = findChooser();
        if (parts.window == nullptr) {
            if (++hand->tries < 100)
                Fl::repeat_timeout(0.01, act, data);
            return;
        }
        parts.chooser->rgb(hand->colour[0] / 255.0, hand->colour[1] / 255.0,
                           hand->colour[2] / 255.0);
        parts.ok->do_callback();
        hand->done = true;
    }
};

} // namespace

WindowScriptDriver::WindowScriptDriver(panel::Script script, WindowUser& user, Colours colours)
    : script_(std::move(script)), user_(user), colours_(colours) {
    user_.onOpen = [this](PanelWindow& window) { run(window); };
    user_.editor().onOpen = [this](EnvelopeWindow& editor) { answerEditor(editor); };
}

bool WindowScriptDriver::fail(PanelWindow& window, const panel::ScriptAction& action,
                              const std::string& why) {
    if (error_.empty())
        error_ = panel::lineError(script_, action, why);
    if (window.shown())
        window.cancelButton()->do_callback();
    return false;
}

void WindowScriptDriver::run(PanelWindow& window) {
    for (const panel::ScriptAction& action : script_.actions)
        if (!perform(window, action) || !window.shown())
            return;
}

bool WindowScriptDriver::pickColour(ControlWidgets& w, const panel::ControlPayload& value) {
    if (colours_ == Colours::Fields) {
        for (size_t i = 0; i < w.channels.size(); ++i) {
            w.channels[i]->value(std::to_string(value.vector[i]).c_str());
            w.channels[i]->do_callback();
        }
        return true;
    }
    ChooserHand hand;
    hand.colour = value.vector;
    Fl::add_timeout(0.0, ChooserHand::act, &hand);
    w.swatch->do_callback();
    Fl::remove_timeout(ChooserHand::act, &hand);
    return hand.done;
}

bool WindowScriptDriver::perform(PanelWindow& window, const panel::ScriptAction& action) {
    if (action.verb == Verb::Ok) {
        window.okButton()->do_callback();
        return true;
    }
    if (action.verb == Verb::Cancel) {
        window.cancelButton()->do_callback();
        return true;
    }
    panel::ScriptStep step;
    std::string why;
    if (!window.panel().live())
        return fail(window, action, "the module has released the panel");
    if (!panel::prepareStep(action, window.panel(), &step, &why))
        return fail(window, action, why);
    ControlWidgets* w = window.widgetsOf(*step.control);
    if (w == nullptr)
        return fail(window, action, "the window shows no such control");
    if (!w->active())
        return fail(window, action, "the control is ghosted: a user cannot change it");

    pressing_ = &action;
    editorOpened_ = false;
    editorError_.clear();
    const panel::ControlPayload& v = step.value;
    const panel::ControlType type = step.control->type();
    switch (action.verb) {
    case Verb::Tick:
        w->check->value(v.integer);
        w->check->do_callback();
        break;
    case Verb::Choose:
        w->choice->value(v.integer);
        w->choice->do_callback();
        break;
    case Verb::Set:
        if (type == panel::ControlType::MiniRGB) {
            if (!pickColour(*w, v))
                return fail(window, action, "the colour chooser did not open");
        } else {
            w->slider->value(v.integer);
            w->slider->do_callback();
        }
        break;
    case Verb::Type:
        w->number->value(exact(v.real).c_str());
        w->number->do_callback();
        break;
    case Verb::Press:
        if (type == panel::ControlType::BoolButton)
            w->button->value(!w->button->value());
        w->button->do_callback();
        break;
    default:
        break;
    }
    pressing_ = nullptr;
    if (!editorError_.empty())
        return fail(window, action, editorError_);
    if (action.answer.given && !editorOpened_)
        return fail(window, action,
                    "the line answers an envelope editor, but the press opened none");
    return true;
}

// Gives the line's answer in the editor's window: the keys replaced through
// the table and the fields, then OK; or Cancel, or Remove.
void WindowScriptDriver::answerEditor(EnvelopeWindow& editor) {
    const bool first = !editorOpened_;
    editorOpened_ = true;
    const panel::EditorAnswer* answer =
        pressing_ != nullptr && pressing_->answer.given && first ? &pressing_->answer : nullptr;
    if (answer == nullptr) {
        if (editorError_.empty())
            editorError_ = "the press opened the envelope editor \"" +
                           std::string(editor.label() != nullptr ? editor.label() : "") +
                           "\", which the line does not answer";
        editor.cancelButton->do_callback();
        return;
    }
    switch (answer->result) {
    case 1:
        while (!editor.keys().empty()) {
            editor.table->value(1);
            editor.table->do_callback();
            editor.deleteButton->do_callback();
        }
        for (const core::Key& k : answer->keys) {
            editor.timeField->value(exact(k.time).c_str());
            editor.valueField->value(exact(k.value).c_str());
            editor.addButton->do_callback();
            if (!editor.refusal().empty()) {
                editorError_ = "the envelope editor refused the key " + exact(k.time) + " " +
                               exact(k.value) + ": " + editor.refusal();
                editor.cancelButton->do_callback();
                return;
            }
        }
        editor.okButton->do_callback();
        return;
    case 0:
        editor.cancelButton->do_callback();
        return;
    case -1:
        editor.removeButton->do_callback();
        return;
    default:
        editorError_ = "the envelope editor's window answers OK, Cancel or Remove, not " +
                       std::to_string(answer->result);
        editor.cancelButton->do_callback();
        return;
    }
}

} // namespace orvit::window
