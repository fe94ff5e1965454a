#include "orvit/commands/command.h"
#include "orvit/core/loader.h"

#include <CLI/CLI.hpp>

#include "orvit/core/host_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

namespace orvit::commands {

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

namespace {

// The exit code once standard output and standard error are flushed: a
// result that could not be written (a full disk, a closed pipe) is a
// failure, never a quiet short file.
int flushedExit(int code) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (!flushed || std::ferror(stdout)) {
        std::fprintf(stderr, "orvit: cannot write standard output: %s\n",
                     !flushed && error != 0 ? std::strerror(error) : "part of it was lost");
        code = 1;
    }
    if (std::fflush(stderr) != 0 || std::ferror(stderr))
        code = 1;
    return code;
}

// The program's version, then the module's: the descriptor's version is all
// a host can learn of a module without running it.
int printVersions(const std::string& builtModule) {
    std::printf("orvit %s\n", ORVIT_VERSION);
    try {
        const core::LoadedModule module(builtModule);
        std::printf("module %s: descriptor version %u\n", module.path().c_str(),
                    module.descriptor().version);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvit: %s\n", e.what());
        return 1;
    }
    return 0;
}

} // namespace

int runCommandLine(int argc, char** argv, const CommandContext& context) {
    CLI::App app{"orvit: renders scene files through the Orvit glow filter module, as its host "
                 "would."};
    app.require_subcommand(1);
    // Listed by --help; answered before parsing, which needs a subcommand.
    app.add_flag("--version", "print the program's and the module's versions");
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        return flushedExit(printVersions(context.builtModule));
    const std::vector<std::unique_ptr<Command>> commands = allCommands(app, context);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return flushedExit(app.exit(e));
    }
    try {
        for (const auto& command : commands)
            if (command->parsed())
                command->run();
    } catch (const std::bad_alloc&) {
        // Where a file's size decides the memory, the reader names it; this
        // is what is left.
        std::fprintf(stderr, "orvit: out of memory\n");
        return flushedExit(1);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvit: %s\n", core::printableLine(e.what()).c_str());
        return flushedExit(1);
    }
    return flushedExit(0);
}

} // namespace orvit::commands
