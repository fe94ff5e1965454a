#include "tests/support/fakes/fake_lines.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace fakes {

namespace {

void ORVIT_CALL writeLine(void* data, const char* text, int32_t length) {
    static_cast<FakeLineWriter*>(data)->lines.emplace_back(text, static_cast<size_t>(length));
}

int32_t ORVIT_CALL readLine(void* data, char* buffer, int32_t maxLength) {
    auto* reader = static_cast<FakeLineReader*>(data);
    ++reader->calls;
    reader->lastMaximum = maxLength;
    if (reader->next >= reader->lines.size())
        return -1;
    const std::string& line = reader->lines[reader->next++];
    size_t length = std::min(line.size(), static_cast<size_t>(std::max(maxLength, 0)));
    std::memcpy(buffer, line.data(), length);
    buffer[length] = '\0';
    return static_cast<int32_t>(length);
}

} // namespace

FakeLineWriter::FakeLineWriter() {
    state_.data = this;
    state_.writeLine = writeLine;
}

FakeLineReader::FakeLineReader(std::vector<std::string> text) : lines(std::move(text)) {
    state_.data = this;
    state_.readLine = readLine;
}

} // namespace fakes
