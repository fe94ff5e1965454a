// Cryptomatte layers: per-pixel object names as renderers write them without
// any set-up. A layer of type NAME ("ViewLayer.CryptoObject") is declared by
// header metadata "cryptomatte/KEY/name" (or "exr/cryptomatte/KEY/name", as
// some compositors rewrite it) with its hash, conversion and manifest beside
// it, and stored in channels NAME00.R/G/B/A, NAME01..., each pair an id and
// its coverage, rank 0 (the most coverage) first. An id is the float32 whose
// bits are the MurmurHash3 of the name, kept off zero, denormals, Inf and NaN.
#pragma once

#include "orvit/passes/manifest.h"
#include "orvit/scene/scene_file.h"

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orvit::passes {

// MurmurHash3_x86_32 of `bytes` (blocks read little-endian).
uint32_t murmurHash3(std::string_view bytes, uint32_t seed = 0);

// `hash` with bit 23 flipped where its exponent is 0 or 255, so that as a
// float it is a normal number. Applying it twice changes nothing more.
uint32_t storableId(uint32_t hash);

// The id stored for `name` (its UTF-8 bytes hashed with seed 0), as float bits.
uint32_t cryptomatteId(std::string_view name);

// The id whose pixels a scene's surface selects: the one it gives (kept
// storable, as a manifest's), else its name's.
uint32_t surfaceId(const scene::SurfaceEntry& surface);

struct CryptomatteLayer {
    std::string name;         // the type name: "ViewLayer.CryptoObject"
    std::string metadata;     // its attributes' prefix: "cryptomatte/542cafa/"
    std::string manifest;     // the embedded JSON; empty when there is none
    std::string manifestFile; // a sidecar JSON beside the image; empty when none
    // The channels of level NN: id, coverage, id, coverage (ranks 2NN, 2NN+1).
    std::vector<std::array<std::string, 4>> levels;
    // Why the layer cannot be read, naming the attribute or channel; empty
    // when it can.
    std::string problem;
};

// Every layer a header's text attributes declare, with its channels found
// among `channels` (without case; a channel may carry a part's or layer's
// prefix before the type name).
std::vector<CryptomatteLayer>
cryptomatteLayers(const std::map<std::string, std::string>& attributes,
                  const std::vector<std::string>& channels);

// A layer of objects: its type name's last component is CryptoObject or
// crypto_object, in any case.
bool isObjectLayer(const std::string& name);

// The rank-0 id channels of `channels` that look like a Cryptomatte's
// ("...Crypto...00.R"), for saying so when no metadata declares them.
std::vector<std::string> undeclaredCryptomatte(const std::vector<std::string>& channels);

// The layer's names: its embedded manifest, else its sidecar file, read
// from `imageFolder` (a path that leaves that folder is refused). Throws
// AppError naming the attribute, and the file where there is one.
CryptomatteNames layerNames(const CryptomatteLayer& layer, const std::string& imageFolder);

// The rank-0 decode: a pixel's object is the id of its rank-0 channel (the
// layer's levels[0][0]), read as 32-bit floats whose bits are the id.

// A pixel's special value: that of the surface of `surfaces` that selects
// its object (surfaceId), 0 for an empty pixel (id 0) or an object no
// surface selects. `held`, when given, gets the ids of the surfaces' objects
// that some pixel holds.
std::vector<uint8_t> rankZeroValues(const std::vector<float>& ids,
                                    const std::vector<scene::SurfaceEntry>& surfaces,
                                    std::set<uint32_t>* held = nullptr);

// One frame's rank-0 objects, with the names the layer's manifest gives.
struct RankZeroObjects {
    std::vector<uint32_t> ids; // 0 where nothing is, row by row
    int32_t width = 0;
    CryptomatteNames names;
    std::string manifestProblem; // one line naming the file; empty when read
};

// The objects of `ids`, a frame `width` pixels wide, and the names of
// `layer`, read from `imagePath`'s folder (layerNames). A manifest that is
// missing or cannot be read names nothing and says why in `manifestProblem`
// after `where`; one that gives a name twice is an AppError naming `where`
// and the name, since it would name two objects alike.
RankZeroObjects rankZeroObjects(const CryptomatteLayer& layer, const std::vector<float>& ids,
                                int32_t width, const std::string& imagePath,
                                const std::string& where);

// Adds to `held` the objects of one frame, named where its manifest names
// them.
void addRankZeroObjects(const RankZeroObjects& objects, scene::HeldObjects& held);

// The names of a manifest whose id is not their name's hash: renderers
// that hash otherwise. The manifest's id is the object's.
std::vector<std::string> namesNotHashed(const CryptomatteNames& names);

} // namespace orvit::passes
