// orvit: the host stand-in's command line. Renders scene files through the
// module, shows a module's servers and a scene's settings, opens the settings
// panel (in a window or from a script), writes the panel's preview of a
// frame, and renders the bundled demo scene.
#include "orvit/commands/default_glow.h"
#include "orvit/commands/edit_command.h"
#include "orvit/commands/farm_command.h"
#include "orvit/commands/init_command.h"
#include "orvit/commands/preview_command.h"
#include "orvit/core/host_error.h"
#include "orvit/core/loader.h"
#include "orvit/files/paths.h"
#include "orvit/scene/scene_file.h"
#include "orvit/sequence/scene_render.h"
#include "orvit/sequence/sequence.h"
#include "orvit/window/display.h"
#include "orvit/window/panel_window.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace orvit::app;

namespace {

// The module and demo scene built and kept beside this program.
const char* const kBuiltModule = ORVIT_BUILT_MODULE;
const char* const kDemoScene = ORVIT_DEMO_SCENE;

void info(const std::string& path) {
    const orvit::standin::LoadedModule module(path);
    const ModuleDescriptor& d = module.descriptor();
    std::printf("module       %s\n", module.path().c_str());
    std::printf("sync word    0x%08X\n", d.syncWord);
    std::printf("version      %u\n", d.version);
    std::printf("machine      0x%X\n", d.machineWord);
    std::printf("startup      returned %d\n", module.startupResult());
    std::printf("servers      %zu\n", module.servers().size());
    for (const auto& s : module.servers())
        std::printf("  %-22s \"%s\"\n", s.serverClass.c_str(), s.serverName.c_str());
}

void settings(const std::string& scenePath, const std::string& modulePath) {
    SceneFile scene = parseSceneFile(scenePath);
    if (!modulePath.empty())
        scene.module = modulePath;
    SceneRenderer renderer(scene, kBuiltModule);
    for (const std::string& line : renderer.savedSettings())
        std::printf("%s\n", line.c_str());
}

struct EditRequest {
    std::string scene;
    std::string script;
    std::string module;
    std::string frame;
    bool controls = false;
};

// The module and the frame to render before the panel opens.
EditOptions editOptions(const EditRequest& request) {
    EditOptions options;
    options.module = request.module;
    if (!request.frame.empty())
        options.frame = parseFrameNumber(request.frame, "--frame");
    return options;
}

void report(const EditRequest& request, const EditResult& r) {
    if (!r.surfacesOrigin.empty())
        std::printf("%s\n", r.surfacesOrigin.c_str());
    if (request.controls)
        for (const std::string& line : r.controls)
            std::printf("%s\n", line.c_str());
    switch (r.outcome) {
    case EditResult::Outcome::Written:
        std::printf("OK: settings written to %s (%zu lines)\n", r.written.c_str(), r.lines.size());
        break;
    case EditResult::Outcome::Unchanged:
        std::printf("OK: the settings are unchanged; nothing written\n");
        break;
    case EditResult::Outcome::Cancelled:
        std::printf("Cancel: nothing written\n");
        break;
    case EditResult::Outcome::NoSpecialValues:
        for (const std::string& line : r.message)
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        // Nothing was edited: a script must see that as a failure.
        throw AppError("scene '" + request.scene +
                       "': the module showed its message instead of its panel; nothing edited");
    }
}

// Opens the scene's settings panel in a window for the person at the display
// and says what became of the settings.
void editInWindow(const EditRequest& request) {
    std::string why;
    if (!orvit::window::openDisplay(&why))
        throw AppError(why + "; use --script FILE to work the panel from a script");
    const SceneFile scene = parseSceneFile(request.scene);
    orvit::window::WindowUser user({scene.first, scene.last, scene.rate});
    const EditResult r = editScene(request.scene, user, kBuiltModule, editOptions(request));
    if (!user.error().empty())
        throw AppError("the panel's window failed: " + user.error());
    report(request, r);
}

// Runs the script at the scene's settings panel and says what became of them.
void edit(const EditRequest& request) {
    if (request.script.empty()) {
        editInWindow(request);
        return;
    }
    std::string text;
    if (request.script == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        text = readRegularFile(request.script, "script '" + request.script + "'");
    }
    const orvit::standin::Script script = orvit::standin::parseScript(text, request.script);
    report(request, editScene(request.scene, script, kBuiltModule, editOptions(request)));
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"orvit: renders scene files through the Orvit glow filter module, as its host "
                 "would."};
    app.require_subcommand(1);

