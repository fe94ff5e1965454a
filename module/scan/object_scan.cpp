#include "module/scan/object_scan.h"

#include "module/settings/surface_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvit {

namespace {

constexpr size_t kTagSize = 4;
constexpr size_t kSubChunkHeaderSize = 6; // tag and 16-bit length
constexpr size_t kSpecialBufferSize = 4;

bool sameTag(const unsigned char* bytes, const char* tag) {
    return std::memcmp(bytes, tag, kTagSize) == 0;
}

uint32_t bigEndian32(const unsigned char* b) {
    return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]);
}

size_t bigEndian16(const unsigned char* b) {
    return (static_cast<size_t>(b[0]) << 8) | static_cast<size_t>(b[1]);
}

// A read-only file whose size is known up front, so that no read, seek or
// allocation ever goes by a length beyond what the file holds.
class ObjectReader {
  public:
    ObjectReader() = default;
    ObjectReader(const ObjectReader&) = delete;
    ObjectReader& operator=(const ObjectReader&) = delete;
    ~ObjectReader() {
        if (file_ != nullptr)
            std::fclose(file_);
    }

    bool open(const char* fileName) {
        file_ = std::fopen(fileName, "rb");
        if (file_ == nullptr || std::fseek(file_, 0, SEEK_END) != 0)
            return false;
        size_ = std::ftell(file_);
        return size_ >= 0 && std::fseek(file_, 0, SEEK_SET) == 0;
    }

    long remaining() const { return size_ - offset_; }

    // Reads exactly `count` bytes, or reports that the file ends first.
    bool read(unsigned char* to, size_t count) {
        if (count > static_cast<unsigned long>(remaining()))
            return false;
        const size_t got = std::fread(to, 1, count, file_);
        offset_ += static_cast<long>(got);
        return got == count;
    }

    bool skip(long count) {
        if (count < 0 || count > remaining() || std::fseek(file_, count, SEEK_CUR) != 0)
            return false;
        offset_ += count;
        return true;
    }

  private:
    std::FILE* file_ = nullptr;
    long size_ = 0;
    long offset_ = 0;
};

// Walks the sub-chunks of one "SURF" body. A sub-chunk whose header or data
// runs past the body, or a special-buffer sub-chunk too short for its four
// bytes, ends the walk of this body; records added before it stay.
void addSurfaceBody(FilterInstance* instance, const unsigned char* body, size_t length) {
    const void* nul = std::memchr(body, 0, length);
    if (nul == nullptr)
        return; // the name is not terminated inside the body: no sub-chunks follow it
    const char* name = reinterpret_cast<const char*>(body);
    size_t offset = static_cast<size_t>(static_cast<const unsigned char*>(nul) - body) + 1;
    if (offset % 2 != 0)
        ++offset; // name and NUL are padded to an even length
    while (offset < length) {
        if (length - offset < kSubChunkHeaderSize)
            return;
        const unsigned char* subChunk = body + offset;
        const size_t dataLength = bigEndian16(subChunk + kTagSize);
        if (dataLength > length - offset - kSubChunkHeaderSize)
            return;
        if (sameTag(subChunk, "SPBF")) {
            if (dataLength < kSpecialBufferSize)
                return;
            addSurface(instance, name, subChunk + kSubChunkHeaderSize);
        }
        offset += kSubChunkHeaderSize + dataLength;
    }
}

// Reads a "SURF" body of `length` bytes (already checked against the file's
// size) and adds its surfaces. False when the body cannot be read whole.
bool readSurfaceChunk(FilterInstance* instance, ObjectReader& reader, size_t length) {
    auto* body = static_cast<unsigned char*>(std::malloc(length + 1));
    if (body == nullptr)
        return false;
    const bool whole = reader.read(body, length);
    if (whole) {
        body[length] = 0;
        addSurfaceBody(instance, body, length);
    }
    std::free(body);
    return whole;
}

} // namespace

void scanObjectFile(FilterInstance* instance, const char* fileName) {
    if (instance == nullptr || fileName == nullptr)
        return;
    ObjectReader reader;
    if (!reader.open(fileName))
        return;
    unsigned char tag[kTagSize];
    if (!reader.read(tag, kTagSize) || !sameTag(tag, "FORM"))
        return;
    if (!reader.skip(4)) // the form length bounds nothing: the walk runs to the end of the file
        return;
    if (!reader.read(tag, kTagSize) || !sameTag(tag, "LWOB"))
        return;
    if (!reader.read(tag, kTagSize))
        return;
    for (;;) {
        unsigned char lengthBytes[4];
        if (!reader.read(lengthBytes, sizeof lengthBytes))
            return;
        const uint32_t length = bigEndian32(lengthBytes);
        // A negative length (sign bit set) would seek backwards, possibly forever;
        // one beyond the end of the file cannot be followed. Either ends the file.
        if (length > 0x7FFFFFFFu || length > static_cast<unsigned long>(reader.remaining()))
            return;
        if (sameTag(tag, "SURF")) {
            if (!readSurfaceChunk(instance, reader, length))
                return;
        } else if (!reader.skip(static_cast<long>(length))) {
            return;
        }
        if (!reader.read(tag, kTagSize))
            return;
    }
}

void scanObjectSurfaces(FilterInstance* instance, const ItemInfo* itemInfo,
                        const ObjectInfo* objectInfo) {
    if (instance == nullptr)
        return;
    clearSurfaces(instance);
    // The records come checked from their look-up; absent means no files.
    if (itemInfo == nullptr || objectInfo == nullptr)
        return;
    for (ItemId item = itemInfo->firstItem(ItemObject, nullptr); item != nullptr;
         item = itemInfo->nextItem(item))
        scanObjectFile(instance, objectInfo->objectFileName(item));
}

} // namespace orvit
