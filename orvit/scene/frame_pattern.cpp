#include "orvit/scene/frame_pattern.h"

#include "orvit/core/host_error.h"

#include <cstdlib>
#include <filesystem>

namespace orvit::scene {

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

std::string rangeText(FrameRange range) {
    return std::to_string(range.first) + "-" + std::to_string(range.last);
}

std::string framesText(const std::vector<int>& frames) {
    std::string text;
    for (size_t i = 0; i < frames.size();) {
        size_t j = i;
        while (j + 1 < frames.size() && frames[j + 1] == frames[j] + 1)
            ++j;
        if (!text.empty())
            text += ", ";
        text += j > i ? rangeText({frames[i], frames[j]}) : std::to_string(frames[i]);
        i = j + 1;
    }
    return text;
}

std::vector<int> missingFrames(const std::string& pattern, FrameRange range) {
    std::vector<int> missing;
    for (int frame = range.first; frame <= range.last; ++frame) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(framePath(pattern, frame), ec))
            missing.push_back(frame);
    }
    return missing;
}

namespace {

// Digits only, kLastFrame at most.
bool isFrameNumber(const std::string& text);

} // namespace

std::vector<std::string> presentFramePaths(const std::string& pattern, FrameRange range) {
    const FrameMark mark = frameMark(pattern);
    std::error_code ec;
    if (!mark.found())
        return std::filesystem::exists(pattern, ec) ? std::vector<std::string>{pattern}
                                                    : std::vector<std::string>{};
    // The pattern's folder read once, however long the range: each name
    // that the pattern gives a frame of the range.
    const size_t name = pattern.find_last_of('/') + 1;
    const std::string folder = name == 0 ? "." : pattern.substr(0, name);
    const std::string before = pattern.substr(name, mark.begin - name);
    const std::string after = pattern.substr(mark.end);
    std::vector<std::string> paths;
    for (std::filesystem::directory_iterator entry(folder, ec), end; !ec && entry != end;
         entry.increment(ec)) {
        const std::string file = entry->path().filename().string();
        if (file.size() <= before.size() + after.size() || file.compare(0, before.size(), before) ||
            file.compare(file.size() - after.size(), after.size(), after))
            continue;
        const std::string number =
            file.substr(before.size(), file.size() - before.size() - after.size());
        if (!isFrameNumber(number))
            continue;
        const int frame = std::atoi(number.c_str());
        const std::string path = pattern.substr(0, name) + file;
        if (frame >= range.first && frame <= range.last && framePath(pattern, frame) == path)
            paths.push_back(path);
    }
    return paths;
}

namespace {

// Digits only, kLastFrame at most.
bool isFrameNumber(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
           text.size() <= std::to_string(kLastFrame).size();
}

// "A-B" or "A" with frame numbers, in any order.
std::optional<FrameRange> rangeNumbers(const std::string& text) {
    const size_t dash = text.find('-');
    const std::string first = text.substr(0, dash);
    const std::string last = dash == std::string::npos ? first : text.substr(dash + 1);
    if (!isFrameNumber(first) || !isFrameNumber(last))
        return std::nullopt;
    return FrameRange{std::atoi(first.c_str()), std::atoi(last.c_str())};
}

} // namespace

std::optional<FrameRange> readFrameRange(const std::string& text) {
    const std::optional<FrameRange> range = rangeNumbers(text);
    if (!range || range->last < range->first)
        return std::nullopt;
    return range;
}

FrameRange parseFrameRange(const std::string& text) {
    const std::optional<FrameRange> range = rangeNumbers(text);
    if (!range)
        throw core::AppError("--frames '" + text + "': expected A-B or A with frame numbers 0 to " +
                             std::to_string(kLastFrame));
    if (range->last < range->first)
        throw core::AppError("--frames '" + text + "': the range holds no frames");
    return *range;
}

int parseFrameNumber(const std::string& text, const std::string& option) {
    if (!isFrameNumber(text))
        throw core::AppError(option + " '" + text + "': expected a frame number 0 to " +
                             std::to_string(kLastFrame));
    return std::atoi(text.c_str());
}

} // namespace orvit::scene
