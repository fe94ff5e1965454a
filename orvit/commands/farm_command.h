// `orvit farm submit` and `orvit farm status` on the command line.
#pragma once

#include "orvit/farm/farm.h"

#include <string>

namespace CLI {
class App;
}

namespace orvit::app {

class FarmCommand {
  public:
    // Adds the `farm` command and its two subcommands to `app`.
    explicit FarmCommand(CLI::App& app);
    bool parsed() const;
    // Runs the subcommand given; `builtModule` is used when the scene names
    // no module file.
    void run(const std::string& builtModule) const;

  private:
    CLI::App* farm_ = nullptr;
    CLI::App* submit_ = nullptr;
    CLI::App* status_ = nullptr;
    FarmRequest submitRequest_;
    FarmRequest statusRequest_;
};

} // namespace orvit::app
