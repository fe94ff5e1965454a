// Text written into TOML files: strings that read back exactly as given.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvit::scene {

// The body of a TOML basic string holding `text`: backslashes and quotes
// escaped, control characters as \u escapes; line breaks and tabs kept when
// `multiLine` (between """ quotes).
std::string tomlEscaped(std::string_view text, bool multiLine);

// `text` as a one-line TOML basic string, quotes included.
std::string tomlString(std::string_view text);

// `v` as a TOML float in as few digits (15 to 17) as read back to the same
// double.
std::string tomlNumber(double v);

// `lines` as a TOML multi-line string, each line ending in a line break: a
// literal string where it can hold them, else a basic one with escapes.
std::string tomlLines(const std::vector<std::string>& lines);

// The code point of the well-formed UTF-8 sequence of two or more bytes at
// `at`, and its length; 0 and a length of 1 for a byte that starts no such
// sequence (ASCII, a stray continuation, an overlong or surrogate form).
std::pair<char32_t, size_t> decodeUtf8(std::string_view text, size_t at);

// Whether `text` is UTF-8 throughout, as every string of a TOML file is.
bool isUtf8(std::string_view text);

} // namespace orvit::scene