    RenderRequest request;
    CLI::App* renderCommand =
        app.add_subcommand("render", "Render a scene file's frames through the module.");
    renderCommand->add_option("SCENE", request.scene, "scene file (TOML)")->required();
    renderCommand->add_option("--frames", request.frames,
                              "frames A-B, or one frame A (default: the scene's range)");
    renderCommand->add_option("--output", request.output,
                              "output pattern, #### for the frame number; .png, .tif or .exr "
                              "(default: the scene's)");
    renderCommand->add_option("--module", request.module,
                              "module file (default: the scene's, else the Orvit.p built with "
                              "orvit)");
    renderCommand->add_flag("--skip-existing", request.skipExisting,
                            "leave the frames whose image is already there");
    renderCommand->add_option("--jobs", request.jobs,
                              "frames rendered at once, each by a worker process of its own "
                              "(default: the CPUs available, " +
                                  std::to_string(availableCpus()) + " here)");

    std::string infoModule = kBuiltModule;
    CLI::App* infoCommand = app.add_subcommand("info", "Show a module's descriptor and servers.");
    infoCommand->add_option("MODULE", infoModule,
                            "module file (default: the Orvit.p built with "
                            "orvit)");

    std::string settingsScene, settingsModule;
    std::vector<std::string> defaultGlows;
    CLI::App* settingsCommand = app.add_subcommand(
        "settings", "Print a scene's filter settings as the module saves them, or give special "
                    "values the default glow.");
    settingsCommand->add_option("SCENE", settingsScene, "scene file (TOML)")->required();
    settingsCommand->add_option("--module", settingsModule, "module file");
    settingsCommand
        ->add_option("--default-glow", defaultGlows,
                     "give this special value (1 to 255) the default glow (enabled, Fixed, a small "
                     "distance, a colour of its own) and write the settings back; repeatable")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

    EditRequest editRequest;
    CLI::App* editCommand = app.add_subcommand(
        "edit", "Open a scene's filter settings in the module's panel, in a window or worked by a "
                "script of user actions (README: Panel scripts); on OK write them back.");
    editCommand->add_option("SCENE", editRequest.scene, "scene file (TOML)")->required();
    editCommand->add_option("--script", editRequest.script,
                            "script file, or - for standard input (default: a window on the "
                            "display)");
    editCommand->add_option("--module", editRequest.module,
                            "module file (default: the scene's, else the Orvit.p built with "
                            "orvit)");
    editCommand->add_flag("--controls", editRequest.controls,
                          "print the panel's controls as they stood when it closed");
    editCommand->add_option("--frame", editRequest.frame,
                            "render this frame through the module first (no image written), so "
                            "that the panel's preview has it");

    PreviewRequest previewRequest;
    CLI::App* previewCommand = app.add_subcommand(
        "preview", "Render one frame through the module, open the settings panel on one special "
                   "value and write its 256 x 192 preview area to an image file.");
    previewCommand->add_option("SCENE", previewRequest.scene, "scene file (TOML)")->required();
    previewCommand->add_option("--frame", previewRequest.frame, "the frame to render")->required();
    previewCommand->add_option("--value", previewRequest.value,
                               "the special value shown (default: the first)");
    previewCommand->add_option("--display", previewRequest.display,
                               "color, depth, special or preview (default: preview, the value's "
                               "glow over the frame)");
    previewCommand->add_flag("--half", previewRequest.half, "tick \"1/2 res\"");
    previewCommand
        ->add_option("--output", previewRequest.output,
                     ".png, .tif, .tiff or .exr; #### in its name becomes the frame")
        ->required();
    previewCommand->add_option("--module", previewRequest.module, "module file");

