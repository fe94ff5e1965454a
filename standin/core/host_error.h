// The stand-in's one kind of failure: a single line that names the file, the
// server and the value at fault.
#pragma once

#include <stdexcept>
#include <string>

namespace orvit::standin {

class HostError : public std::runtime_error {
  public:
    explicit HostError(const std::string& line) : std::runtime_error(line) {}
};

} // namespace orvit::standin
