#include "orvit/commands/preview_command.h"

#include "orvit/commands/command.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/host/host_services.h"
#include "orvit/images/image_output.h"
#include "orvit/images/picture_output.h"
#include "orvit/panel/script_runner.h"
#include "orvit/scene/scene_file.h"
#include "orvit/scene/scene_surfaces.h"
#include "orvit/sequence/scene_render.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

namespace fs = std::filesystem;

namespace orvit::commands {
namespace {

using core::trimmed;

struct DisplayName {
    const char* option;
    const char* item; // as the display popup lists it
};

const DisplayName kDisplays[] = {
    {"color", "Color"}, {"depth", "Depth"}, {"special", "Special"}, {"preview", "Preview"}};

// Checks the asked value against the "Special Buffer" popup, then lets the
// script work the panel. A value the scene lacks is named as the option.
class PreviewUser : public panel::PanelUser {
  public:
    PreviewUser(panel::Script script, std::string value)
        : script_(std::move(script)), value_(std::move(value)) {}

    int32_t run(panel::Panel& panel, int32_t flags) override {
        ++runs_;
        panel::ScriptTarget target;
        target.label = "Special Buffer";
        std::string why;
        const panel::PanelControl* popup = panel::resolveTarget(target, panel, &why);
        if (popup == nullptr) {
            error_ = "the panel has no special value popup: " + why;
            return 0;
        }
        const std::vector<std::string>& items = popup->description().items;
        const int item = items.empty() ? -1 : value_.empty() ? 0 : panel::findItem(items, value_);
        if (item < 0) {
            error_ = "--value " + value_ + ": the scene has no such special value (its values: " +
                     panel::shownItems(items) + ")";
            return 0;
        }
        shown_ = core::trimmed(items[static_cast<size_t>(item)]);
        return script_.run(panel, flags);
    }

    int runs() const { return runs_; }
    const std::string& shown() const { return shown_; }
    // The first error: the value's, or the script's.
    const std::string& error() const { return error_.empty() ? script_.error() : error_; }

  private:
    panel::ScriptedUser script_;
    std::string value_;
    std::string shown_;
    std::string error_;
    int runs_ = 0;
};

} // namespace

PreviewResult previewScene(const PreviewRequest& request, const std::string& builtModule) {
    PreviewResult result;
    for (const DisplayName& d : kDisplays)
        if (request.display == d.option)
            result.display = d.item;
    if (result.display.empty())
        throw core::AppError("--display '" + request.display +
                             "': expected color, depth, special or preview");
    const int frame = scene::parseFrameNumber(request.frame, "--frame");
    if (!request.value.empty())
        scene::parseSpecialValue(request.value, "--value");
    // A frame mark in the file name becomes the frame, as render writes it.
    result.output = scene::framePath(request.output, frame);
    images::checkOutputExtension(result.output);
    const fs::path folder = fs::path(result.output).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::is_directory(folder, ec))
        throw core::AppError("output '" + result.output + "': no folder '" + folder.string() + "'");

    const scene::SceneFile scene = scene::parseSceneFile(request.scene);
    sequence::checkFrameInScene(scene, frame, "--frame");
    sequence::checkOutputSparesInputs(scene, result.output, {frame, frame});
    const std::string module = sequence::chooseModule(scene, request.module, builtModule);

    // What a person does at the panel; Cancel, so the settings stay as they are.
    std::string text;
    if (!request.value.empty())
        text += "choose \"Special Buffer\" " + request.value + "\n";
    if (request.half)
        text += "tick \"1/2 res\" on\n";
    if (result.display == "Preview")
        text += "press \"Preview\"\n";
    else
        text += "choose popup right of \"Preview\" " + result.display + "\n";
    text += "cancel\n";

    host::HostServices host;
    host.quiet = true;
    PreviewUser user(panel::parseScript(text, "orvit preview"), request.value);
    panel::PreviewTaker taker(user);
    host.panelHost.user = &taker;
    bool hasDepth = true;
    {
        sequence::SceneInstance filter(scene, module, host);
        filter.openPanel(scene, frame);
        hasDepth = filter.frameHasDepth();
    }
    sequence::checkDepthGiven(host, scene, hasDepth);
    sequence::checkCameraGiven(host, scene);
    if (!user.error().empty())
        throw core::AppError(user.error());
    if (user.runs() == 0) {
        std::string said;
        for (const host::Message& m : host.messages)
            said += (said.empty() ? " \"" : " / \"") + m.first + "\" \"" + m.second + "\"";
        throw core::AppError("scene '" + scene.path + "': the module opened no panel" +
                             (said.empty() ? std::string() : "; it said" + said));
    }
    if (!taker.taken())
        throw core::AppError("module '" + module + "': its panel has no 256 x 192 preview area");
    result.value = user.shown();
    result.picture = taker.picture();
    images::writePicture(result.output, result.picture);
    return result;
}

namespace {

class PreviewCommand : public Command {
  public:
    PreviewCommand(CLI::App& app, const CommandContext& context)
        : Command(app.add_subcommand(
                      "preview",
                      "Render one frame through the module, open the settings panel on one "
                      "special value and write its 256 x 192 preview area to an image file."),
                  context) {
        command_->add_option("SCENE", request_.scene, "scene file (TOML)")->required();
        command_->add_option("--frame", request_.frame, "the frame to render")->required();
        command_->add_option("--value", request_.value,
                             "the special value shown (default: the first)");
        command_->add_option("--display", request_.display,
                             "color, depth, special or preview (default: preview, the value's "
                             "glow over the frame)");
        command_->add_flag("--half", request_.half, "tick \"1/2 res\"");
        command_
            ->add_option("--output", request_.output,
                         ".png, .tif, .tiff or .exr; #### in its name becomes the frame")
            ->required();
        command_->add_option("--module", request_.module, "module file");
    }

    void run() const override {
        const PreviewResult r = previewScene(request_, builtModule_);
        std::printf("%s\n", core::printableLine(
                                "preview of frame " + request_.frame + ", special value " +
                                r.value + ", \"" + r.display + "\"" +
                                (request_.half ? " at half resolution" : "") + ": " + r.output)
                                .c_str());
    }

  private:
    PreviewRequest request_;
};

} // namespace

std::unique_ptr<Command> previewCommand(CLI::App& app, const CommandContext& context) {
    return std::make_unique<PreviewCommand>(app, context);
}

} // namespace orvit::commands
