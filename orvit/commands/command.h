// A subcommand of `orvit`: it adds itself and its options to the command
// line, and runs when it is the one given. One file per subcommand defines it.
#pragma once

#include "orvit/commands/edit_command.h"

#include <functional>
#include <memory>
#include <string>

namespace CLI {
class App;
}

namespace orvit::commands {

// What the subcommands take from the program that holds them.
struct CommandContext {
    std::string builtModule; // the Orvit.p built with orvit, when a scene names none
    std::string demoScene;   // the bundled demo scene
    // The program farm tasks run: this one's twin without a window, beside it.
    std::string farmProgram;
    // Edits a scene's settings with a person at a window; empty in a
    // program built without one.
    std::function<EditResult(const std::string& scenePath, const std::string& builtModule,
                             const EditOptions& options)>
        windowEdit;
};

class Command {
  public:
    virtual ~Command() = default;
    bool parsed() const;
    virtual void run() const = 0;

  protected:
    explicit Command(CLI::App* command) : command_(command) {}
    Command(CLI::App* command, const CommandContext& context)
        : command_(command), builtModule_(context.builtModule) {}
    CLI::App* command_;
    std::string builtModule_; // CommandContext::builtModule
};

std::unique_ptr<Command> renderCommand(CLI::App& app, const CommandContext& context);
std::unique_ptr<Command> infoCommand(CLI::App& app, const CommandContext& context);
std::unique_ptr<Command> settingsCommand(CLI::App& app, const CommandContext& context);
std::unique_ptr<Command> editCommand(CLI::App& app, const CommandContext& context);
std::unique_ptr<Command> previewCommand(CLI::App& app, const CommandContext& context);
std::unique_ptr<Command> demoCommand(CLI::App& app, const CommandContext& context);
std::unique_ptr<Command> initCommand(CLI::App& app, const CommandContext& context);
std::unique_ptr<Command> farmCommand(CLI::App& app, const CommandContext& context);

// Adds every subcommand above to `app`, in the order `orvit --help` lists them.
std::vector<std::unique_ptr<Command>> allCommands(CLI::App& app, const CommandContext& context);

// Parses the command line and runs the subcommand given: 0, or 1 after one
// line on standard error.
int runCommandLine(int argc, char** argv, const CommandContext& context);

} // namespace orvit::commands
