#include "module/panel/open_settings.h"

#include "module/abi/items.h"
#include "module/panel/settings_panel.h"
#include "module/scan/object_scan.h"
#include "module/services/services.h"

namespace orvit {

namespace {

void dropPanel() {
    panelService->destroyPanel(currentPanel);
    currentPanel = nullptr;
}

} // namespace

bool openSettings(FilterInstance* instance) {
    const PanelServices* panels = panelService;
    if (instance == nullptr || panels == nullptr)
        return false;
    currentPanel = panels->createPanel(kPanelTitle, panels);
    if (currentPanel == nullptr)
        return false;
    void* userData = instance;
    panels->setPanelAttr(currentPanel, PanelUserData, &userData);

    // Without either service no object file can be read: the scan then
    // leaves the scene without special values.
    const ItemInfo* items = lookupItemInfo();
    const ObjectInfo* objects = lookupObjectInfo();
    scanObjectSurfaces(instance, items, objects);

    if (instance->specialValueCount == 0) {
        if (messageService != nullptr)
            messageService->errorMessage("There is no Special buffer.",
                                         "Please set any Special buffers.");
        dropPanel();
        return true;
    }

    return showSettingsPanel(instance);
}

} // namespace orvit
