#include "filter/stamp_tables.h"

#include "filter/arith.h"

#include <cmath>
#include <new>

namespace orvit {

namespace {

int32_t reach(int32_t radius, int32_t extent) {
    int32_t limit = extent - 1 < 0 ? 0 : extent - 1;
    return radius < limit ? radius : limit;
}

} // namespace

std::unique_ptr<StampTables> buildStampTables(int32_t radius, int32_t width, int32_t height) {
    std::unique_ptr<StampTables> tables(new (std::nothrow) StampTables);
    if (!tables)
        return nullptr;
    const int32_t rows = reach(radius, height) + 1;
    const int32_t columns = reach(radius, width) + 1;
    const int64_t farthest2 = static_cast<int64_t>(rows - 1) * (rows - 1) +
                              static_cast<int64_t>(columns - 1) * (columns - 1);
    const int32_t farthest = truncToInt(std::sqrt(static_cast<double>(farthest2)));
    const int32_t maxDistance = radius < farthest ? radius : farthest;
    tables->radius = radius;
    tables->columns = columns;
    try {
        tables->falloff.resize(static_cast<size_t>(maxDistance) + 1);
        tables->rampIndex.resize(static_cast<size_t>(maxDistance) + 1);
        tables->distance.resize(static_cast<size_t>(rows) * static_cast<size_t>(columns));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }

    // Falloff: trunc((cos((d * 3.141592) / R) + 1.0) * 127.5). Ramp index:
    // 255 - trunc((1.0 - d / R) * 255.0). Radius 0 has the single entry 0
    // with ramp index 255.
    for (int32_t d = 0; d <= maxDistance; ++d) {
        if (radius == 0) {
            tables->falloff[0] = 0;
            tables->rampIndex[0] = 255;
            break;
        }
        double angle = d * 3.141592;
        angle = angle / radius;
        double wave = std::cos(angle);
        wave = wave + 1.0;
        tables->falloff[static_cast<size_t>(d)] = static_cast<uint8_t>(truncToInt(wave * 127.5));
        double along = static_cast<double>(d) / static_cast<double>(radius);
        along = 1.0 - along;
        tables->rampIndex[static_cast<size_t>(d)] =
            static_cast<uint8_t>(255 - truncToInt(along * 255.0));
    }

    // Distance: trunc(sqrt(b^2 + a^2)) of the exact integer sum, capped at R.
    for (int32_t a = 0; a < rows; ++a)
        for (int32_t b = 0; b < columns; ++b) {
            const int64_t sum = static_cast<int64_t>(b) * b + static_cast<int64_t>(a) * a;
            int32_t d = truncToInt(std::sqrt(static_cast<double>(sum)));
            if (d >= radius)
                d = radius;
            tables->distance[static_cast<size_t>(a) * static_cast<size_t>(columns) +
                             static_cast<size_t>(b)] = d;
        }
    return tables;
}

const StampTables* StampTableCache::forRadius(int32_t radius) {
    if (radius >= 0 && radius < kDirect) {
        auto& slot = direct_[radius];
        if (!slot)
            slot = buildStampTables(radius, width_, height_);
        return slot.get();
    }
    for (const auto& tables : other_)
        if (tables->radius == radius)
            return tables.get();
    auto tables = buildStampTables(radius, width_, height_);
    if (!tables)
        return nullptr;
    try {
        other_.push_back(std::move(tables));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return other_.back().get();
}

} // namespace orvit
