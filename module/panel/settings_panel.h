// The settings panel: its 35 controls, their places, and the modal run that
// either keeps the user's edits (OK) or restores the instance (Cancel).
#pragma once

#include "module/settings/settings.h"

namespace orvit {

// Runs the panel on the current panel for an instance with at least one
// special value, then destroys the panel. False when the host could not
// make a control: the panel is then destroyed unopened and the instance is
// untouched.
bool showSettingsPanel(FilterInstance* instance);

} // namespace orvit
