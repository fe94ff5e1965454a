// The stand-in's one kind of failure: a single line that names the file, the
// server and the value at fault.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace orvit::core {

// `text` with its control characters written as escapes ("\n", "\x1b",
// "\u009b" for a C1 control, "\xff" for a byte that is no UTF-8), so that
// names and values taken from a file keep a message on one line and can
// never drive the terminal it is printed on.
inline std::string printableLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const auto byteAt = [&](size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    for (size_t i = 0; i < text.size();) {
        const unsigned byte = byteAt(i);
        // The length of the UTF-8 sequence starting here; 0 for a byte that
        // starts none (a stray continuation, an overlong or surrogate form).
        size_t length = byte < 0x80                    ? 1
                        : byte >= 0xC2 && byte <= 0xDF ? 2
                        : byte >= 0xE0 && byte <= 0xEF ? 3
                        : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                       : 0;
        const unsigned second = byteAt(i + 1);
        if ((byte == 0xE0 && second < 0xA0) || (byte == 0xED && second > 0x9F) ||
            (byte == 0xF0 && second < 0x90) || (byte == 0xF4 && second > 0x8F))
            length = 0;
        for (size_t k = 1; k < length; ++k)
            if ((byteAt(i + k) & 0xC0) != 0x80)
                length = 0;
        char escape[8];
        if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (length == 0 || byte < 0x20 || byte == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
            length = 1;
        } else if (byte == 0xC2 && second < 0xA0) {
            std::snprintf(escape, sizeof escape, "\\u%04x", second);
            out += escape;
        } else {
            out.append(text, i, length);
        }
        i += length == 0 ? 1 : length;
    }
    return out;
}

class HostError : public std::runtime_error {
  public:
    explicit HostError(const std::string& line) : std::runtime_error(printableLine(line)) {}
};

} // namespace orvit::core

namespace orvit::core {

// The command line's failures are the same one kind of failure; only a
// command's top level prints it.
using AppError = HostError;

} // namespace orvit::core
