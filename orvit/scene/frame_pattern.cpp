#include "orvit/scene/frame_pattern.h"

#include "orvit/core/host_error.h"

#include <cstdlib>

namespace orvit::app {

FrameMark frameMark(const std::string& pattern) {
    const size_t name = pattern.find_last_of('/') + 1; // 0 when there is no folder
    const size_t last = pattern.find_last_of('#');
    if (last == std::string::npos || last < name)
        return {};
    size_t begin = last;
    while (begin > name && pattern[begin - 1] == '#')
        --begin;
    return {begin, last + 1};
}

bool hasFrameNumber(const std::string& pattern) {
    return frameMark(pattern).found();
}

std::string framePath(const std::string& pattern, int frame) {
    const FrameMark mark = frameMark(pattern);
    std::string number = std::to_string(frame);
    if (number.size() < mark.end - mark.begin)
        number.insert(0, mark.end - mark.begin - number.size(), '0');
    return pattern.substr(0, mark.begin) + (mark.found() ? number : "") + pattern.substr(mark.end);
}

FrameRange parseFrameRange(const std::string& text) {
    auto fail = [&](const std::string& why) -> FrameRange {
        throw AppError("--frames '" + text + "': " + why);
    };
    auto parseNumber = [&](const std::string& part) {
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos ||
            part.size() > 8)
            fail("expected A-B or A with frame numbers 0 to 99999999");
        return std::atoi(part.c_str());
    };
    const auto dash = text.find('-');
    FrameRange range{};
    if (dash == std::string::npos) {
        range.first = range.last = parseNumber(text);
    } else {
        range.first = parseNumber(text.substr(0, dash));
        range.last = parseNumber(text.substr(dash + 1));
    }
    if (range.last < range.first)
        return fail("the range holds no frames");
    return range;
}

int parseFrameNumber(const std::string& text, const std::string& option) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 8)
        throw AppError(option + " '" + text + "': expected a frame number 0 to 99999999");
    return std::atoi(text.c_str());
}

} // namespace orvit::app
