// The scripted user of the headless host: a plain text file of what a person
// would do at the open panel, then OK or Cancel. docs/panel-and-scripts.md
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
// Errors: the whole script is read before the panel opens (here), and every
// control, item and value is checked against the panel before the first
// action (script_runner.h). A bad line is one ScriptError naming the script,
// the line number and its text.
#pragma once

#include "orvit/core/keys.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvit::panel {

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
    std::vector<core::Key> keys;
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

} // namespace orvit::panel
