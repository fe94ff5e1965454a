#include "module/filter/kernel/stamp_tables.h"

#include "module/filter/arith.h"

#include <cmath>
#include <new>

namespace orvit {

namespace {

int32_t reach(int32_t radius, int32_t extent) {
    int32_t limit = extent - 1 < 0 ? 0 : extent - 1;
    return radius < limit ? radius : limit;
}

uint8_t falloffAt(int32_t d, int32_t radius) {
    double angle = d * 3.141592;
    angle = angle / radius;
    double wave = std::cos(angle);
    wave = wave + 1.0;
    return static_cast<uint8_t>(truncToInt(wave * 127.5));
}

uint8_t rampIndexAt(int32_t d, int32_t radius) {
    double along = static_cast<double>(d) / static_cast<double>(radius);
    along = 1.0 - along;
    return static_cast<uint8_t>(255 - truncToInt(along * 255.0));
}

} // namespace

bool buildStampProfile(StampProfile* profile, int32_t radius, int32_t width, int32_t height) {
    const int32_t rows = reach(radius, height) + 1;
    const int32_t columns = reach(radius, width) + 1;
    const int32_t farthest = integerRoot(static_cast<int64_t>(rows - 1) * (rows - 1) +
                                         static_cast<int64_t>(columns - 1) * (columns - 1));
    profile->radius = radius;
    profile->maxDistance = radius < farthest ? radius : farthest;
    try {
        profile->falloff.resize(static_cast<size_t>(profile->maxDistance) + 1);
        profile->rampIndex.resize(static_cast<size_t>(profile->maxDistance) + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (radius == 0) {
        profile->falloff[0] = 0;
        profile->rampIndex[0] = 255;
        profile->falloffAtRadius = 0;
        return true;
    }
    for (int32_t d = 0; d <= profile->maxDistance; ++d) {
        profile->falloff[static_cast<size_t>(d)] = falloffAt(d, radius);
        profile->rampIndex[static_cast<size_t>(d)] = rampIndexAt(d, radius);
    }
    profile->falloffAtRadius = falloffAt(radius, radius);
    return true;
}

std::unique_ptr<StampPattern> buildStampPattern(const StampProfile& profile, int32_t width,
                                                int32_t height, bool withIndex,
                                                const RootTable* roots) {
    std::unique_ptr<StampPattern> pattern(new (std::nothrow) StampPattern);
    if (!pattern)
        return nullptr;
    const int32_t radius = profile.radius;
    pattern->radius = radius;
    pattern->rows = reach(radius, height) + 1;
    pattern->half = reach(radius, width);
    pattern->stride = 2 * pattern->half + 1;
    const size_t size = static_cast<size_t>(pattern->rows) * static_cast<size_t>(pattern->stride);
    try {
        pattern->falloff.resize(size);
        if (withIndex)
            pattern->rampIndex.resize(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const uint8_t* falloff = profile.falloff.data();
    const uint8_t* rampIndex = profile.rampIndex.data();
    const int32_t half = pattern->half;
    const bool fromTable =
        roots != nullptr && half < RootTable::kSize && pattern->rows <= RootTable::kSize;
    for (int32_t dy = 0; dy < pattern->rows; ++dy) {
        const size_t middle = static_cast<size_t>(dy) * pattern->stride + half;
        uint8_t* f = pattern->falloff.data() + middle;
        uint8_t* c = withIndex ? pattern->rampIndex.data() + middle : nullptr;
        auto put = [&](int32_t dx, int64_t root) {
            const size_t d = static_cast<size_t>(root < radius ? root : radius);
            f[dx] = falloff[d];
            f[-dx] = falloff[d];
            if (c != nullptr) {
                c[dx] = rampIndex[d];
                c[-dx] = rampIndex[d];
            }
        };
        if (fromTable) {
            const uint8_t* root = roots->row(dy);
            for (int32_t dx = 0; dx <= half; ++dx)
                put(dx, root[dx]);
            continue;
        }
        // Along a row the distance d = min(R, trunc(sqrt(dx^2 + dy^2))) grows
        // with |dx|; it is followed step by step in exact integers. Every d
        // met lies inside the frame, so within the profile.
        int64_t root = dy;
        int64_t nextSquare = (root + 1) * (root + 1);
        int64_t sum = static_cast<int64_t>(dy) * dy;
        for (int32_t dx = 0; dx <= half; ++dx) {
            while (nextSquare <= sum) {
                ++root;
                nextSquare += 2 * root + 1;
            }
            put(dx, root);
            sum += 2 * static_cast<int64_t>(dx) + 1;
        }
    }
    return pattern;
}

RootTable::RootTable() {
    for (int32_t a = 0; a < kSize; ++a)
        for (int32_t b = 0; b < kSize; ++b)
            roots_[a * kSize + b] =
                static_cast<uint8_t>(integerRoot(static_cast<int64_t>(a) * a + b * b));
}

const StampPattern* StampPatternCache::forRadius(int32_t radius) {
    auto build = [&]() -> std::unique_ptr<StampPattern> {
        StampProfile profile;
        if (!buildStampProfile(&profile, radius, width_, height_))
            return nullptr;
        if (radius < RootTable::kSize && !roots_)
            roots_.reset(new (std::nothrow) RootTable);
        return buildStampPattern(profile, width_, height_, withIndex_, roots_.get());
    };
    if (radius >= 0 && radius < kDirect) {
        auto& slot = direct_[radius];
        if (!slot)
            slot = build();
        return slot.get();
    }
    for (const auto& pattern : other_)
        if (pattern->radius == radius)
            return pattern.get();
    auto pattern = build();
    if (!pattern)
        return nullptr;
    try {
        other_.push_back(std::move(pattern));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return other_.back().get();
}

} // namespace orvit
