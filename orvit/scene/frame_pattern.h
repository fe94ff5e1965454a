// Frame patterns and frame numbers: file patterns in which a run of '#'
// stands for the frame number, and the frames given on the command line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvit::scene {

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

// Frame numbers run from 0 to kLastFrame, in a scene, on the command line
// and in a frame mark.
constexpr int kLastFrame = 99999999;

// The frame range "A-B" or "A" of frame numbers, as given on the command
// line and kept in the farm's jobs file.
struct FrameRange {
    int first;
    int last;
};
// The range `text` gives, or none when it is not one or holds no frames.
std::optional<FrameRange> readFrameRange(const std::string& text);
// The same for `--frames`: an AppError saying what is wrong.
FrameRange parseFrameRange(const std::string& text);

// "A-B", as readFrameRange reads it.
std::string rangeText(FrameRange range);

// Ascending frame numbers as runs: "4, 7-9".
std::string framesText(const std::vector<int>& frames);

// Frames of `range` whose file under `pattern` is not a regular file, or
// cannot be looked at (a link that loops, a name too long): rendering such a
// frame reports the real fault. Images are written under a temporary name
// and renamed when finished, so a file that is there is whole.
std::vector<int> missingFrames(const std::string& pattern, FrameRange range);

// The files there are (of any kind) under `pattern` for frames of `range`,
// found by reading the pattern's folder once.
std::vector<std::string> presentFramePaths(const std::string& pattern, FrameRange range);

// One frame number, 0 to kLastFrame, given as `option` on the command line.
int parseFrameNumber(const std::string& text, const std::string& option);

} // namespace orvit::scene
