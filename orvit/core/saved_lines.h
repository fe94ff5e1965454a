// The host's line writer and reader of scene save and load, over lines held
// in memory: a list of lines, or text such as the settings block of a scene
// file.
#pragma once

#include "module/abi/line_io.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvit::core {

// Lines of `text`, split at "\n" with a "\r" before it dropped. A last line
// without a terminator counts; an empty text has no lines.
std::vector<std::string> splitLines(std::string_view text);
// Each line followed by "\n".
std::string joinLines(const std::vector<std::string>& lines);

// A SaveState whose lines are appended to a list, or to text (each line then
// followed by "\n"). The target must outlive the writer.
class LineWriter {
  public:
    explicit LineWriter(std::vector<std::string>& lines);
    explicit LineWriter(std::string& text);
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    const SaveState* state() const { return &state_; }
    size_t linesWritten() const { return written_; }
    // Lines that held a line break and so will not read back as one line.
    size_t brokenLines() const { return broken_; }

  private:
    static void ORVIT_CALL writeLine(void* data, const char* text, int32_t length);

    SaveState state_{};
    std::vector<std::string>* lines_ = nullptr;
    std::string* text_ = nullptr;
    size_t written_ = 0;
    size_t broken_ = 0;
};

// A LoadState that hands out its lines in order and then answers -1. A line
// longer than the caller's maximum is cut to it, the rest of it dropped.
// The reader keeps count of what the caller took, so that a host can tell
// whether a load read its lines exactly: all of them and no more.
class LineReader {
  public:
    explicit LineReader(std::vector<std::string> lines);
    explicit LineReader(std::string_view text);
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The reader whose state `state` is, or null for any other LoadState.
    static const LineReader* of(const LoadState* state);

    const LoadState* state() const { return &state_; }
    const std::vector<std::string>& lines() const { return lines_; }
    size_t linesRead() const { return next_; }
    size_t linesLeft() const { return lines_.size() - next_; }
    size_t cutLines() const { return cut_; }
    // The first line longer than the reader's buffer held (1 for the first
    // line), 0 when none was; and the characters that buffer held.
    size_t firstCutLine() const { return firstCut_; }
    size_t firstCutRoom() const { return firstCutRoom_; }
    // Calls answered -1 because every line had been handed out.
    size_t readsPastEnd() const { return pastEnd_; }

  private:
    // Copies the next line into `buffer` (maxLength + 1 bytes) and returns its
    // length, or -1 when no line is left.
    static int32_t ORVIT_CALL readLine(void* data, char* buffer, int32_t maxLength);

    LoadState state_{};
    std::vector<std::string> lines_;
    size_t next_ = 0;
    size_t cut_ = 0;
    size_t firstCut_ = 0;
    size_t firstCutRoom_ = 0;
    size_t pastEnd_ = 0;
};

} // namespace orvit::core
