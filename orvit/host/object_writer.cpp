#include "orvit/host/object_writer.h"

#include <cstdio>
#include <limits>
#include <stdexcept>

namespace orvit::host {

namespace {

void appendTag(std::vector<uint8_t>& out, const std::string& tag) {
    if (tag.size() != 4)
        throw std::invalid_argument("object chunk tag \"" + tag + "\" is not 4 characters");
    out.insert(out.end(), tag.begin(), tag.end());
}

void appendBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void appendSubChunk(std::vector<uint8_t>& out, const std::string& tag,
                    const std::vector<uint8_t>& data) {
    if (data.size() > 0xFFFF)
        throw std::invalid_argument("sub-chunk \"" + tag + "\" is longer than 65535 bytes");
    appendTag(out, tag);
    out.push_back(static_cast<uint8_t>(data.size() >> 8));
    out.push_back(static_cast<uint8_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

void appendChunk(std::vector<uint8_t>& out, const std::string& tag,
                 const std::vector<uint8_t>& body) {
    if (body.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw std::invalid_argument("chunk \"" + tag + "\" is too long");
    appendTag(out, tag);
    appendBigEndian32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

} // namespace

std::vector<uint8_t> surfaceChunkBody(const ObjectSurface& surface) {
    if (surface.name.find('\0') != std::string::npos)
        throw std::invalid_argument("surface name holds a NUL byte");
    std::vector<uint8_t> body(surface.name.begin(), surface.name.end());
    body.push_back(0);
    if (body.size() % 2 != 0)
        body.push_back(0);
    for (const ObjectSubChunk& sub : surface.extraBefore)
        appendSubChunk(body, sub.tag, sub.data);
    if (surface.writeBuffers)
        appendSubChunk(body, "SPBF",
                       std::vector<uint8_t>(surface.buffers.begin(), surface.buffers.end()));
    for (const ObjectSubChunk& sub : surface.extraAfter)
        appendSubChunk(body, sub.tag, sub.data);
    return body;
}

std::vector<uint8_t> writeObjectFile(const ObjectDescription& object) {
    std::vector<uint8_t> out;
    appendTag(out, "FORM");
    appendBigEndian32(out, 0); // patched below
    appendTag(out, object.formType);
    for (const ObjectChunk& chunk : object.chunksBefore)
        appendChunk(out, chunk.tag, chunk.body);
    for (const ObjectSurface& surface : object.surfaces)
        appendChunk(out, "SURF", surfaceChunkBody(surface));
    for (const ObjectChunk& chunk : object.chunksAfter)
        appendChunk(out, chunk.tag, chunk.body);
    const size_t formLength = out.size() - 8;
    if (formLength > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw std::invalid_argument("object file is too long");
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<uint8_t>(formLength >> (24 - 8 * i));
    return out;
}

bool saveObjectFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace orvit::host
