#include "orvit/panel/panel_host.h"

#include <cstring>
#include <utility>

namespace orvit::panel {

namespace {

std::string describe(const char* verb, int32_t attr) {
    return std::string(verb) + " " + panelAttributeText(attr);
}

const char* const kNoSuchPanel = " (no such panel)";

} // namespace

void PanelHost::log(std::string event) {
    try {
        events.push_back(std::move(event));
    } catch (...) {
        // Out of memory: the entry is lost; nothing may reach the module.
    }
}

size_t PanelHost::livePanels() const {
    size_t live = 0;
    for (const auto& panel : panels_)
        live += panel->live();
    return live;
}

// Released panels beyond the newest kKeptPanels go, unless a callback of
// theirs is still running.
void PanelHost::dropOldPanels() {
    size_t released = 0;
    for (size_t i = panels_.size(); i-- > 0;) {
        const Panel& p = *panels_[i];
        if (p.live() || p.running || p.busy() > 0)
            continue;
        if (++released > kKeptPanels)
            panels_.erase(panels_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

PanelHandle PanelHost::createPanel(const char* title) {
    const std::string text = title != nullptr ? title : "";
    log("create " + text);
    if (refuseCreate)
        return nullptr;
    dropOldPanels();
    panels_.push_back(std::make_unique<Panel>(text));
    ++made_;
    return panels_.back()->handle();
}

void PanelHost::destroyPanel(PanelHandle panel) {
    Panel* p = Panel::fromHandle(panel);
    if (p == nullptr) {
        log(std::string("destroy") + kNoSuchPanel);
        return;
    }
    log("destroy");
    p->retire();
}

int32_t PanelHost::openPanel(PanelHandle panel, int32_t flags) {
    Panel* p = Panel::fromHandle(panel);
    log("open " + std::to_string(flags) + (p == nullptr ? kNoSuchPanel : ""));
    if (p == nullptr || p->running)
        return 0;
    p->opened = true;
    if (user == nullptr)
        return 0;
    struct Running {
        Panel& panel;
        explicit Running(Panel& q) : panel(q) { panel.running = true; }
        ~Running() { panel.running = false; }
    } running(*p);
    return user->run(*p, flags);
}

void PanelHost::drawPanel(PanelHandle panel, int32_t mode) {
    Panel* p = Panel::fromHandle(panel);
    log("draw " + std::to_string(mode) + (p == nullptr ? kNoSuchPanel : ""));
    if (p != nullptr)
        p->drawPanel(mode);
}

bool PanelHost::getPanelAttr(PanelHandle panel, int32_t attr, void* value) {
    Panel* p = Panel::fromHandle(panel);
    log(describe("get", attr) + (p == nullptr ? kNoSuchPanel : ""));
    if (p == nullptr || value == nullptr)
        return false;
    switch (attr) {
    case PanelHeight: {
        const int32_t height = p->height();
        std::memcpy(value, &height, sizeof height);
        return true;
    }
    case PanelUserData:
        std::memcpy(value, &p->userData, sizeof p->userData);
        return true;
    default:
        return false;
    }
}

bool PanelHost::setPanelAttr(PanelHandle panel, int32_t attr, const void* value) {
    Panel* p = Panel::fromHandle(panel);
    if (p == nullptr || value == nullptr) {
        log(describe("set", attr) + (p == nullptr ? kNoSuchPanel : " (no value)"));
        return false;
    }
    switch (attr) {
    case PanelHeight: {
        int32_t height = 0;
        std::memcpy(&height, value, sizeof height);
        p->setHeight(height);
        log(describe("set", attr) + " " + std::to_string(height));
        return true;
    }
    case PanelUserData:
        std::memcpy(&p->userData, value, sizeof p->userData);
        log(describe("set", attr));
        return true;
    default:
        log(describe("set", attr));
        return false;
    }
}

ControlHandle PanelHost::addControl(PanelHandle panel, const char* type, const ControlDesc* desc,
                                    const char* label) {
    Panel* p = Panel::fromHandle(panel);
    const std::string text = std::string(type != nullptr ? type : "(null)") + " \"" +
                             (label != nullptr ? label : "") + "\"";
    if (p == nullptr) {
        log("add " + text + kNoSuchPanel);
        return nullptr;
    }
    ++p->addCalls;
    PanelControl* control = nullptr;
    if (p->addCalls != refuseControl)
        control = p->addControl(type, desc, label);
    log("add " + text + (control == nullptr ? " refused" : ""));
    return control != nullptr ? control->handle() : nullptr;
}

} // namespace orvit::panel
