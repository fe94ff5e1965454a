// What an OpenEXR header makes a reader allocate, checked against the file
// before the library reads it: the library sizes strings, opaque attributes,
// previews and each part's table of block offsets by what the header claims,
// so a small damaged file could make it take gigabytes before it found the
// file cut short.
#include "orvit/images/image_formats.h"

#include "orvit/files/paths.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unistd.h>

namespace orvit::images {
namespace {

// The header's bytes through one descriptor, read in blocks; `end` is the
// file's size. Every read past the end is a failure the caller reports.
class HeaderBytes {
  public:
    HeaderBytes(int fd, uint64_t end) : fd_(fd), end_(end) {}

    uint64_t at() const { return at_; }
    uint64_t left() const { return end_ - at_; }

    bool byte(uint8_t* out) {
        if (at_ >= end_)
            return false;
        if (at_ < start_ || at_ >= start_ + filled_) {
            const ssize_t n = pread(fd_, block_, sizeof block_, static_cast<off_t>(at_));
            if (n <= 0)
                return false;
            start_ = at_;
            filled_ = static_cast<uint64_t>(n);
        }
        *out = block_[at_ - start_];
        ++at_;
        return true;
    }
    bool int32(int32_t* out) {
        uint8_t b[4];
        for (uint8_t& x : b)
            if (!byte(&x))
                return false;
        *out = static_cast<int32_t>(uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 |
                                    uint32_t{b[3]} << 24);
        return true;
    }
    // A name ended by a zero byte, of at most 255 bytes.
    bool name(std::string* out) {
        out->clear();
        for (uint8_t c; byte(&c);) {
            if (c == 0)
                return true;
            if (out->size() == 255)
                return false;
            out->push_back(static_cast<char>(c));
        }
        return false;
    }
    void seek(uint64_t at) { at_ = std::min(at, end_); }
    bool skip(uint64_t n) {
        if (n > left())
            return false;
        at_ += n;
        return true;
    }

