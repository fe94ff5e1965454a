// Text in single quotes for a POSIX shell, for the command lines orvit writes
// into batch scripts and its tests and benchmarks run.
#pragma once

#include <string>

namespace orvit::files {

inline std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace orvit::files
