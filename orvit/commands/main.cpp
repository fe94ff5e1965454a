// orvit: the host stand-in's command line. Renders scene files through the
// module, shows a module's servers and a scene's settings, opens the settings
// panel (in a window or from a script), writes the panel's preview of a
// frame, and renders the bundled demo scene.
//
// Built twice: `orvit` with the panel's window, and `orvit-headless` without
// it (ORVIT_WINDOW 0), which links no display library, so that a render node
// with no X11 or FLTK runs it. Farm tasks run the headless one.
#include "orvit/commands/command.h"
#include "orvit/core/host_error.h"
#include "orvit/scene/scene_file.h"
#if ORVIT_WINDOW
#include "orvit/window/display.h"
#include "orvit/window/panel_window.h"
#endif

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;
using namespace orvit::commands;

namespace {

#if ORVIT_WINDOW
// Opens the scene's settings panel in a window for the person at the display.
EditResult editInWindow(const std::string& scenePath, const std::string& builtModule,
                        const EditOptions& options) {
    std::string why;
    if (!orvit::window::openDisplay(&why))
        throw orvit::core::AppError(why + "; use --script FILE to work the panel from a script");
    const orvit::scene::SceneFile scene = orvit::scene::parseSceneFile(scenePath);
    orvit::window::WindowUser user({scene.first, scene.last, scene.rate});
    EditResult r = editScene(scene, user, builtModule, options);
    if (!user.error().empty())
        throw orvit::core::AppError("the panel's window failed: " + user.error());
    return r;
}
#endif

// A file that comes with this program: the build tree's while the program
// runs in the folder it was built in, else the installed one, found from the
// program's own folder (bin/ beside lib/orvit/ and share/orvit/), so that an
// installed program never reaches into a build tree, whatever the prefix.
std::string companion(const fs::path& programFolder, const char* built,
                      const char* installedRelative) {
    std::error_code ec;
    if (fs::equivalent(programFolder, ORVIT_BUILD_FOLDER, ec))
        return built;
    return (programFolder / installedRelative).lexically_normal().string();
}

} // namespace

int main(int argc, char** argv) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        std::fprintf(stderr, "orvit: cannot find this program's own path: %s\n",
                     ec.message().c_str());
        return 1;
    }
    const fs::path folder = self.parent_path();
    CommandContext context;
    context.builtModule = companion(folder, ORVIT_BUILT_MODULE, ORVIT_INSTALLED_MODULE);
    context.demoScene = companion(folder, ORVIT_DEMO_SCENE, ORVIT_INSTALLED_DEMO_SCENE);
    context.farmProgram = (folder / ORVIT_HEADLESS_NAME).string();
#if ORVIT_WINDOW
    context.windowEdit = editInWindow;
#endif
    return runCommandLine(argc, argv, context);
}