  private:
    int fd_;
    uint64_t end_;
    uint64_t at_ = 0;
    uint64_t start_ = 0;
    uint64_t filled_ = 0;
    uint8_t block_[4096];
};

// Scanlines a block holds under each compression, by its number in the
// file; an unknown one is the library's to refuse.
uint64_t linesPerBlock(int compression) {
    static const uint64_t lines[] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
    return compression >= 0 && compression < 10 ? lines[compression] : 1;
}

// The bytes the library reads for a value of a type it knows, whatever size
// the header gives the value; 0 for the types it reads by that size (strings,
// string and float vectors, types it does not know) or by their contents
// (channel lists, previews), which the check reads itself.
uint64_t fixedValueBytes(const std::string& type) {
    static const std::map<std::string, uint64_t> bytes = {
        {"box2i", 16},
        {"box2f", 16},
        {"chromaticities", 32},
        {"compression", 1},
        {"deepImageState", 1},
        {"double", 8},
        {"envmap", 1},
        {"float", 4},
        {"int", 4},
        {"keycode", 28},
        {"lineOrder", 1},
        {"m33f", 36},
        {"m33d", 72},
        {"m44f", 64},
        {"m44d", 128},
        {"rational", 8},
        {"tiledesc", 9},
        {"timecode", 8},
        {"v2i", 8},
        {"v2f", 8},
        {"v2d", 16},
        {"v3i", 12},
        {"v3f", 12},
        {"v3d", 24},
    };
    const auto found = bytes.find(type);
    return found == bytes.end() ? 0 : found->second;
}

// What one part's header says of its blocks.
struct PartLayout {
    int64_t width = 0, height = 0;
    int compression = 0;
    int64_t tileWidth = 0, tileHeight = 0; // 0: scanlines
    uint64_t pixelBytes = 0;               // of all channels, each sampled fully
    int64_t chunkCount = -1;               // the attribute's, when given
};

// The blocks of level 0 of a part: each has an 8-byte offset in the table
// the library allocates, and needs bytes of its own in the file.
uint64_t levelZeroBlocks(const PartLayout& p) {
    if (p.width < 1 || p.height < 1)
        return 0; // the library refuses such a window itself
    const auto up = [](int64_t a, int64_t b) { return static_cast<uint64_t>((a + b - 1) / b); };
    if (p.tileWidth > 0 || p.tileHeight > 0)
        return up(p.width, std::max<int64_t>(p.tileWidth, 1)) *
               up(p.height, std::max<int64_t>(p.tileHeight, 1));
    return up(p.height, static_cast<int64_t>(linesPerBlock(p.compression)));
}

} // namespace

void checkExrClaims(const std::string& path, uint64_t fileSize) {
    std::string why;
    const files::OwnedFd fd = files::openRegular(path, &why);
    if (!fd)
        throw ImageError("it " + why);
    HeaderBytes in(fd.get(), fileSize);
    const auto cutShort = [&] {
        throw ImageError("the header is cut short at byte " + std::to_string(in.at()) + " of " +
                         std::to_string(fileSize));
    };
    // The library reads a known type's value by its type, not by the size
    // the header gives it: where the two differ, what it reads next is not
    // what this check reads, so a damaged size is refused outright.
    const auto misSized = [&](const std::string& attribute, const std::string& type, int32_t size,
                              uint64_t bytes) {
        throw ImageError("the header's attribute '" + attribute + "' of type '" + type +
                         "' gives its value " + std::to_string(size) + " bytes, but it holds " +
                         std::to_string(bytes));
    };
    const auto claims = [&](const std::string& attribute, int64_t bytes) {
        throw ImageError("the header's attribute '" + attribute + "' claims " +
                         std::to_string(bytes) + " bytes, more than the file's " +
                         std::to_string(fileSize) + " bytes hold");
    };
    int32_t magic = 0, version = 0;
    if (!in.int32(&magic) || !in.int32(&version))
        cutShort();
    const bool multiPart = (version & 0x1000) != 0;
    uint64_t blocks = 0;
    for (;;) {
        PartLayout layout;
        std::string name, type;
        int32_t size = 0;
        for (;;) {
            if (!in.name(&name))
                cutShort();
            if (name.empty())
                break;
            if (!in.name(&type) || !in.int32(&size))
                cutShort();
            if (size < 0 || static_cast<uint64_t>(size) > in.left())
                claims(name, size);
            const uint64_t valueStart = in.at();
            const uint64_t valueEnd = valueStart + static_cast<uint64_t>(size);
            const uint64_t fixed = fixedValueBytes(type);
            if (fixed != 0 && fixed != static_cast<uint64_t>(size))
                misSized(name, type, size, fixed);
            if (type == "floatvector" && size % 4 != 0)
                misSized(name, type, size, static_cast<uint64_t>(size / 4 * 4));
            // Values whose own counts size an allocation: every string of a
            // string vector, a preview's pixels; and a channel list, read up
            // to its empty name whatever its size says.
            if (type == "chlist") {
                std::string channel;
                for (;;) {
                    if (!in.name(&channel))
                        cutShort();
                    if (channel.empty())
                        break;
                    int32_t pixelType = 0;
                    if (!in.int32(&pixelType) || !in.skip(12)) // linear flag, reserved, sampling
                        cutShort();
                    layout.pixelBytes += pixelType == 1 ? 2 : 4; // half; else uint or float
                }
                if (in.at() != valueEnd)
                    misSized(name, type, size, in.at() - valueStart);
            } else if (type == "stringvector") {
                while (in.at() < valueEnd) {
                    int32_t length = 0;
                    if (!in.int32(&length))
                        cutShort();
                    if (length < 0 || static_cast<uint64_t>(length) > valueEnd - in.at())
                        claims(name, length);
                    in.skip(static_cast<uint64_t>(length));
                }
            } else if (type == "preview") {
                int32_t w = 0, h = 0;
                if (size < 8 || !in.int32(&w) || !in.int32(&h))
                    cutShort();
                const uint64_t pixels =
                    uint64_t{static_cast<uint32_t>(w)} * uint64_t{static_cast<uint32_t>(h)} * 4;
                if (pixels > static_cast<uint64_t>(size) - 8)
                    claims(name, static_cast<int64_t>(pixels));
                if (pixels != static_cast<uint64_t>(size) - 8)
                    misSized(name, type, size, pixels + 8);
            } else if (type == "box2i" && name == "dataWindow" && size == 16) {
                int32_t box[4];
                for (int32_t& v : box)
                    if (!in.int32(&v))
                        cutShort();
                layout.width = int64_t{box[2]} - box[0] + 1;
                layout.height = int64_t{box[3]} - box[1] + 1;
            } else if (type == "compression" && size == 1) {
                uint8_t c = 0;
                in.byte(&c);
                layout.compression = c;
            } else if (type == "tiledesc" && size >= 8) {
                int32_t w = 0, h = 0;
                in.int32(&w);
                in.int32(&h);
                layout.tileWidth = static_cast<uint32_t>(w);
                layout.tileHeight = static_cast<uint32_t>(h);
            } else if (type == "int" && name == "chunkCount" && size == 4) {
                int32_t count = 0;
                in.int32(&count);
                layout.chunkCount = count;
            }
            in.skip(valueEnd - in.at());
        }
        // The library makes a buffer for a whole tile, whatever part of it
        // the image covers: a tile may take no more than its image, or 64 MiB.
        if (layout.tileWidth > 0 && layout.tileHeight > 0) {
            const auto bytes = [&](int64_t w, int64_t h) {
                return static_cast<long double>(std::max<int64_t>(w, 0)) *
                       static_cast<long double>(std::max<int64_t>(h, 0)) *
                       static_cast<long double>(layout.pixelBytes);
            };
            if (bytes(layout.tileWidth, layout.tileHeight) >
                std::max(bytes(layout.width, layout.height), 64.0L * 1024 * 1024))
                throw ImageError("the header's tiles of " + std::to_string(layout.tileWidth) +
                                 " x " + std::to_string(layout.tileHeight) +
                                 " pixels take more than the image they tile (" +
                                 std::to_string(layout.width) + " x " +
                                 std::to_string(layout.height) + " pixels) and more than 64 MiB");
        }
        blocks += std::max<uint64_t>(
            levelZeroBlocks(layout),
            layout.chunkCount > 0 ? static_cast<uint64_t>(layout.chunkCount) : uint64_t{0});
        // Each block's offset takes 8 bytes of the file, and the library
        // allocates a table of them for every part.
        if (blocks > fileSize / 8)
            throw ImageError("the header claims " + std::to_string(blocks) +
                             " blocks of pixels, more than the file's " + std::to_string(fileSize) +
                             " bytes can hold");
        if (!multiPart)
            break;
        // Parts follow one another until an empty header.
        const uint64_t here = in.at();
        uint8_t next = 0;
        if (!in.byte(&next))
            cutShort();
        if (next == 0)
            break;
        in.seek(here);
    }
}

} // namespace orvit::images
