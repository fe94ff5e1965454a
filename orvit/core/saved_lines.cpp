#include "orvit/core/saved_lines.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace orvit::core {

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

LineWriter::LineWriter(std::vector<std::string>& lines) : lines_(&lines) {
    state_.data = this;
    state_.writeLine = writeLine;
}

LineWriter::LineWriter(std::string& text) : text_(&text) {
    state_.data = this;
    state_.writeLine = writeLine;
}

void ORVIT_CALL LineWriter::writeLine(void* data, const char* text, int32_t length) {
    auto* writer = static_cast<LineWriter*>(data);
    std::string_view line;
    if (text != nullptr && length > 0)
        line = std::string_view(text, static_cast<size_t>(length));
    if (line.find_first_of("\r\n") != std::string_view::npos)
        ++writer->broken_;
    ++writer->written_;
    if (writer->lines_ != nullptr) {
        writer->lines_->emplace_back(line);
    } else {
        writer->text_->append(line);
        writer->text_->push_back('\n');
    }
}

LineReader::LineReader(std::vector<std::string> lines) : lines_(std::move(lines)) {
    state_.data = this;
    state_.readLine = readLine;
}

LineReader::LineReader(std::string_view text) : LineReader(splitLines(text)) {}

const LineReader* LineReader::of(const LoadState* state) {
    if (state == nullptr || state->readLine != readLine)
        return nullptr;
    return static_cast<const LineReader*>(state->data);
}

int32_t ORVIT_CALL LineReader::readLine(void* data, char* buffer, int32_t maxLength) {
    auto* reader = static_cast<LineReader*>(data);
    if (buffer == nullptr)
        return -1;
    if (reader->next_ >= reader->lines_.size()) {
        ++reader->pastEnd_;
        return -1;
    }
    const std::string& line = reader->lines_[reader->next_++];
    const size_t room = static_cast<size_t>(std::max(maxLength, 0));
    const size_t length = std::min(line.size(), room);
    if (length < line.size() && reader->cut_++ == 0) {
        reader->firstCut_ = reader->next_;
        reader->firstCutRoom_ = room;
    }
    std::memcpy(buffer, line.data(), length);
    buffer[length] = '\0';
    return static_cast<int32_t>(length);
}

} // namespace orvit::core
