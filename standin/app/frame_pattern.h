// Frame patterns and frame numbers: file patterns in which a run of '#'
// stands for the frame number, and the frames given on the command line.
#pragma once

#include <string>

namespace orvit::app {

// `pattern` with its run of '#' replaced by `frame`, zero-padded to the run's
// length; a pattern without '#' is returned as it is.
std::string framePath(const std::string& pattern, int frame);

// True when `pattern` holds a run of '#'.
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
