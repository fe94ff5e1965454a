#include "panel/open_settings.h"

#include "host/items.h"
#include "module/globals.h"
#include "scan/object_scan.h"

namespace orvit {

namespace {

void dropPanel() {
    panelService->destroyPanel(currentPanel);
    currentPanel = nullptr;
}

} // namespace

bool openSettings(FilterInstance* instance) {
    const PanelServices* panels = panelService;
    if (instance == nullptr || panels == nullptr || panels->createPanel == nullptr ||
        panels->destroyPanel == nullptr || panels->setPanelAttr == nullptr)
        return false;
    currentPanel = panels->createPanel(kPanelTitle, panels);
    if (currentPanel == nullptr)
        return false;
    void* userData = instance;
    panels->setPanelAttr(currentPanel, PanelUserData, &userData);

    // Without either service no object file can be read: the scan then
    // leaves the scene without special values.
    const auto* items = static_cast<const ItemInfo*>(lookupService("LW Item Info 2"));
    const auto* objects = static_cast<const ObjectInfo*>(lookupService("LW Object Info"));
    scanObjectSurfaces(instance, items, objects);

    if (instance->specialValueCount == 0) {
        if (messageService != nullptr && messageService->errorMessage != nullptr)
            messageService->errorMessage("There is no Special buffer.",
                                         "Please set any Special buffers.");
        dropPanel();
        return true;
    }

    // The panel's controls are not built yet: no panel is shown.
    dropPanel();
    return false;
}

} // namespace orvit
