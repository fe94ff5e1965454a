// The command line's one kind of failure: a single line naming the file, the
// key or the value at fault. Only the command's top level prints it.
#pragma once

#include <stdexcept>
#include <string>

namespace orvit::app {

class AppError : public std::runtime_error {
  public:
    explicit AppError(const std::string& line) : std::runtime_error(line) {}
};

} // namespace orvit::app
