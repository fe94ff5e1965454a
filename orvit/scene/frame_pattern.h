// Frame patterns and frame numbers: file patterns in which a run of '#'
// stands for the frame number, and the frames given on the command line.
#pragma once

#include <cstddef>
#include <string>

namespace orvit::app {

// Where the frame number goes in a pattern: the last run of '#' in its file
// name. A '#' in a folder's name is part of that name.
struct FrameMark {
    size_t begin = 0;
    size_t end = 0; // past the run; begin == end: the pattern has none
    bool found() const { return end > begin; }
};
FrameMark frameMark(const std::string& pattern);

// `pattern` with its frame mark replaced by `frame`, zero-padded to the
// mark's length; a pattern without one is returned as it is.
std::string framePath(const std::string& pattern, int frame);

// True when `pattern` has a frame mark.
bool hasFrameNumber(const std::string& pattern);

// The frame range "A-B" or "A"; refused when it holds no frames.
struct FrameRange {
    int first;
    int last;
};
FrameRange parseFrameRange(const std::string& text);

// One frame number, 0 to 99999999, given as `option` on the command line.
int parseFrameNumber(const std::string& text, const std::string& option);

} // namespace orvit::app
