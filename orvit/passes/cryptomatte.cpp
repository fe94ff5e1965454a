#include "orvit/passes/cryptomatte.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/files/paths.h"
#include "orvit/images/image_input.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace orvit::passes {
namespace {

using core::inQuotes;

uint32_t rotl(uint32_t x, int r) {
    return (x << r) | (x >> (32 - r));
}

uint32_t mixBlock(uint32_t k) {
    k *= 0xcc9e2d51u;
    k = rotl(k, 15);
    return k * 0x1b873593u;
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "NAME00.R" (or ".red", in any case) after an optional "PREFIX.": the
// level (00...) and the channel's place (r, g, b, a), or -1.
struct RankChannel {
    int level = -1;
    int slot = -1;
};

RankChannel rankChannel(const std::string& channel, const std::string& lowerName) {
    const std::string c = lower(channel);
    const size_t dot = c.rfind('.');
    if (dot == std::string::npos)
        return {};
    const char letter = images::colourLetter(c.substr(dot + 1));
    if (letter == 0 || dot < lowerName.size() + 2)
        return {};
    const size_t start = dot - 2 - lowerName.size();
    if (c.compare(start, lowerName.size(), lowerName) != 0 || (start > 0 && c[start - 1] != '.'))
        return {};
    if (!std::isdigit(static_cast<unsigned char>(c[dot - 2])) ||
        !std::isdigit(static_cast<unsigned char>(c[dot - 1])))
        return {};
    return {(c[dot - 2] - '0') * 10 + (c[dot - 1] - '0'),
            static_cast<int>(std::strchr("RGBA", letter) - "RGBA")};
}

const char* const kSpeltOut[] = {"red", "green", "blue", "alpha"};

// The rank channels of `layer` among `channels`; a problem for each one
// missing. Levels run from 00 with no gap.
void findLevels(CryptomatteLayer& layer, const std::vector<std::string>& channels) {
    const std::string lowerName = lower(layer.name);
    std::map<int, std::array<std::string, 4>> levels;
    for (const std::string& channel : channels) {
        const RankChannel r = rankChannel(channel, lowerName);
        if (r.level >= 0 && levels[r.level][r.slot].empty())
            levels[r.level][r.slot] = channel;
    }
    const int count = levels.empty() ? 1 : levels.rbegin()->first + 1;
    for (int level = 0; level < count && layer.problem.empty(); ++level) {
        std::array<std::string, 4>& names = levels[level];
        for (int slot = 0; slot < 4 && layer.problem.empty(); ++slot)
            if (names[slot].empty()) {
                char missing[8];
                std::snprintf(missing, sizeof missing, "%02d.%c", level, "RGBA"[slot]);
                layer.problem = "its rank channel " + core::inQuotes(layer.name + missing, '\'') +
                                " is missing (nor is it there spelt out, as '." + kSpeltOut[slot] +
                                "')";
            }
        layer.levels.push_back(names);
    }
}

} // namespace

uint32_t murmurHash3(std::string_view bytes, uint32_t seed) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t blocks = bytes.size() / 4;
    uint32_t h = seed;
    for (size_t i = 0; i < blocks; ++i) {
        const unsigned char* b = data + i * 4;
        const uint32_t k = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
        h ^= mixBlock(k);
        h = rotl(h, 13);
        h = h * 5 + 0xe6546b64u;
    }
    const unsigned char* tail = data + blocks * 4;
    uint32_t k = 0;
    switch (bytes.size() & 3) {
    case 3:
        k ^= static_cast<uint32_t>(tail[2]) << 16;
        [[fallthrough]];
    case 2:
        k ^= static_cast<uint32_t>(tail[1]) << 8;
        [[fallthrough]];
    case 1:
        k ^= tail[0];
        h ^= mixBlock(k);
    }
    h ^= static_cast<uint32_t>(bytes.size());
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    h *= 0xc2b2ae35u;
    h ^= h >> 16;
    return h;
}

uint32_t storableId(uint32_t hash) {
    const uint32_t exponent = (hash >> 23) & 0xffu;
    return exponent == 0 || exponent == 0xff ? hash ^ (1u << 23) : hash;
}

uint32_t cryptomatteId(std::string_view name) {
    return storableId(murmurHash3(name));
}

