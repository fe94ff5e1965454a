#include "standin/core/panel_backend.h"

#include <cstring>
#include <utility>

namespace orvit::standin {

namespace {

const char* attributeName(int32_t attr) {
    switch (attr) {
    case PanelHeight:
        return "Height";
    case PanelUserData:
        return "UserData";
    default:
        return nullptr;
    }
}

std::string describe(const char* verb, int32_t attr) {
    const char* name = attributeName(attr);
    return std::string(verb) + " " + (name != nullptr ? name : "attribute " + std::to_string(attr));
}

} // namespace

void PanelRecorder::log(std::string event) {
    try {
        events.push_back(std::move(event));
    } catch (...) {
        // Out of memory: the entry is lost; nothing may reach the module.
    }
}

PanelRecord* PanelRecorder::findLive(PanelHandle panel) const {
    for (const auto& record : panels_)
        if (record.get() == panel && !record->destroyed)
            return record.get();
    return nullptr;
}

size_t PanelRecorder::livePanels() const {
    size_t live = 0;
    for (const auto& record : panels_)
        live += !record->destroyed;
    return live;
}

PanelHandle PanelRecorder::createPanel(const char* title) {
    const std::string text = title != nullptr ? title : "";
    log("create " + text);
    if (refuseCreate)
        return nullptr;
    try {
        auto record = std::make_unique<PanelRecord>();
        record->title = text;
        panels_.push_back(std::move(record));
    } catch (...) {
        return nullptr;
    }
    return panels_.back().get();
}

void PanelRecorder::destroyPanel(PanelHandle panel) {
    PanelRecord* record = findLive(panel);
    if (record == nullptr) {
        log("destroy (no such panel)");
        return;
    }
    log("destroy");
    record->destroyed = true;
}

int32_t PanelRecorder::openPanel(PanelHandle panel, int32_t flags) {
    PanelRecord* record = findLive(panel);
    log("open " + std::to_string(flags) + (record == nullptr ? " (no such panel)" : ""));
    if (record != nullptr)
        record->opened = true;
    return 0;
}

bool PanelRecorder::getPanelAttr(PanelHandle panel, int32_t attr, void* value) {
    PanelRecord* record = findLive(panel);
    log(describe("get", attr) + (record == nullptr ? " (no such panel)" : ""));
    if (record == nullptr || value == nullptr)
        return false;
    switch (attr) {
    case PanelHeight:
        std::memcpy(value, &record->height, sizeof record->height);
        return true;
    case PanelUserData:
        std::memcpy(value, &record->userData, sizeof record->userData);
        return true;
    default:
        return false;
    }
}

bool PanelRecorder::setPanelAttr(PanelHandle panel, int32_t attr, const void* value) {
    PanelRecord* record = findLive(panel);
    if (record == nullptr || value == nullptr) {
        log(describe("set", attr) + (record == nullptr ? " (no such panel)" : " (no value)"));
        return false;
    }
    switch (attr) {
    case PanelHeight:
        std::memcpy(&record->height, value, sizeof record->height);
        log(describe("set", attr) + " " + std::to_string(record->height));
        return true;
    case PanelUserData:
        std::memcpy(&record->userData, value, sizeof record->userData);
        log(describe("set", attr));
        return true;
    default:
        log(describe("set", attr));
        return false;
    }
}

} // namespace orvit::standin
