// `orvit info`: a module's descriptor and servers.
#include "orvit/commands/command.h"
#include "orvit/core/loader.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace orvit::commands {

namespace {

class InfoCommand : public Command {
  public:
    InfoCommand(CLI::App& app, const CommandContext& context)
        : Command(app.add_subcommand("info", "Show a module's descriptor and servers.")),
          module_(context.builtModule) {
        command_->add_option("MODULE", module_,
                             "module file (default: the Orvit.p built with orvit)");
    }
    void run() const override {
        const core::LoadedModule module(module_);
        const ModuleDescriptor& d = module.descriptor();
        std::printf("module       %s\n", module.path().c_str());
        std::printf("sync word    0x%08X\n", d.syncWord);
        std::printf("version      %u\n", d.version);
        std::printf("machine      0x%X\n", d.machineWord);
        std::printf("startup      returned %d\n", module.startupResult());
        std::printf("servers      %zu\n", module.servers().size());
        for (const auto& s : module.servers())
            std::printf("  %-22s \"%s\"\n", s.serverClass.c_str(), s.serverName.c_str());
    }

  private:
    std::string module_;
};

} // namespace

std::unique_ptr<Command> infoCommand(CLI::App& app, const CommandContext& context) {
    return std::make_unique<InfoCommand>(app, context);
}

} // namespace orvit::commands
