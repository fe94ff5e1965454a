// The per-radius tables of the glow stamp. A stamp never reaches beyond the
// frame, so every table covers only the offsets and distances a clipped
// window can meet, and every entry it holds is the full-size entry of the
// rule: memory is bounded by the frame, never by R squared beyond it.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvit {

// The largest radius of the depth modes (depthRadius): tables by radius for
// them hold kMaxDepthRadius + 1 entries, and above it a Fixed mode's stamp
// is never the cheaper fill.
constexpr int32_t kMaxDepthRadius = 100;

// Integer square root as the rules take it: trunc(sqrt(n)) of the exact sum,
// in double precision, which is the exact integer root below 2^52.
inline int32_t integerRoot(int64_t n) {
    return static_cast<int32_t>(std::sqrt(static_cast<double>(n)));
}

// Falloff and ramp index by distance d = 0 .. maxDistance, where maxDistance
// is min(R, the farthest distance inside the frame).
struct StampProfile {
    int32_t radius = 0;
    int32_t maxDistance = 0;
    uint8_t falloffAtRadius = 0;    // falloff[R], even when R lies beyond the frame
    std::vector<uint8_t> falloff;   // by distance
    std::vector<uint8_t> rampIndex; // by distance
};

// Falloff: trunc((cos((d * 3.141592) / R) + 1.0) * 127.5). Ramp index:
// 255 - trunc((1.0 - d / R) * 255.0). Radius 0 has the single entry falloff 0
// with ramp index 255. False when memory runs out.
bool buildStampProfile(StampProfile* profile, int32_t radius, int32_t width, int32_t height);

// The stamp as rows of falloff and ramp index: row dy (0 .. rows-1) holds the
// offsets -half .. half, so one target row of a stamp is one contiguous run.
struct StampPattern {
    int32_t radius = 0;
    int32_t rows = 0;   // min(R, height - 1) + 1
    int32_t half = 0;   // min(R, width - 1)
    int32_t stride = 0; // 2 * half + 1
    std::vector<uint8_t> falloff;
    std::vector<uint8_t> rampIndex; // empty when built without indices

    const uint8_t* falloffRow(int32_t dy) const {
        return falloff.data() + static_cast<size_t>(dy) * static_cast<size_t>(stride);
    }
    const uint8_t* rampRow(int32_t dy) const {
        return rampIndex.data() + static_cast<size_t>(dy) * static_cast<size_t>(stride);
    }
};

// trunc(sqrt(a^2 + b^2)) for offsets a, b below kSize: the distances of the
// depth modes' stamps, looked up rather than followed along every row.
class RootTable {
  public:
    static constexpr int32_t kSize = kMaxDepthRadius + 1;
    RootTable();
    const uint8_t* row(int32_t a) const { return roots_ + a * kSize; }

  private:
    uint8_t roots_[kSize * kSize];
};

// Builds the pattern of radius R >= 0 from its profile, its ramp indices
// only `withIndex`, its distances from `roots` where they reach (null: none);
// null when memory runs out.
std::unique_ptr<StampPattern> buildStampPattern(const StampProfile& profile, int32_t width,
                                                int32_t height, bool withIndex,
                                                const RootTable* roots = nullptr);

// Patterns by radius for one kernel run, each built at most once.
class StampPatternCache {
  public:
    // Without `withIndex` the patterns hold no ramp indices: a ramp of one
    // colour needs none.
    StampPatternCache(int32_t width, int32_t height, bool withIndex)
        : width_(width), height_(height), withIndex_(withIndex) {}
    const StampPattern* forRadius(int32_t radius);

  private:
    static constexpr int32_t kDirect = kMaxDepthRadius + 1;

    int32_t width_;
    int32_t height_;
    bool withIndex_;
    std::unique_ptr<RootTable> roots_;
    std::unique_ptr<StampPattern> direct_[kDirect];
    std::vector<std::unique_ptr<StampPattern>> other_;
};

} // namespace orvit
