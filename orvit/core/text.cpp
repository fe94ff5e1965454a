#include "orvit/core/text.h"

namespace orvit::core {
namespace {

constexpr std::string_view kBlanks = " \t\r";

} // namespace

std::string firstLine(std::string_view text, std::string_view ifEmpty) {
    std::string_view line = text.substr(0, text.find('\n'));
    const auto end = line.find_last_not_of(kBlanks);
    line = end == std::string_view::npos ? std::string_view() : line.substr(0, end + 1);
    return std::string(line.empty() ? ifEmpty : line);
}

std::string inQuotes(std::string_view text, char mark) {
    std::string out(1, mark);
    out += text;
    out += mark;
    return out;
}

std::string trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(kBlanks);
    if (begin == std::string_view::npos)
        return "";
    return std::string(text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1));
}

} // namespace orvit::core
