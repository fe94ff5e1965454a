#include "orvit/commands/command.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

namespace orvit::app {

bool Command::parsed() const {
    return command_->parsed();
}

std::vector<std::unique_ptr<Command>> allCommands(CLI::App& app, const CommandContext& context) {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(renderCommand(app, context));
    commands.push_back(infoCommand(app, context));
    commands.push_back(settingsCommand(app, context));
    commands.push_back(editCommand(app, context));
    commands.push_back(previewCommand(app, context));
    commands.push_back(demoCommand(app, context));
    commands.push_back(initCommand(app, context));
    commands.push_back(farmCommand(app, context));
    return commands;
}

int runCommandLine(int argc, char** argv, const CommandContext& context) {
    CLI::App app{"orvit: renders scene files through the Orvit glow filter module, as its host "
                 "would."};
    app.require_subcommand(1);
    const std::vector<std::unique_ptr<Command>> commands = allCommands(app, context);
    CLI11_PARSE(app, argc, argv);
    try {
        for (const auto& command : commands)
            if (command->parsed())
                command->run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvit: %s\n", e.what());
        return 1;
    }
    return 0;
}

} // namespace orvit::app
