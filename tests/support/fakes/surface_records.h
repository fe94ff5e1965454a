// The surface table of an instance as plain values, for comparing with what
// a test expects and printing the difference.
#pragma once

#include "module/settings/settings.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace fakes {

struct SurfaceRecord {
    std::string name;
    std::array<uint8_t, 4> buffers;
    bool operator==(const SurfaceRecord& o) const { return name == o.name && buffers == o.buffers; }
};

inline std::ostream& operator<<(std::ostream& os, const SurfaceRecord& r) {
    return os << '"' << r.name << "\" (" << int(r.buffers[0]) << ',' << int(r.buffers[1]) << ','
              << int(r.buffers[2]) << ',' << int(r.buffers[3]) << ')';
}

inline std::vector<SurfaceRecord> surfaceRecords(const orvit::FilterInstance* instance) {
    std::vector<SurfaceRecord> out;
    for (int32_t i = 0; i < instance->surfaceCount; ++i) {
        const orvit::SurfaceBuffers* s = instance->surfaces[i];
        out.push_back({s->name, {s->buffers[0], s->buffers[1], s->buffers[2], s->buffers[3]}});
    }
    return out;
}

inline std::vector<int32_t> specialValues(const orvit::FilterInstance* instance) {
    return std::vector<int32_t>(instance->specialValues,
                                instance->specialValues + instance->specialValueCount);
}

} // namespace fakes
