// A panel script at the open panel: each line's control found and its value
// checked before the first action, then the actions done as a person would do
// them, the envelope editor answered by the line that opened it. A line that
// cannot be done stops the script and the panel is cancelled.
#pragma once

#include "orvit/core/envelopes.h"
#include "orvit/panel/panel_host.h"
#include "orvit/panel/panel_model.h"
#include "orvit/panel/panel_script.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvit::panel {

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
class ScriptedEnvelopeEditor : public core::EnvelopeEditor {
  public:
    // The answer for the next opening, from `action`; null for none.
    void expect(const ScriptAction* action);
    int32_t edit(core::Envelope& envelope, const EnvelopeEditRequest& request) override;

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

// The item of a popup or choice that `wanted` names, as a user picks it: the
// item as shown (blanks around either ignored), else the first that differs
// from it only in case; -1 when none does.
int findItem(const std::vector<std::string>& items, const std::string& wanted);
// The items as shown: "a, b, c".
std::string shownItems(const std::vector<std::string>& items);

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

} // namespace orvit::panel
