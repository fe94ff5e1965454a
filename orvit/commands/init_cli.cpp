// `orvit init` on the command line: its options, and the summary it prints.
#include "orvit/commands/command.h"
#include "orvit/commands/init_command.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/passes/channels.h"
#include "orvit/scene/toml_text.h"

#include <CLI/CLI.hpp>

namespace orvit::commands {

namespace {

// What the scene's [colour] does, and how to change it.
std::string colourSummary(const images::ColourSettings& colour, const std::string& scene,
                          bool defaultDisplay) {
    if (colour.transform == images::ColourSettings::Transform::Ocio)
        return "colour: OpenColorIO display '" + colour.display + "'" +
               (defaultDisplay ? " (the configuration's default)" : "") + ", view '" + colour.view +
               "'" + (colour.look.empty() ? "" : ", look '" + colour.look + "'") + " of '" +
               colour.config + "'";
    return "colour: the sRGB formula (transform = \"srgb\"); for the renderer's own view, "
           "such as Filmic with a look, give --display, --view and --look (OpenColorIO, "
           "with $OCIO or --ocio-config), or set [colour] in " +
           scene;
}

class InitCommand : public Command {
  public:
    InitCommand(CLI::App& app, const CommandContext& context)
        : Command(app.add_subcommand(
                      "init",
                      "Write a scene (and its settings, SCENE-glow.txt beside it) for a "
                      "renderer's numbered frames, so that render shows a glow on every special "
                      "value at once."),
                  context) {
        command_
            ->add_option("PATTERN", request_.patterns,
                         "the frames, e.g. render/shot_####.exr (#### is the frame number); "
                         "several when the passes are in files of their own, e.g. "
                         "beauty_####.exr id_####.exr depth_####.exr")
            ->required();
        command_->add_option("--output", request_.output, "the scene (default: scene.toml)");
        command_->add_option("--fov", request_.fov,
                             "the camera's horizontal field of view, degrees (for the Depth "
                             "modes)");
        command_->add_option("--focal-length", request_.focalLength,
                             "the camera's focal length, mm (with --film-width)");
        command_->add_option("--film-width", request_.filmWidth, "the camera's film width, mm");
        command_->add_option("--frames", request_.frames,
                             "frames A-B (default: every numbered file present)");
        command_->add_option("--colour-channels", request_.colourChannels,
                             "R,G,B[,A]: the colour channels (default: recognised by name)");
        command_->add_option("--special-channel", request_.specialChannel,
                             "the object index channel (default: recognised by name)");
        command_->add_option("--depth-channel", request_.depthChannel,
                             "the depth channel (default: recognised by name)");
        command_->add_option("--cryptomatte", request_.cryptomatte,
                             "the Cryptomatte layer whose objects glow, by its name, such as "
                             "ViewLayer.CryptoObject (default: the object layer, where no object "
                             "index channel is)");
        command_
            ->add_option("--names", request_.names,
                         "GLOB: only the Cryptomatte objects it matches, such as 'Lamp*'; "
                         "repeatable")
            ->expected(1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        command_->add_option("--display", request_.display,
                             "the OpenColorIO display the renderer showed the frames on "
                             "(default: the sRGB formula)");
        command_->add_option(
            "--view", request_.view,
            "its view, e.g. Filmic (of --display, else of the configuration's default display)");
        command_->add_option("--look", request_.look, "its look (with --display and --view)");
        command_->add_option("--ocio-config", request_.ocioConfig,
                             "the OpenColorIO configuration (default: $OCIO)");
        command_->add_flag("--update", request_.update,
                           "write the scene at --output anew, keeping its surfaces' names and "
                           "values, its settings (new values get a glow) and what the frames "
                           "do not tell (camera, rate, colour, output, module)");
    }

    void run() const override {
        const InitResult r = initScene(request_, builtModule_);
        const std::string values = core::joined(r.values, [](int v) { return std::to_string(v); });
        const std::string channels = core::joined(r.colourChannels);
        // The files only when there are several.
        const auto in = [&](const std::string& pattern) {
            return request_.patterns.size() > 1 ? " in " + pattern : std::string();
        };
        std::string special = r.specialChannel + in(r.specialPattern) + " (values " + values + ")";
        if (!r.cryptomatte.empty()) {
            // Names in the scene's own quoting, as many as a line holds: the
            // scene lists them all.
            special = "Cryptomatte " + r.cryptomatte + in(r.specialPattern) + ", " +
                      std::to_string(r.surfaces.size()) + " object" +
                      (r.surfaces.size() == 1 ? "" : "s") + " (" +
                      core::boundedList(
                          r.surfaces,
                          [](const scene::SurfaceEntry& s) {
                              return (s.name.empty() ? "id " + scene::idText(s.id.value_or(0))
                                                     : scene::tomlString(s.name)) +
                                     " " + std::to_string(s.special);
                          },
                          kListRoom) +
                      "; every one is a [[surfaces]] of " + request_.output + ")";
            if (!r.otherCryptomattes.empty())
                special += "; also in the file: Cryptomatte " +
                           core::joined(r.otherCryptomattes, scene::tomlString) +
                           " (--cryptomatte NAME picks another)";
        }
        const std::string depth = r.depthChannel.empty()
                                      ? "none (the Depth and G-Depth modes need a depth pass)"
                                      : r.depthChannel + in(r.depthPattern) +
                                            (r.farDepth ? " (empty background far)" : "");
        // Names from the files, escaped as every message escapes them.
        const auto print = [](const std::string& line) {
            std::printf("%s\n", core::printableLine(line).c_str());
        };
        print("frames " + scene::rangeText(r.range) + ", " + std::to_string(r.width) + "x" +
              std::to_string(r.height) + ": colour " + channels + in(r.colourPattern) +
              "; special " + special + "; depth " + depth);
        print(colourSummary(r.colour, request_.output,
                            request_.display.empty() && !request_.view.empty()));
        if (passes::remappedDepth(r.depthChannel))
            print("note: depth " + r.depthChannel +
                  " is V-Ray's, which it remaps between its depth black and depth white by "
                  "default: the Depth modes need distances in scene units (turn the remapping "
                  "off, or pick another channel with --depth-channel)");
        for (const std::string& label : r.unheld)
            std::fprintf(stderr,
                         "orvit: warning: surface %s is in no frame of %s: it glows nothing\n",
                         core::printableLine(label).c_str(), scene::rangeText(r.range).c_str());
        for (const std::string& warning : r.warnings)
            std::fprintf(stderr, "orvit: warning: %s\n", core::printableLine(warning).c_str());
        std::printf("wrote %s and %s: a Fixed glow on every %svalue\nnext: orvit edit %s "
                    "--frame %d, then orvit render %s\n",
                    r.scene.c_str(), r.settings.c_str(), request_.update ? "new " : "",
                    request_.output.c_str(), r.range.first, request_.output.c_str());
    }

  private:
    InitRequest request_;
};

} // namespace

std::unique_ptr<Command> initCommand(CLI::App& app, const CommandContext& context) {
    return std::make_unique<InitCommand>(app, context);
}

} // namespace orvit::commands