uint32_t surfaceId(const scene::SurfaceEntry& surface) {
    return surface.id ? storableId(*surface.id) : cryptomatteId(surface.name);
}

std::vector<CryptomatteLayer>
cryptomatteLayers(const std::map<std::string, std::string>& attributes,
                  const std::vector<std::string>& channels) {
    // Keys by their own prefix; a key written both ways is read unprefixed.
    std::map<std::string, std::string> prefixes;
    for (const auto& [attribute, value] : attributes) {
        const bool rewritten = attribute.compare(0, 4, "exr/") == 0;
        const std::string rest = rewritten ? attribute.substr(4) : attribute;
        if (rest.compare(0, 12, "cryptomatte/") != 0)
            continue;
        const size_t slash = rest.find('/', 12);
        if (slash == std::string::npos)
            continue;
        const std::string key = rest.substr(12, slash - 12);
        const std::string prefix = attribute.substr(0, attribute.size() - rest.size() + slash + 1);
        if (!prefixes.count(key) || !rewritten)
            prefixes[key] = prefix;
    }
    std::vector<CryptomatteLayer> layers;
    for (const auto& keyAndPrefix : prefixes) {
        const std::string& prefix = keyAndPrefix.second;
        CryptomatteLayer layer;
        layer.metadata = prefix;
        const auto value = [&](const char* field) -> const std::string* {
            auto found = attributes.find(prefix + field);
            return found == attributes.end() ? nullptr : &found->second;
        };
        const auto require = [&](const char* field, const char* wanted) {
            const std::string* v = value(field);
            if (!layer.problem.empty())
                return;
            if (v == nullptr)
                layer.problem = "metadata " + core::inQuotes(prefix + field, '\'') + " is missing";
            else if (wanted != nullptr && *v != wanted)
                layer.problem = "metadata " + core::inQuotes(prefix + field, '\'') + " is " +
                                core::inQuotes(*v, '\'') + ", not " + wanted;
        };
        require("name", nullptr);
        if (const std::string* name = value("name"))
            layer.name = *name;
        require("hash", "MurmurHash3_32");
        require("conversion", "uint32_to_float32");
        if (const std::string* manifest = value("manifest"))
            layer.manifest = *manifest;
        if (const std::string* file = value("manif_file"))
            layer.manifestFile = *file;
        if (layer.problem.empty() && layer.name.empty())
            layer.problem = "metadata " + core::inQuotes(prefix + "name", '\'') + " is empty";
        if (layer.problem.empty())
            findLevels(layer, channels);
        layers.push_back(std::move(layer));
    }
    return layers;
}

bool isObjectLayer(const std::string& name) {
    const std::string last = lower(name.substr(name.rfind('.') + 1));
    return last == "cryptoobject" || last == "crypto_object";
}

std::vector<std::string> undeclaredCryptomatte(const std::vector<std::string>& channels) {
    std::vector<std::string> found;
    for (const std::string& channel : channels) {
        const std::string c = lower(channel);
        if (c.size() > 4 && c.compare(c.size() - 4, 4, "00.r") == 0 &&
            c.find("crypto") != std::string::npos)
            found.push_back(channel);
    }
    return found;
}

