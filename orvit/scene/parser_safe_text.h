// Scene text as the TOML parser of the scene reader can take it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvit::scene {

// `text` with no code point the TOML parser cannot take: inside a basic
// string each becomes its \u escape, a literal string holding one becomes the
// same basic string, in a comment each becomes '?'. Anywhere else TOML allows
// no such character, and it is a syntax error naming its line and column.
// With `origin`, origin[k] is the offset in `text` that byte k of the result
// comes from, and one more entry maps the end.
std::string parserSafeText(std::string_view text, const std::string& path,
                           std::vector<size_t>* origin = nullptr);

} // namespace orvit::scene
