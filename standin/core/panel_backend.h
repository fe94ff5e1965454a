// The panels behind "LWPanelServices". The service record's slots forward to
// one PanelBackend, so a headless and a windowed host share the record and
// differ only in how they place, draw and run a panel.
#pragma once

#include "host/panel.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvit::standin {

// One contract for every panel host; each call is on the module's thread,
// inside the interface activation. What a backend throws stops at the
// record's slot, which then answers as for a failure.
class PanelBackend {
  public:
    virtual ~PanelBackend() = default;

    // Slot 0: a new panel titled `title`, or null when none can be made.
    virtual PanelHandle createPanel(const char* title) = 0;
    // Slot 1: releases the panel; a handle this backend did not make, or
    // made and released already, is ignored.
    virtual void destroyPanel(PanelHandle panel) = 0;
    // Slot 2: runs the panel modally; non-zero OK, 0 Cancel.
    virtual int32_t openPanel(PanelHandle panel, int32_t flags) = 0;
    // Slot 6: writes the 32-bit payload of `attr` to *value; false (and
    // *value untouched) for an unknown panel or attribute.
    virtual bool getPanelAttr(PanelHandle panel, int32_t attr, void* value) = 0;
    // Slot 7: sets `attr` from the payload at `value`; false for an unknown
    // panel or attribute.
    virtual bool setPanelAttr(PanelHandle panel, int32_t attr, const void* value) = 0;
};

// A panel as the host keeps it. Records stay after the panel is destroyed,
// so that what happened to it can be read afterwards.
struct PanelRecord {
    std::string title;
    int32_t height = 0;
    void* userData = nullptr;
    bool opened = false;
    bool destroyed = false;
};

// The panel state every host needs, and a log of every call in order, for
// tests: "create TITLE", "set UserData", "set Height 300", "get Height",
// "open 7", "destroy"; a call on a panel that is not live is logged with
// " (no such panel)", an unknown attribute as "set attribute 99".
// Without controls there is nothing to show: openPanel answers Cancel.
class PanelRecorder : public PanelBackend {
  public:
    PanelHandle createPanel(const char* title) override;
    void destroyPanel(PanelHandle panel) override;
    int32_t openPanel(PanelHandle panel, int32_t flags) override;
    bool getPanelAttr(PanelHandle panel, int32_t attr, void* value) override;
    bool setPanelAttr(PanelHandle panel, int32_t attr, const void* value) override;

    // Every panel made, in order.
    const std::vector<std::unique_ptr<PanelRecord>>& panels() const { return panels_; }
    // Panels made and not yet destroyed.
    size_t livePanels() const;
    // The record behind a live handle, or null.
    PanelRecord* findLive(PanelHandle panel) const;

    // Every call, in order (see above).
    std::vector<std::string> events;
    // Makes createPanel fail, as a host out of resources would.
    bool refuseCreate = false;

  protected:
    void log(std::string event);

  private:
    std::vector<std::unique_ptr<PanelRecord>> panels_;
};

} // namespace orvit::standin
