#include "orvit/core/keys.h"

#include <algorithm>
#include <cmath>

namespace orvit::core {

std::vector<Key> orderedKeys(std::vector<Key> keys) {
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [](const Key& k) { return !std::isfinite(k.time); }),
               keys.end());
    std::stable_sort(keys.begin(), keys.end(),
                     [](const Key& a, const Key& b) { return a.time < b.time; });
    return keys;
}

double evaluateKeys(const std::vector<Key>& keys, double time) {
    if (keys.empty())
        return 0.0;
    // The first key later than `time`; the segment ends there.
    auto next = std::upper_bound(keys.begin(), keys.end(), time,
                                 [](double t, const Key& k) { return t < k.time; });
    if (next == keys.begin())
        return keys.front().value;
    if (next == keys.end())
        return keys.back().value;
    const Key& a = *(next - 1);
    const Key& b = *next;
    const double u = (time - a.time) / (b.time - a.time);
    return a.value + (b.value - a.value) * u;
}

} // namespace orvit::core
