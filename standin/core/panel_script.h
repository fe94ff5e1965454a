// The scripted user of the headless host: a plain text file of what a person
// would do at the open panel, then OK or Cancel. README.md ("Panel scripts")
// documents the language; in short, one action a line, '#' starts a comment:
//
//   choose "Special Buffer" 7              # a popup or choice, by item text
//   tick box left of "Special Buffer" on   # a check box: on or off
//   tick "Enable Orvit" on
//   set key 2 colour 255 128 0             # key rows by number, 1 to 5
//   set key 2 position 40
//   tick key 2 box on
//   choose "Mode" G-Fixed                  # a text label names the control right of it
//   type "Distance" 0.08                   # typed: no event callback of its own
//   press "Copy"
//   press button right of "Distance" then accept 0 0.02, 1 0.05
//   press button right of "Transparency" then cancel     # or remove, or answer 5
//   ok                                     # or cancel; the last line
//
// A control is named by its label in double quotes ("Position"[3] for the
// third of several, in reading order), by `key N box|colour|position`, or by
// KIND left of / right of another control on the same row, KIND being box,
// button, popup, field, colour, slider, area, text or control.
//
// Errors: the whole script is read before the panel opens, and every control,
// item and value is checked against the panel before the first action. A bad
// line is one ScriptError naming the script, the line number and its text;
// found while the panel is open, it stops the script and the panel is
// cancelled.
#pragma once

#include "standin/core/envelopes.h"
#include "standin/core/keys.h"
#include "standin/core/panel_host.h"
#include "standin/core/panel_model.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvit::standin {

class ScriptError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// How a line names a control.
struct ScriptTarget {
    enum class Base { Label, Key };
    Base base = Base::Label;
    std::string label; // Label: the text between the quotes
    int ordinal = 0;   // Label: 1 for the first of several; 0 when it must be the only one
    int key = 0;       // Key: 1 to 5
    std::string part;  // Key: "box", "colour" or "position"
    // Steps from the base outwards: the last is applied first.
    struct Near {
        std::string kind;
        bool left;
    };
    std::vector<Near> near;
};

// What the envelope editor answers to the press of a line.
struct EditorAnswer {
    bool given = false;
    int32_t result = 0;       // 1 accept, 0 cancel, -1 remove, or any other
    bool replaceKeys = false; // accept: the envelope's keys become `keys`
    std::vector<Key> keys;
};

struct ScriptAction {
    enum class Verb { Tick, Choose, Set, Type, Press, Ok, Cancel };
    size_t line = 0;
    std::string text; // the line as written, without its comment
    Verb verb = Verb::Ok;
    ScriptTarget target;
    bool on = false;           // tick
    std::string item;          // choose
    std::vector<int32_t> ints; // set: one integer, or red, green and blue
    double number = 0.0;       // type
    EditorAnswer answer;       // press
};

struct Script {
    std::string name;                  // the file, or "-" for standard input, as errors name it
    std::vector<ScriptAction> actions; // the last is ok or cancel
};

// Reads a whole script; a ScriptError for the first bad line.
Script parseScript(const std::string& text, const std::string& name);

// A line that cannot be done at the open panel, as every user of a script
// words it: "script 'NAME' line N: TEXT: WHY".
std::string lineError(const Script& script, const ScriptAction& action, const std::string& why);

// One opening of the envelope editor while a script ran.
struct EditorRequestSeen {
    size_t line = 0; // the script line whose press opened it
    std::string title;
    std::string label;
    float low = 0.0f;
    float high = 0.0f;
    const void* panelServices = nullptr;
    bool restZero = false; // bytes 20 to 199 of the request were all zero
    int32_t answer = 0;
};

// The envelope editor answered by the line being run. It honours the
// request's range: accepted keys whose values lie outside low to high are
// refused as an error of the line, and the editor then cancels.
class ScriptedEnvelopeEditor : public EnvelopeEditor {
  public:
    // The answer for the next opening, from `action`; null for none.
    void expect(const ScriptAction* action);
    int32_t edit(Envelope& envelope, const EnvelopeEditRequest& request) override;

    // Whether the expected answer was given out.
    bool answered() const { return answered_; }
    std::vector<EditorRequestSeen> requests;
    // Empty, or why the opening could not be answered.
    std::string error;

  private:
    const ScriptAction* action_ = nullptr;
    bool answered_ = false;
};

// Runs its script each time a panel opens, then answers as its last line
// says. A line that cannot run stops the script, answers Cancel and leaves
// its error in error(); the first error is kept.
class ScriptedUser : public PanelUser {
  public:
    explicit ScriptedUser(Script script) : script_(std::move(script)) {}

    int32_t run(Panel& panel, int32_t flags) override;

    const Script& script() const { return script_; }
    const std::string& error() const { return error_; }
    // Openings so far, and the answer of the last one.
    int runs() const { return runs_; }
    int32_t lastAnswer() const { return lastAnswer_; }
    // Every opening of the envelope editor, in order.
    const std::vector<EditorRequestSeen>& editorRequests() const { return editor_.requests; }

  private:
    int32_t fail(const ScriptAction& action, const std::string& why);

    Script script_;
    ScriptedEnvelopeEditor editor_;
    std::string error_;
    int runs_ = 0;
    int32_t lastAnswer_ = 0;
};

// The control a target names on the panel, or null with the reason in *why.
PanelControl* resolveTarget(const ScriptTarget& target, Panel& panel, std::string* why);

// What a line does to its control, checked against the panel: the control
// and the value a user gives it (none for ok, cancel and press).
struct ScriptStep {
    const ScriptAction* action = nullptr;
    PanelControl* control = nullptr;
    ControlPayload value;
};

// The step of `action` on `panel`; false with the reason in *why when the
// control cannot be found or cannot take the action or its value.
bool prepareStep(const ScriptAction& action, Panel& panel, ScriptStep* step, std::string* why);

} // namespace orvit::standin
