// Makes the README's pictures of the windows: the demo scene's settings panel
// with frame 5 in its preview, and the envelope editor on the lamp's
// transparency envelope. tools/screenshots runs it under Xvfb.
//
//   window_pictures FOLDER     writes FOLDER/panel-window.png and
//                              FOLDER/envelope-window.png
#include "orvit/host/host_services.h"
#include "orvit/images/picture_output.h"
#include "orvit/panel/script_runner.h"
#include "orvit/scene/scene_file.h"
#include "orvit/sequence/scene_render.h"
#include "orvit/window/capture.h"
#include "orvit/window/display.h"
#include "orvit/window/panel_window.h"
#include "orvit/window/window_driver.h"

#include <cstdio>
#include <exception>
#include <string>

using namespace orvit;

namespace {

constexpr int kFrame = 5;

// What the panel shows in the picture: the comet's glow in the preview.
const char* const kScript = R"(choose "Special Buffer" 4
press "Preview"
cancel
)";

void savePicture(const orvit::panel::Canvas& canvas, const std::string& path) {
    orvit::images::writePicture(path, {canvas.width, canvas.height, canvas.rgb});
    std::printf("%s\n", path.c_str());
}

void makePictures(const std::string& folder) {
    std::string why;
    if (!window::openDisplay(&why))
        throw std::runtime_error(why);
    const orvit::scene::SceneFile scene = orvit::scene::parseSceneFile(ORVIT_DEMO_SCENE);
    orvit::host::HostServices host;
    host.quiet = true;
    orvit::sequence::SceneInstance filter(scene, ORVIT_BUILT_MODULE, host);
    filter.renderFrame(scene, kFrame);

    window::WindowUser user({scene.first, scene.last, scene.rate});
    host.panelHost.user = &user;
    const orvit::panel::Script script = orvit::panel::parseScript(kScript, "pictures");
    window::WindowScriptDriver driver(script, user);
    bool editorShown = false;
    user.onOpen = [&](window::PanelWindow& w) {
        for (size_t i = 0; i + 1 < script.actions.size(); ++i)
            if (!driver.perform(w, script.actions[i]))
                return;
        savePicture(window::captureWindow(w), folder + "/panel-window.png");

        user.editor().onOpen = [&](window::EnvelopeWindow& e) {
            savePicture(window::captureWindow(e), folder + "/envelope-window.png");
            editorShown = true;
            e.cancelButton->do_callback();
        };
        const orvit::panel::Script lamp =
            orvit::panel::parseScript("choose \"Special Buffer\" 1\nok\n", "pictures");
        if (!driver.perform(w, lamp.actions[0]))
            return;
        orvit::panel::ScriptTarget button;
        button.label = "Transparency";
        button.near.push_back({"button", false});
        std::string missing;
        if (orvit::panel::PanelControl* e =
                orvit::panel::resolveTarget(button, w.panel(), &missing))
            w.widgetsOf(*e)->button->do_callback();
        w.cancelButton()->do_callback();
    };
    filter.openInterface();
    if (!driver.error().empty())
        throw std::runtime_error(driver.error());
    if (!editorShown)
        throw std::runtime_error("the envelope editor did not open");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_pictures FOLDER\n");
        return 2;
    }
    try {
        makePictures(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "window_pictures: %s\n", e.what());
        return 1;
    }
    return 0;
}
