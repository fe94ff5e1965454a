// The host's line writer and reader over a list of lines, for unit tests.
// Both count their calls; the reader copies at most maxLength characters of a
// line, as a host would, and answers -1 once the lines run out.
#pragma once

#include "module/abi/line_io.h"

#include <string>
#include <vector>

namespace fakes {

class FakeLineWriter {
  public:
    FakeLineWriter();
    FakeLineWriter(const FakeLineWriter&) = delete;
    FakeLineWriter& operator=(const FakeLineWriter&) = delete;

    const SaveState* state() const { return &state_; }

    std::vector<std::string> lines;

  private:
    SaveState state_{};
};

class FakeLineReader {
  public:
    explicit FakeLineReader(std::vector<std::string> lines);
    FakeLineReader(const FakeLineReader&) = delete;
    FakeLineReader& operator=(const FakeLineReader&) = delete;

    const LoadState* state() const { return &state_; }
    size_t linesLeft() const { return lines.size() - next; }

    std::vector<std::string> lines;
    size_t next = 0;
    int calls = 0;       // every readLine call, including those past the end
    int lastMaximum = 0; // maxLength of the last call

  private:
    LoadState state_{};
};

} // namespace fakes