    RenderRequest demo;
    demo.scene = kDemoScene;
    demo.output = "out/demo.####.png";
    CLI::App* demoCommand =
        app.add_subcommand("demo", "Render the bundled demo scene (examples/demo) to out/.");
    demoCommand->add_option("--frames", demo.frames, "frames A-B, or one frame A (default: 1-6)");
    demoCommand->add_option("--output", demo.output, "output pattern (default: out/demo.####.png)");
    demoCommand->add_option("--module", demo.module, "module file");

    InitRequest initRequest;
    CLI::App* initCommand = app.add_subcommand(
        "init", "Write a scene (and its settings, glow.txt beside it) for a renderer's numbered "
                "frames, so that render shows a glow on every special value at once.");
    initCommand
        ->add_option("PATTERN", initRequest.pattern,
                     "the frames, e.g. render/shot_####.exr (#### is the frame number)")
        ->required();
    initCommand->add_option("--output", initRequest.output, "the scene (default: scene.toml)");
    initCommand->add_option("--fov", initRequest.fov,
                            "the camera's horizontal field of view, "
                            "degrees (for the Depth modes)");
    initCommand->add_option("--focal-length", initRequest.focalLength,
                            "the camera's focal length, mm (with --film-width)");
    initCommand->add_option("--film-width", initRequest.filmWidth, "the camera's film width, mm");
    initCommand->add_option("--frames", initRequest.frames,
                            "frames A-B (default: every numbered file present)");
    initCommand->add_option("--colour-channels", initRequest.colourChannels,
                            "R,G,B[,A]: the colour channels (default: recognised by name)");
    initCommand->add_option("--special-channel", initRequest.specialChannel,
                            "the object index channel (default: recognised by name)");
    initCommand->add_option("--depth-channel", initRequest.depthChannel,
                            "the depth channel (default: recognised by name)");

    FarmCommand farm(app);

    CLI11_PARSE(app, argc, argv);

    try {
        if (renderCommand->parsed()) {
            renderSequence(request, kBuiltModule);
        } else if (infoCommand->parsed()) {
            info(infoModule);
        } else if (settingsCommand->parsed() && !defaultGlows.empty()) {
            report(EditRequest{},
                   giveDefaultGlows(settingsScene, defaultGlows, kBuiltModule, settingsModule));
        } else if (settingsCommand->parsed()) {
            settings(settingsScene, settingsModule);
        } else if (editCommand->parsed()) {
            edit(editRequest);
        } else if (previewCommand->parsed()) {
            const PreviewResult r = previewScene(previewRequest, kBuiltModule);
            std::printf("preview of frame %s, special value %s, \"%s\"%s: %s\n",
                        previewRequest.frame.c_str(), r.value.c_str(), r.display.c_str(),
                        previewRequest.half ? " at half resolution" : "", r.output.c_str());
        } else if (demoCommand->parsed()) {
            const std::string folder = renderSequence(demo, kBuiltModule);
            std::printf("the demo's images are in %s\n", folder.c_str());
        } else if (initCommand->parsed()) {
            const InitResult r = initScene(initRequest, kBuiltModule);
            std::string values, channels;
            for (int v : r.values)
                values += (values.empty() ? "" : ", ") + std::to_string(v);
            for (const std::string& c : r.colourChannels)
                channels += (channels.empty() ? "" : ", ") + c;
            std::printf("frames %d-%d, %dx%d: colour %s; special %s (values %s); depth %s%s\n",
                        r.range.first, r.range.last, r.width, r.height, channels.c_str(),
                        r.specialChannel.c_str(), values.c_str(), r.depthChannel.c_str(),
                        r.farDepth ? " (empty background far)" : "");
            std::printf("wrote %s and %s: a Fixed glow on every value\nnext: orvit edit %s "
                        "--frame %d, then orvit render %s\n",
                        r.scene.c_str(), r.settings.c_str(), initRequest.output.c_str(),
                        r.range.first, initRequest.output.c_str());
        } else if (farm.parsed()) {
            farm.run(kBuiltModule);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvit: %s\n", e.what());
        return 1;
    }
    return 0;
}
