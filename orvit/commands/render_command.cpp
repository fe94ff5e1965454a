// `orvit render` and `orvit demo`: a scene's frames, or the bundled demo
// scene's, through the module over every CPU.
#include "orvit/commands/command.h"
#include "orvit/core/host_error.h"
#include "orvit/sequence/sequence.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <exception>
#include <string>

namespace orvit::commands {

namespace {

class RenderCommand : public Command {
  public:
    RenderCommand(CLI::App& app, const CommandContext& context)
        : Command(app.add_subcommand("render", "Render a scene file's frames through the module."),
                  context) {
        command_->add_option("SCENE", request_.scene, "scene file (TOML)")->required();
        command_->add_option("--frames", request_.frames,
                             "frames A-B, or one frame A (default: the scene's range)");
        command_->add_option("--output", request_.output,
                             "output pattern, #### for the frame number; .png, .tif or .exr "
                             "(default: the scene's)");
        command_->add_option("--module", request_.module,
                             "module file (default: the scene's, else the Orvit.p built with "
                             "orvit)");
        command_->add_flag("--skip-existing", request_.skipExisting,
                           "leave the frames whose image is already there");
        command_->add_option("--jobs", jobs_,
                             "frames rendered at once, each by a worker process of its own "
                             "holding a loaded module and a frame (default: the CPUs "
                             "available, " +
                                 std::to_string(sequence::availableCpus()) +
                                 " here; never more than the frames)");
    }
    void run() const override {
        sequence::RenderRequest request = request_;
        if (command_->count("--jobs") > 0)
            request.jobs = workerCount(jobs_);
        sequence::renderSequence(request, builtModule_);
    }

  private:
    // --jobs as given: a whole number, 1 or more.
    static int workerCount(const std::string& text) {
        size_t end = 0;
        int jobs = 0;
        try {
            jobs = std::stoi(text, &end);
        } catch (const std::exception&) {
            end = 0;
        }
        if (text.empty() || end != text.size() || jobs < 1 || !std::isdigit(text[0]))
            throw core::AppError("--jobs '" + text + "': give the number of workers, 1 or more");
        return jobs;
    }

    sequence::RenderRequest request_;
    std::string jobs_;
};

class DemoCommand : public Command {
  public:
    DemoCommand(CLI::App& app, const CommandContext& context)
        : Command(
              app.add_subcommand("demo", "Render the bundled demo scene (examples/demo) to out/."),
              context) {
        request_.scene = context.demoScene;
        request_.output = "out/demo.####.png";
        command_->add_option("--frames", request_.frames,
                             "frames A-B, or one frame A (default: 1-6)");
        command_->add_option("--output", request_.output,
                             "output pattern (default: out/demo.####.png)");
        command_->add_option("--module", request_.module, "module file");
    }
    void run() const override {
        const std::string folder = sequence::renderSequence(request_, builtModule_);
        std::printf("the demo's images are in %s\n", folder.c_str());
    }

  private:
    sequence::RenderRequest request_;
};

} // namespace

std::unique_ptr<Command> renderCommand(CLI::App& app, const CommandContext& context) {
    return std::make_unique<RenderCommand>(app, context);
}

std::unique_ptr<Command> demoCommand(CLI::App& app, const CommandContext& context) {
    return std::make_unique<DemoCommand>(app, context);
}

} // namespace orvit::commands
