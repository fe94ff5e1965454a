// A Cryptomatte manifest: the names of a layer's objects and their ids, one
// JSON object of names to 8 hex digits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvit::passes {

// Names and their stored ids, in the order a manifest lists them.
using CryptomatteNames = std::vector<std::pair<std::string, uint32_t>>;

// A manifest: one JSON object of names to 8 hex digits, nothing else. The
// ids come out storable (cryptomatte.h: storableId), as the pixels hold
// them. Throws std::runtime_error saying at which byte the text stops being
// one.
CryptomatteNames parseManifest(std::string_view json);

} // namespace orvit::passes
