#include "orvit/scene/toml_text.h"

#include "orvit/core/saved_lines.h"

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

std::string tomlLines(const std::vector<std::string>& lines) {
    const std::string body = core::joinLines(lines);
    bool literal = body.find("'''") == std::string::npos;
    for (char c : body)
        literal = literal && (c == '\n' || c == '\t' || static_cast<unsigned char>(c) >= 0x20) &&
                  c != 0x7F;
    // The line break after the opening quotes is not the string's.
    if (literal)
        return "'''\n" + body + "'''";
    return "\"\"\"\n" + tomlEscaped(body, true) + "\"\"\"";
}

std::pair<char32_t, size_t> decodeUtf8(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const unsigned lead = byte(at), second = byte(at + 1);
    size_t length = 0;
    char32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    }
    // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
    if (length == 0 || (lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return {0, 1};
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {0, 1};
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    return {c, length};
}

bool isUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const size_t length = decodeUtf8(text, i).second;
        if (length == 1)
            return false;
        i += length;
    }
    return true;
}

} // namespace orvit::scene
