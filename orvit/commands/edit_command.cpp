#include "orvit/commands/edit_command.h"
#include "orvit/commands/command.h"

#include "orvit/core/host_error.h"
#include "orvit/core/saved_lines.h"
#include "orvit/files/atomic_file.h"
#include "orvit/files/paths.h"
#include "orvit/host/host_services.h"
#include "orvit/scene/scene_file.h"
#include "orvit/scene/scene_surfaces.h"
#include "orvit/scene/scene_writer.h"
#include "orvit/sequence/scene_render.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <unistd.h>

namespace orvit::commands {
namespace {

// Stands for the panel's user, noting how often the panel opened and the
// last answer.
class CountingUser : public panel::PanelUser {
  public:
    explicit CountingUser(panel::PanelUser& user) : user_(user) {}
    int32_t run(panel::Panel& panel, int32_t flags) override {
        ++runs;
        answer = user_.run(panel, flags);
        return answer;
    }
    int runs = 0;
    int32_t answer = 0;

  private:
    panel::PanelUser& user_;
};

bool hasPanelMessage(const host::HostServices& host) {
    return !host.messages.empty() && host.messages.back().first == "There is no Special buffer." &&
           host.messages.back().second == "Please set any Special buffers.";
}

} // namespace

EditResult editScene(const scene::SceneFile& scene, panel::PanelUser& panelUser,
                     const std::string& builtModule, const EditOptions& options) {
    const std::string module = sequence::chooseModule(scene, options.module, builtModule);
    if (options.frame)
        sequence::checkFrameInScene(scene, *options.frame, "--frame");

    EditResult result;
    host::HostServices host;
    host.quiet = true;
    CountingUser user(panelUser);
    host.panelHost.user = &user;

    // Blank lines at the end are not the module's: it neither reads nor writes them.
    size_t given = scene.settingsLines.size();
    while (given > 0 && scene.settingsLines[given - 1].empty())
        --given;
    const std::vector<std::string> original(scene.settingsLines.begin(),
                                            scene.settingsLines.begin() +
                                                static_cast<std::ptrdiff_t>(given));
    {
        // Settings the module did not take would be lost or changed on saving.
        sequence::SceneInstance filter(scene, module, host, !options.freshSettings);
        result.surfacesOrigin = filter.openPanel(scene, options.frame, options.surfaces);
        if (!host.panelHost.panels().empty())
            result.controls = panel::describeControls(*host.panelHost.panels().back());
        if (user.runs == 0) {
            if (!hasPanelMessage(host))
                throw core::AppError(
                    filter.module().describe("ImageFilterInterface", scene.server) +
                    " opened no panel and showed no message");
            result.outcome = EditResult::Outcome::NoSpecialValues;
            result.message = {host.messages.back().first, host.messages.back().second};
            return result;
        }
        if (user.answer == 0) {
            result.outcome = EditResult::Outcome::Cancelled;
            return result;
        }
        result.lines = filter.instance().save();
    }

    if (result.lines == original) {
        result.outcome = EditResult::Outcome::Unchanged;
        return result;
    }
    if (!scene.settingsFile.empty()) {
        files::writeAtomically(scene.settingsFile, "settings '" + scene.settingsFile + "'",
                               core::joinLines(result.lines));
        result.written = scene.settingsFile;
    } else {
        files::writeAtomically(scene.path, "scene '" + scene.path + "'",
                               scene::sceneTextWithSettings(scene, result.lines));
        result.written = scene.path;
    }
    result.outcome = EditResult::Outcome::Written;
    return result;
}

EditResult editScene(const std::string& scenePath, panel::PanelUser& user,
                     const std::string& builtModule, const EditOptions& options) {
    return editScene(scene::parseSceneFile(scenePath), user, builtModule, options);
}

EditResult editScene(const scene::SceneFile& scene, const panel::Script& script,
                     const std::string& builtModule, const EditOptions& options) {
    panel::ScriptedUser user(script);
    EditResult result =
        editScene(scene, static_cast<panel::PanelUser&>(user), builtModule, options);
    // A line that could not run cancelled the panel: nothing was written.
    if (!user.error().empty())
        throw core::AppError(user.error());
    return result;
}

EditResult editScene(const std::string& scenePath, const panel::Script& script,
                     const std::string& builtModule, const EditOptions& options) {
    return editScene(scene::parseSceneFile(scenePath), script, builtModule, options);
}

void reportEdit(const EditResult& r, const std::string& scenePath, bool controls) {
    // Surface names and labels come from files: escaped as messages are.
    const auto print = [](const std::string& line) {
        std::printf("%s\n", core::printableLine(line).c_str());
    };
    if (!r.surfacesOrigin.empty())
        print(r.surfacesOrigin);
    if (controls)
        for (const std::string& line : r.controls)
            print(line);
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
            print(line);
        std::fflush(stdout);
        // Nothing was edited: a script must see that as a failure.
        throw core::AppError(
            "scene '" + scenePath +
            "': the module showed its message instead of its panel; nothing edited");
    }
}

namespace {

class EditCommand : public Command {
  public:
    EditCommand(CLI::App& app, const CommandContext& context)
        : Command(app.add_subcommand(
              "edit", "Open a scene's filter settings in the module's panel, in a window or "
                      "worked by a script of user actions (docs/panel-and-scripts.md); on OK write "
                      "them back.")),
          context_(context) {
        command_->add_option("SCENE", scene_, "scene file (TOML)")->required();
        command_->add_option("--script", script_,
                             "script file, or - for standard input (default: a window on the "
                             "display)");
        command_->add_option("--module", module_,
                             "module file (default: the scene's, else the Orvit.p built with "
                             "orvit)");
        command_->add_flag("--controls", controls_,
                           "print the panel's controls as they stood when it closed");
        command_->add_option("--frame", frame_,
                             "render this frame through the module first (no image written), so "
                             "that the panel's preview has it");
    }

    void run() const override {
        EditOptions options;
        options.module = module_;
        if (!frame_.empty())
            options.frame = scene::parseFrameNumber(frame_, "--frame");
        if (script_.empty()) {
            if (!context_.windowEdit)
                throw core::AppError(
                    "this program has no window; use --script FILE to work the panel "
                    "from a script");
            reportEdit(context_.windowEdit(scene_, context_.builtModule, options), scene_,
                       controls_);
            return;
        }
        std::string text;
        if (script_ == "-") {
            text =
                files::readToEnd(STDIN_FILENO, "script from standard input", files::kScriptLimit);
        } else {
            text = files::readRegularFile(script_, "script '" + script_ + "'", files::kScriptLimit);
        }
        const panel::Script script = panel::parseScript(text, script_);
        reportEdit(editScene(scene_, script, context_.builtModule, options), scene_, controls_);
    }

  private:
    CommandContext context_;
    std::string scene_, script_, module_, frame_;
    bool controls_ = false;
};

} // namespace

std::unique_ptr<Command> editCommand(CLI::App& app, const CommandContext& context) {
    return std::make_unique<EditCommand>(app, context);
}

} // namespace orvit::commands
