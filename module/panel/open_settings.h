// Opening the settings of one filter instance.
#pragma once

#include "module/settings/settings.h"

namespace orvit {

// The title of the settings panel.
constexpr const char* kPanelTitle = "Orvit by Tesk Ver 0.4beta";

// Creates the panel through panelService, gives it the instance as user
// data, looks up the item and object services and rescans the scene's object
// files into the instance's surface table. A scene without special values
// gets the two-line message; otherwise the settings panel runs. True when a
// panel was made (and is destroyed again), false when none could be made.
bool openSettings(FilterInstance* instance);

} // namespace orvit
