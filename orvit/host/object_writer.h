// Writes object files of the "FORM"/"LWOB" format: the surfaces with their
// special-buffer bytes, plus any other chunks a scene needs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvit::host {

// A sub-chunk inside a surface chunk: 4-character tag, up to 65535 data bytes.
struct ObjectSubChunk {
    std::string tag;
    std::vector<uint8_t> data;
};

// A top-level chunk: 4-character tag, up to 2^31 - 1 body bytes.
struct ObjectChunk {
    std::string tag;
    std::vector<uint8_t> body;
};

struct ObjectSurface {
    std::string name; // written NUL-terminated, padded to an even length
    std::array<uint8_t, 4> buffers{};
    bool writeBuffers = true;                // false: the surface has no "SPBF" sub-chunk
    std::vector<ObjectSubChunk> extraBefore; // sub-chunks written ahead of "SPBF"
    std::vector<ObjectSubChunk> extraAfter;  // sub-chunks written after "SPBF"
};

struct ObjectDescription {
    std::string formType = "LWOB";
    std::vector<ObjectChunk> chunksBefore; // e.g. points and polygons, ahead of the surfaces
    std::vector<ObjectSurface> surfaces;   // one "SURF" chunk each, in order
    std::vector<ObjectChunk> chunksAfter;
};

// The bytes of one "SURF" chunk body: name, NUL, pad, then the sub-chunks.
std::vector<uint8_t> surfaceChunkBody(const ObjectSurface& surface);

// The whole file: "FORM", the form length, the form type, then the chunks.
// Lengths are big-endian; chunks and sub-chunks follow each other without pad
// bytes, as the reader expects. Throws std::invalid_argument for a tag that is
// not 4 characters, a name holding a NUL, or a length the format cannot hold.
std::vector<uint8_t> writeObjectFile(const ObjectDescription& object);

// Writes `bytes` to `path`; false (with errno set by the library) on failure.
bool saveObjectFile(const std::string& path, const std::vector<uint8_t>& bytes);

} // namespace orvit::host
