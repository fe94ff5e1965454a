// The panels of one host behind "LWPanelServices": it makes, keeps and
// releases panels of the shared model (panel_model.h) and hands an open
// panel to its user, the one part that differs between a headless host and
// a window.
#pragma once

#include "module/abi/panel.h"
#include "orvit/panel/panel_model.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvit::panel {

// Who answers a modal panel: a script, or a person at a window.
class PanelUser {
  public:
    virtual ~PanelUser() = default;
    // Runs the open panel until the user closes it: non-zero OK, 0 Cancel.
    // Called inside openPanel; the event callbacks run inside this call.
    virtual int32_t run(Panel& panel, int32_t flags) = 0;
};

// Every call is on the module's thread, inside the interface activation.
// A log of the panel calls, for tests: "create TITLE", "set UserData",
// "set Height 300", "get Height", "add BoolControl \"Enable Orvit\"",
// "add FooControl \"X\" refused", "draw 3", "open 7", "destroy"; a call on a
// panel that is not live is logged with " (no such panel)", an unknown
// attribute as "set attribute 99". Control operations and drawing are not
// logged: the panel's controls, faults and canvas show them.
class PanelHost {
  public:
    // Slot 0: a new panel, or null when none can be made.
    PanelHandle createPanel(const char* title);
    // Slot 1: the panel and its controls stop answering; the record stays
    // readable (the last kKeptPanels released panels are kept).
    void destroyPanel(PanelHandle panel);
    // Slot 2: the user's answer; 0 (Cancel) without a user, for a panel that
    // is not live or one that is open already.
    int32_t openPanel(PanelHandle panel, int32_t flags);
    // Slot 4.
    void drawPanel(PanelHandle panel, int32_t mode);
    // Slots 6 and 7: Height as a 32-bit integer, UserData as a pointer;
    // false (and nothing changed) for an unknown panel or attribute.
    bool getPanelAttr(PanelHandle panel, int32_t attr, void* value);
    bool setPanelAttr(PanelHandle panel, int32_t attr, const void* value);
    // Slot 8: the control placed by the host's rule, or null.
    ControlHandle addControl(PanelHandle panel, const char* type, const ControlDesc* desc,
                             const char* label);

    // Panels made, live or released, oldest first.
    const std::vector<std::unique_ptr<Panel>>& panels() const { return panels_; }
    size_t livePanels() const;
    // Panels made since this host began, released ones included.
    size_t panelsMade() const { return made_; }

    static constexpr size_t kKeptPanels = 4;

    std::vector<std::string> events;
    // Makes createPanel fail, as a host out of resources would.
    bool refuseCreate = false;
    // Makes the n-th addControl of every panel (from 1) fail; 0 for none.
    int refuseControl = 0;
    // Answers openPanel; without one the panel is cancelled at once.
    PanelUser* user = nullptr;

  private:
    void log(std::string event);
    void dropOldPanels();

    std::vector<std::unique_ptr<Panel>> panels_;
    size_t made_ = 0;
};

} // namespace orvit::panel
