// The stand-in's one kind of failure: a single line that names the file, the
// server and the value at fault.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace orvit::standin {

// `text` with its control characters written as escapes ("\n", "\x1b"), so
// that names and values taken from a file keep a message on one line.
inline std::string printableLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

class HostError : public std::runtime_error {
  public:
    explicit HostError(const std::string& line) : std::runtime_error(printableLine(line)) {}
};

} // namespace orvit::standin

namespace orvit::app {

// The command line's failures are the same one kind of failure; only a
// command's top level prints it.
using AppError = standin::HostError;

} // namespace orvit::app
