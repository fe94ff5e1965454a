// 64-bit FNV-1a over bytes, planes and lines: wincheck prints digests that
// the Linux and Windows builds must print alike.
#pragma once

#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orvit::wincheck {

class Digest {
  public:
    void add(const void* data, size_t size) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < size; ++i) {
            hash_ ^= bytes[i];
            hash_ *= 0x100000001b3u;
        }
    }
    void add(const std::vector<uint8_t>& plane) { add(plane.data(), plane.size()); }
    void add(const std::string& line) { add(line.data(), line.size() + 1); }
    std::string text() const {
        char out[20];
        std::snprintf(out, sizeof out, "%016" PRIx64, hash_);
        return out;
    }

  private:
    uint64_t hash_ = 0xcbf29ce484222325u;
};

inline std::string digestOf(const std::vector<std::string>& lines) {
    Digest d;
    for (const std::string& line : lines)
        d.add(line);
    return d.text();
}

} // namespace orvit::wincheck
