// orvit: the host stand-in's command line. Renders scene files through the
// module, shows a module's servers and a scene's settings, opens the settings
// panel (in a window or from a script), writes the panel's preview of a
// frame, and renders the bundled demo scene.
#include "orvit/commands/command.h"
#include "orvit/core/host_error.h"
#include "orvit/scene/scene_file.h"
#include "orvit/window/display.h"
#include "orvit/window/panel_window.h"

using namespace orvit::app;

namespace {

// Opens the scene's settings panel in a window for the person at the display.
EditResult editInWindow(const std::string& scenePath, const std::string& builtModule,
                        const EditOptions& options) {
    std::string why;
    if (!orvit::window::openDisplay(&why))
        throw AppError(why + "; use --script FILE to work the panel from a script");
    const SceneFile scene = parseSceneFile(scenePath);
    orvit::window::WindowUser user({scene.first, scene.last, scene.rate});
    EditResult r = editScene(scenePath, user, builtModule, options);
    if (!user.error().empty())
        throw AppError("the panel's window failed: " + user.error());
    return r;
}

} // namespace

int main(int argc, char** argv) {
    CommandContext context;
    // The module and demo scene built and kept beside this program.
    context.builtModule = ORVIT_BUILT_MODULE;
    context.demoScene = ORVIT_DEMO_SCENE;
    context.windowEdit = editInWindow;
    return runCommandLine(argc, argv, context);
}