CryptomatteNames layerNames(const CryptomatteLayer& layer, const std::string& imageFolder) {
    std::string key = layer.metadata + "manifest", text = layer.manifest, where;
    if (text.empty() && !layer.manifestFile.empty()) {
        key = layer.metadata + "manif_file";
        const std::filesystem::path relative(layer.manifestFile);
        for (const auto& part : relative)
            if (part == "..")
                throw core::AppError("metadata " + core::inQuotes(key, '\'') + " " +
                                     core::inQuotes(layer.manifestFile, '\'') +
                                     " leaves the image's folder");
        if (relative.is_absolute())
            throw core::AppError("metadata " + core::inQuotes(key, '\'') + " " +
                                 core::inQuotes(layer.manifestFile, '\'') +
                                 " is not relative to the image");
        const std::string path = (std::filesystem::path(imageFolder) / relative).string();
        // A link is followed before the check, so that none leads out.
        std::error_code ec, folderEc;
        const auto real = std::filesystem::canonical(path, ec);
        const auto folder = std::filesystem::canonical(imageFolder, folderEc);
        const auto inside = real.lexically_relative(folder);
        if (!ec && !folderEc && (inside.empty() || *inside.begin() == ".."))
            throw core::AppError("metadata " + core::inQuotes(key, '\'') + " " +
                                 core::inQuotes(layer.manifestFile, '\'') +
                                 " leaves the image's folder (it is a link to " +
                                 core::inQuotes(real.string(), '\'') + ")");
        where = " (" + core::inQuotes(path, '\'') + ")";
        text = files::readRegularFile(path, "metadata " + core::inQuotes(key, '\'') + where,
                                      files::kManifestLimit);
    } else if (text.empty()) {
        throw core::AppError("Cryptomatte " + core::inQuotes(layer.name, '\'') +
                             " has no manifest (metadata " +
                             core::inQuotes(layer.metadata + "manifest", '\'') +
                             " or manif_file) to name its "
                             "objects");
    }
    try {
        CryptomatteNames names = parseManifest(text);
        // A surface is named to the module by a C string.
        for (const auto& entry : names)
            if (entry.first.find('\0') != std::string::npos)
                throw std::runtime_error("object " +
                                         core::inQuotes(core::printableLine(entry.first), '\'') +
                                         " has a NUL byte in its name, which no surface name "
                                         "may hold");
        return names;
    } catch (const std::runtime_error& e) {
        throw core::AppError("metadata " + core::inQuotes(key, '\'') + where + ": " + e.what());
    }
}

namespace {

// The bits of a stored id.
uint32_t idBits(float id) {
    uint32_t bits;
    std::memcpy(&bits, &id, sizeof bits);
    return bits;
}

} // namespace

std::vector<uint8_t> rankZeroValues(const std::vector<float>& ids,
                                    const std::vector<scene::SurfaceEntry>& surfaces,
                                    std::set<uint32_t>* held) {
    std::unordered_map<uint32_t, uint8_t> values;
    for (const scene::SurfaceEntry& surface : surfaces)
        values.emplace(surfaceId(surface), static_cast<uint8_t>(surface.special));
    std::vector<uint8_t> out(ids.size(), 0);
    // Neighbouring pixels mostly hold one object: look each run up once.
    uint32_t last = 0;
    uint8_t lastValue = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        const uint32_t bits = idBits(ids[i]);
        if (bits != last) {
            const auto found = values.find(bits);
            last = bits;
            lastValue = found == values.end() ? 0 : found->second;
            if (held != nullptr && found != values.end())
                held->insert(bits);
        }
        out[i] = bits == 0 ? 0 : lastValue;
    }
    return out;
}

RankZeroObjects rankZeroObjects(const CryptomatteLayer& layer, const std::vector<float>& ids,
                                int32_t width, const std::string& imagePath,
                                const std::string& where) {
    RankZeroObjects out;
    // The ids are the objects: a manifest only names them, and one that
    // cannot be read leaves them unnamed.
    try {
        out.names = layerNames(layer, std::filesystem::path(imagePath).parent_path().string());
    } catch (const core::AppError& e) {
        out.manifestProblem = where + ": " + e.what();
    }
    std::set<std::string> named;
    for (const auto& entry : out.names)
        if (!named.insert(entry.first).second)
            throw core::AppError(where + ": the manifest of Cryptomatte " +
                                 inQuotes(layer.name, '\'') + " names " +
                                 inQuotes(entry.first, '\'') + " twice");
    out.ids.resize(ids.size());
    std::transform(ids.begin(), ids.end(), out.ids.begin(), idBits);
    out.width = width;
    return out;
}

void addRankZeroObjects(const RankZeroObjects& objects, scene::HeldObjects& held) {
    std::unordered_map<uint32_t, const std::string*> named;
    for (const auto& [name, id] : objects.names)
        named.emplace(id, &name);
    uint32_t last = 0;
    for (const uint32_t id : objects.ids) {
        if (id == 0 || id == last)
            continue;
        last = id;
        const auto found = named.find(id);
        std::string& name = held[id];
        if (name.empty() && found != named.end())
            name = *found->second;
    }
}

std::vector<std::string> namesNotHashed(const CryptomatteNames& names) {
    std::vector<std::string> differ;
    for (const auto& [name, id] : names)
        if (id != cryptomatteId(name))
            differ.push_back(name);
    return differ;
}

} // namespace orvit::passes
