// Small text helpers for the host's one-line messages.
#pragma once

#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace orvit::core {

// The first line of `text` without its trailing blanks, so that a message
// from a library or a program stays one line; `ifEmpty` when that is empty.
std::string firstLine(std::string_view text, std::string_view ifEmpty = "");

// `text` between two `mark`s: '"' for text as the user typed it (a label, a
// settings line), '\'' for a name (a file, a channel).
std::string inQuotes(std::string_view text, char mark = '"');

// `text` without the blanks (spaces, tabs, carriage returns) around it.
std::string trimmed(std::string_view text);

// The items as `text` writes each, one `separator` between two: "a, b, c".
template <typename Items, typename Text>
std::string joined(const Items& items, Text text, std::string_view separator = ", ") {
    std::string out;
    bool first = true;
    for (const auto& item : items) {
        if (!first)
            out += separator;
        out += text(item);
        first = false;
    }
    return out;
}
inline std::string joined(const std::vector<std::string>& items,
                          std::string_view separator = ", ") {
    return joined(
        items, [](const std::string& item) { return item; }, separator);
}

// As joined, but only the items that fit in `room` characters (the first
// always), then ", ... and N more": a list that a line can hold.
template <typename Items, typename Text>
std::string boundedList(const Items& items, Text text, size_t room) {
    std::string out;
    size_t shown = 0;
    for (const auto& item : items) {
        const std::string next = (shown > 0 ? ", " : "") + text(item);
        if (shown > 0 && out.size() + next.size() > room)
            break;
        out += next;
        ++shown;
    }
    const size_t more = static_cast<size_t>(std::size(items)) - shown;
    return more == 0 ? out : out + ", ... and " + std::to_string(more) + " more";
}

} // namespace orvit::core
