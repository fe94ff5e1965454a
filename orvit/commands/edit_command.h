// `orvit edit`: opens a scene's filter settings in the module's panel, as a
// host does when the user opens them, with a person or a script at the panel;
// on OK the settings the module then saves go back where the scene keeps them.
#pragma once

#include "orvit/panel/script_runner.h"
#include "orvit/scene/scene_file.h"

#include <optional>
#include <string>
#include <vector>

namespace orvit::commands {

struct EditResult {
    enum class Outcome {
        Written,         // OK, and the settings changed: written back
        Unchanged,       // OK, and the module saves what the scene holds: nothing written
        Cancelled,       // Cancel: nothing written
        NoSpecialValues, // the module showed its message instead of the panel
    };
    Outcome outcome = Outcome::Cancelled;
    std::string written;              // the file written: the settings file or the scene
    std::vector<std::string> lines;   // the settings as the module saved them after OK
    std::vector<std::string> message; // the module's two lines, when it showed them
    // The panel's controls as they stood when it closed (describeControls).
    std::vector<std::string> controls;
    // Where the panel's surfaces came from, in one line (PanelSurfaces).
    std::string surfacesOrigin;
};

struct EditOptions {
    std::string module; // the module file, over the scene's
    // A frame of the scene's range rendered through the module before the
    // panel opens (no image written), so that the panel has a snapshot.
    std::optional<int> frame;
    // The surfaces offered to the panel besides the scene's object files;
    // without them, the scene's (panelSurfaces).
    std::optional<std::vector<scene::SurfaceEntry>> surfaces;
    // A new instance with the module's own defaults, the scene's settings
    // not loaded (they are yet to be made).
    bool freshSettings = false;
};

// Loads the scene and its settings into a filter instance through the
// handler, renders `options.frame` if given, activates the interface on the
// instance, lets `user` work the panel (a person at a window, or a script)
// and writes back on OK. Every failure (the scene, the frame, the module, an
// activation result other than 0, a write) is an AppError with one line, and
// then nothing has been written. The module is `options.module` if given,
// else the scene's, else `builtModule`.
EditResult editScene(const std::string& scenePath, panel::PanelUser& user,
                     const std::string& builtModule, const EditOptions& options = {});

// The same for a scene already read.
EditResult editScene(const scene::SceneFile& scene, panel::PanelUser& user,
                     const std::string& builtModule, const EditOptions& options = {});

// The same with `script` at the panel; a script line that cannot run is an
// AppError too.
EditResult editScene(const std::string& scenePath, const panel::Script& script,
                     const std::string& builtModule, const EditOptions& options = {});

// The same for a scene already read (or not yet written: the settings then
// go to its settings file).
EditResult editScene(const scene::SceneFile& scene, const panel::Script& script,
                     const std::string& builtModule, const EditOptions& options = {});

// Prints what became of the settings (and the panel's controls when asked);
// the module's message instead of its panel is an AppError naming the scene.
void reportEdit(const EditResult& r, const std::string& scenePath, bool controls);

} // namespace orvit::commands
