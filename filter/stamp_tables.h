// The per-radius tables of the glow stamp: falloff and ramp index by
// distance, and the integer distance of every offset. A stamp never reaches
// beyond the frame, so the tables cover only the offsets and distances that
// the clipped window can meet; every entry they hold is the full-size entry.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace orvit {

struct StampTables {
    int32_t radius = 0;
    int32_t columns = 0;            // offsets 0..columns-1 along a row
    std::vector<uint8_t> falloff;   // by distance
    std::vector<uint8_t> rampIndex; // by distance
    std::vector<int32_t> distance;  // rows x columns, capped at radius

    const int32_t* distanceRow(int32_t a) const {
        return distance.data() + static_cast<size_t>(a) * static_cast<size_t>(columns);
    }
};

// Builds the tables of radius R >= 0 for a frame of width x height; null when
// memory runs out.
std::unique_ptr<StampTables> buildStampTables(int32_t radius, int32_t width, int32_t height);

// Tables by radius for one kernel run, each built at most once.
class StampTableCache {
  public:
    StampTableCache(int32_t width, int32_t height) : width_(width), height_(height) {}
    const StampTables* forRadius(int32_t radius);

  private:
    static constexpr int32_t kDirect = 101; // radii the depth modes can stamp with

    int32_t width_;
    int32_t height_;
    std::unique_ptr<StampTables> direct_[kDirect];
    std::vector<std::unique_ptr<StampTables>> other_;
};

} // namespace orvit
