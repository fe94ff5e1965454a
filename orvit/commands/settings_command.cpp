// `orvit settings`: a scene's filter settings as the module saves them, or
// the default glow given to special values.
#include "orvit/commands/command.h"
#include "orvit/commands/default_glow.h"
#include "orvit/scene/scene_file.h"
#include "orvit/sequence/scene_render.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace orvit::commands {

namespace {

class SettingsCommand : public Command {
  public:
    SettingsCommand(CLI::App& app, const CommandContext& context)
        : Command(app.add_subcommand("settings",
                                     "Print a scene's filter settings as the module saves them, "
                                     "or give special values the default glow."),
                  context) {
        command_->add_option("SCENE", scene_, "scene file (TOML)")->required();
        command_->add_option("--module", module_, "module file");
        command_
            ->add_option("--default-glow", defaultGlows_,
                         "give this special value (1 to 255) the default glow (enabled, Fixed, a "
                         "small distance, a colour of its own) and write the settings back; "
                         "repeatable")
            ->expected(1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }

    void run() const override {
        if (!defaultGlows_.empty()) {
            reportEdit(giveDefaultGlows(scene_, defaultGlows_, builtModule_, module_), scene_,
                       false);
            return;
        }
        scene::SceneFile scene = scene::parseSceneFile(scene_);
        if (!module_.empty())
            scene.module = module_;
        sequence::SceneRenderer renderer(scene, builtModule_);
        for (const std::string& line : renderer.savedSettings())
            std::printf("%s\n", line.c_str());
    }

  private:
    std::string scene_, module_;
    std::vector<std::string> defaultGlows_;
};

} // namespace

std::unique_ptr<Command> settingsCommand(CLI::App& app, const CommandContext& context) {
    return std::make_unique<SettingsCommand>(app, context);
}

} // namespace orvit::commands
