// Values keyed over time: linear between keys, constant outside them.
#pragma once

#include <vector>

namespace orvit::core {

struct Key {
    double time;
    double value;
};

// Keys in the order evaluateKeys needs: non-finite times dropped, the rest
// sorted by time, keys of equal time kept in their given order.
std::vector<Key> orderedKeys(std::vector<Key> keys);

// The value at `time` of keys ordered by orderedKeys; 0 without keys. Where
// two keys share a time the later one holds from that time on.
double evaluateKeys(const std::vector<Key>& keys, double time);

} // namespace orvit::core
