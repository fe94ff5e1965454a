// Text written into TOML files: strings that read back exactly as given.
#pragma once

#include <string>
#include <string_view>

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

} // namespace orvit::scene
