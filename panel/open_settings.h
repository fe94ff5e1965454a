// Opening the settings of one filter instance.
#pragma once

#include "settings/settings.h"

namespace orvit {

// The title of the settings panel.
constexpr const char* kPanelTitle = "Orvit by Tesk Ver 0.4beta";

// Creates the panel through panelService, gives it the instance as user
// data and looks up the item and object services. Returns whether it made a
// panel that the user saw (or whose absence of special buffers was reported);
// false means the activation fails. No panel is shown yet, so for now it
// destroys the panel again and reports false.
bool openSettings(FilterInstance* instance);

} // namespace orvit
