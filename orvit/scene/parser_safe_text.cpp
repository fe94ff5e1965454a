#include "orvit/scene/parser_safe_text.h"

#include "orvit/core/host_error.h"
#include "orvit/scene/toml_text.h"

#include <cstdio>
#include <utility>

namespace orvit::scene {
namespace {

// The TOML parser of Debian 12 (toml++ 3.3) reaches an unreachable point
// when its whitespace test meets a code point of U+00A1 to U+0499, U+2C5E to
// U+3057 other than U+3000, or U+FB26 to U+FEFE, which it does at characters
// outside strings, in quoted keys and after a backslash in multi-line strings.
bool unsafeForParser(char32_t c) {
    return (c >= 0xA1 && c <= 0x499) || (c >= 0x2C5E && c <= 0x3057 && c != 0x3000) ||
           (c >= 0xFB26 && c <= 0xFEFE);
}

std::string unicodeEscape(char32_t c) {
    char escape[12];
    std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
    return escape;
}

// The run of `quote` characters starting at `at`.
size_t quoteRun(std::string_view text, size_t at, char quote) {
    size_t n = 0;
    while (at + n < text.size() && text[at + n] == quote)
        ++n;
    return n;
}

} // namespace

std::string parserSafeText(std::string_view text, const std::string& path,
                           std::vector<size_t>* origin) {
    std::string out;
    out.reserve(text.size());
    // Each step appends what one piece of `text` becomes; its bytes come from
    // where that piece starts.
    size_t pieceStart = 0;
    const auto mark = [&](size_t next) {
        if (origin != nullptr)
            origin->resize(out.size(), pieceStart);
        pieceStart = next;
    };
    enum class In { Text, Comment, Basic, MultiBasic };
    In in = In::Text;
    size_t line = 1, lineStart = 0;
    const auto fail = [&](size_t at, const std::string& what) {
        size_t column = 1;
        for (size_t k = lineStart; k < at; ++k)
            column += (static_cast<unsigned char>(text[k]) & 0xC0) != 0x80;
        throw core::AppError("scene '" + path + "':" + std::to_string(line) + ":" +
                             std::to_string(column) + ": syntax error: " + what);
    };
    for (size_t i = 0; i < text.size();) {
        mark(i);
        const char ch = text[i];
        if (ch == '\n') {
            out += ch;
            ++i;
            ++line;
            lineStart = i;
            if (in != In::MultiBasic)
                in = In::Text; // a comment or a one-line string ends with its line
            continue;
        }
        const auto [c, length] = decodeUtf8(text, i);
        if (unsafeForParser(c)) {
            if (in == In::Text)
                fail(i, "unexpected character '" + std::string(text.substr(i, length)) +
                            "' outside a string or comment");
            out += in == In::Comment ? std::string("?") : unicodeEscape(c);
            i += length;
            continue;
        }
        if (in == In::Comment) {
            out += ch;
            ++i;
        } else if (in == In::Basic || in == In::MultiBasic) {
            if (ch == '\\' && i + 1 < text.size() && text[i + 1] != '\n') {
                const auto [escaped, escapedLength] = decodeUtf8(text, i + 1);
                if (unsafeForParser(escaped))
                    fail(i,
                         "unknown escape '" + std::string(text.substr(i, 1 + escapedLength)) + "'");
                out += text.substr(i, 1 + escapedLength);
                i += 1 + escapedLength;
            } else if (ch == '"') {
                const size_t run = in == In::Basic ? 1 : quoteRun(text, i, '"');
                if (in == In::Basic || run >= 3)
                    in = In::Text;
                out += text.substr(i, run);
                i += run;
            } else {
                out += ch;
                ++i;
            }
        } else if (ch == '#') {
            in = In::Comment;
            out += ch;
            ++i;
        } else if (ch == '"') {
            const bool multi = quoteRun(text, i, '"') >= 3;
            in = multi ? In::MultiBasic : In::Basic;
            out += text.substr(i, multi ? 3 : 1);
            i += multi ? 3 : 1;
        } else if (ch == '\'') {
            // A literal string: kept as it is unless it holds a code point the
            // parser cannot take.
            const bool multi = quoteRun(text, i, '\'') >= 3;
            const size_t begin = i + (multi ? 3 : 1);
            size_t end = begin, closing = 0;
            for (; end < text.size(); ++end) {
                if (!multi && (text[end] == '\'' || text[end] == '\n')) {
                    closing = text[end] == '\'' ? 1 : 0;
                    break;
                }
                if (multi && text[end] == '\'' && quoteRun(text, end, '\'') >= 3) {
                    // Up to two quotes before the closing three belong to the string.
                    const size_t run = quoteRun(text, end, '\'');
                    end += run > 5 ? 0 : run - 3;
                    closing = 3;
                    break;
                }
            }
            const std::string_view body = text.substr(begin, end - begin);
            bool unsafe = false;
            for (size_t k = 0; k < body.size() && !unsafe;) {
                const auto [b, bLength] = decodeUtf8(body, k);
                unsafe = unsafeForParser(b);
                k += bLength;
            }
            if (!unsafe) {
                const size_t whole = end + closing - i;
                out += text.substr(i, whole);
                for (size_t k = i; k < i + whole; ++k)
                    if (text[k] == '\n') {
                        ++line;
                        lineStart = k + 1;
                    }
                i += whole;
                continue;
            }
            const std::string quotes = multi ? "\"\"\"" : "\"";
            out += quotes;
            for (size_t k = 0; k < body.size();) {
                const auto [b, bLength] = decodeUtf8(body, k);
                if (body[k] == '\\' || body[k] == '"')
                    out += '\\';
                if (body[k] == '\n') {
                    ++line;
                    lineStart = begin + k + 1;
                }
                out += unsafeForParser(b) ? unicodeEscape(b) : std::string(body.substr(k, bLength));
                k += bLength;
            }
            if (closing > 0)
                out += quotes;
            i = end + closing;
        } else {
            out += ch;
            ++i;
        }
    }
    mark(text.size());
    if (origin != nullptr)
        origin->push_back(text.size());
    return out;
}

} // namespace orvit::scene
