#include "orvit/scene/toml_text.h"

#include <cstdio>
#include <cstdlib>

namespace orvit::scene {

std::string tomlEscaped(std::string_view text, bool multiLine) {
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if ((multiLine && (c == '\n' || c == '\t')) || (u >= 0x20 && u != 0x7F)) {
            out += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", u);
            out += escape;
        }
    }
    return out;
}

std::string tomlString(std::string_view text) {
    return "\"" + tomlEscaped(text, false) + "\"";
}

std::string tomlNumber(double v) {
    char text[32];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strtod(text, nullptr) == v)
            break;
    }
    // A whole number stays a TOML float.
    const std::string out = text;
    return out.find_first_of(".eEn") == std::string::npos ? out + ".0" : out;
}

} // namespace orvit::scene
