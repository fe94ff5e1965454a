// `orvit farm submit` and `orvit farm status` on the command line.
#include "orvit/commands/command.h"
#include "orvit/farm/farm.h"

#include "orvit/core/host_error.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

namespace orvit::commands {

namespace {

class FarmCommand : public Command {
  public:
    FarmCommand(CLI::App& app, const CommandContext& context);
    void run() const override;

  private:
    std::string farmProgram_;
    CLI::App* submit_ = nullptr;
    CLI::App* status_ = nullptr;
    farm::FarmRequest submitRequest_;
    farm::FarmRequest statusRequest_;
};

FarmCommand::FarmCommand(CLI::App& app, const CommandContext& context)
    : Command(app.add_subcommand("farm", "Render a scene's frames as a Slurm array job, and see "
                                         "how far it is."),
              context),
      farmProgram_(context.farmProgram) {
    command_->require_subcommand(1);

    submit_ = command_->add_subcommand(
        "submit", "Submit the frames that are not yet rendered as one array job, one task per "
                  "chunk of frames; each task is an orvit render --skip-existing of its chunk.");
    submit_->add_option("SCENE", submitRequest_.scene, "scene file (TOML)")->required();
    submit_->add_option("--frames", submitRequest_.frames,
                        "frames A-B, or one frame A (default: the scene's range)");
    submit_->add_option("--chunk", submitRequest_.chunk,
                        "frames per task (default: enough for several seconds of work)");
    submit_->add_option("--cpus", submitRequest_.cpus,
                        "CPUs per task, each rendering a frame at once (orvit render --jobs; "
                        "default 1)");
    submit_->add_option("--partition", submitRequest_.slurm.partition,
                        "Slurm partition (default: the cluster's)");
    submit_->add_option("--time", submitRequest_.slurm.time,
                        "time limit of a task, as sbatch --time takes it (default: the "
                        "partition's)");
    submit_->add_option("--mem", submitRequest_.slurm.memory,
                        "memory of a task, as sbatch --mem takes it (default: the partition's)");
    submit_->add_option("--throttle", submitRequest_.slurm.throttle,
                        "tasks running at once, at most (default: as many as the cluster runs)");
    submit_->add_flag("--requeue,!--no-requeue", submitRequest_.slurm.requeue,
                      "whether Slurm starts a task again when its node is lost (default: it "
                      "does)");
    submit_->add_option("--sbatch", submitRequest_.slurm.extra,
                        "another sbatch option, one argument each, as --sbatch=--account=NAME "
                        "(repeatable)");
    submit_->add_flag("--replace", submitRequest_.replace,
                      "cancel the tasks of earlier jobs that still hold missing frames (pending "
                      "or running), and submit those frames now");
    submit_->add_option("--output", submitRequest_.output,
                        "output pattern, #### for the frame number (default: the scene's)");

    status_ =
        command_->add_subcommand("status", "Show which frames are done and which are missing, "
                                           "and the state of each task Slurm still knows.");
    status_->add_option("SCENE", statusRequest_.scene, "scene file (TOML)")->required();
    status_->add_option("--frames", statusRequest_.frames,
                        "frames A-B, or one frame A (default: the scene's range)");
    status_->add_option("--output", statusRequest_.output,
                        "output pattern given to submit (default: the scene's)");
}

void FarmCommand::run() const {
    if (submit_->parsed()) {
        if (submit_->count("--chunk") > 0 && submitRequest_.chunk < 1)
            throw core::AppError("--chunk " + std::to_string(submitRequest_.chunk) +
                                 ": a task needs 1 frame or more");
        // Not given is no limit; a limit of 0 would be none either.
        if (submit_->count("--throttle") > 0 && submitRequest_.slurm.throttle < 1)
            throw core::AppError("--throttle " + std::to_string(submitRequest_.slurm.throttle) +
                                 ": 1 task at once or more");
        // Tasks run the program without a window, which render nodes
        // without a display's libraries can run.
        if (access(farmProgram_.c_str(), X_OK) != 0)
            throw core::AppError("no program '" + farmProgram_ +
                                 "' beside this one: the farm's tasks "
                                 "run it (it is built and installed with orvit)");
        farm::farmSubmit(submitRequest_, farmProgram_, builtModule_);
    } else if (status_->parsed()) {
        farm::farmStatus(statusRequest_);
    }
}

} // namespace

std::unique_ptr<Command> farmCommand(CLI::App& app, const CommandContext& context) {
    return std::make_unique<FarmCommand>(app, context);
}

} // namespace orvit::commands
