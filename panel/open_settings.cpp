#include "panel/open_settings.h"

#include "host/items.h"
#include "module/globals.h"
#include "settings/surfaces.h"

namespace orvit {

bool openSettings(FilterInstance* instance) {
    const PanelServices* panels = panelService;
    if (panels == nullptr || panels->createPanel == nullptr || panels->destroyPanel == nullptr ||
        panels->setPanelAttr == nullptr)
        return false;
    currentPanel = panels->createPanel(kPanelTitle, panels);
    if (currentPanel == nullptr)
        return false;
    void* userData = instance;
    panels->setPanelAttr(currentPanel, PanelUserData, &userData);

    const auto* items = static_cast<const ItemInfo*>(lookupService("LW Item Info 2"));
    const auto* objects = static_cast<const ObjectInfo*>(lookupService("LW Object Info"));
    // Without either service the scene's object files cannot be read: the
    // scene then has no special values.
    if (items == nullptr || objects == nullptr)
        clearSurfaces(instance);

    // The panel's controls are not built yet: no panel is made.
    panels->destroyPanel(currentPanel);
    currentPanel = nullptr;
    return false;
}

} // namespace orvit
