#include "orvit/passes/cryptomatte.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/files/paths.h"
#include "orvit/images/image_input.h"

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

// A strict reader of the one JSON object a manifest is.
class ManifestReader {
  public:
    explicit ManifestReader(std::string_view text) : text_(text) {}

    CryptomatteNames read() {
        CryptomatteNames names;
        expect('{');
        if (!take('}')) {
            do {
                std::string name = string();
                expect(':');
                const size_t at = pos_;
                names.emplace_back(std::move(name), storableId(hexId(string(), at)));
            } while (take(','));
            expect('}');
        }
        blanks();
        if (pos_ != text_.size())
            fail("text after the manifest's object");
        return names;
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;

    [[noreturn]] void fail(const std::string& what, size_t at) const {
        throw std::runtime_error("not a JSON object of names to ids: at byte " +
                                 std::to_string(at) + ", " + what);
    }
    [[noreturn]] void fail(const std::string& what) const { fail(what, pos_); }

    void blanks() {
        while (pos_ < text_.size() && text_[pos_] != 0 && std::strchr(" \t\r\n", text_[pos_]))
            ++pos_;
    }

    bool take(char c) {
        blanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    void expect(char c) {
        if (!take(c))
            fail(pos_ < text_.size() ? std::string("expected '") + c + "'"
                                     : std::string("the text ends where '") + c + "' should be");
    }

    unsigned hex4() {
        if (text_.size() - pos_ < 4)
            fail("a \\u escape is cut short");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                fail("a \\u escape needs 4 hex digits");
            v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                   ? c - '0'
                                                   : std::tolower(c) - 'a' + 10);
        }
        return v;
    }

    static void utf8(unsigned code, std::string& out) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // The escape after a backslash, as UTF-8 onto `out`.
    void escape(std::string& out) {
        if (pos_ >= text_.size())
            fail("the text ends inside a string");
        const char c = text_[pos_++];
        static const char from[] = "\"\\/bfnrt", to[] = "\"\\/\b\f\n\r\t";
        if (const char* known = c ? std::strchr(from, c) : nullptr) {
            out += to[known - from];
            return;
        }
        if (c != 'u')
            fail(std::string("unknown escape \\") + c, pos_ - 1);
        unsigned code = hex4();
        if (code >= 0xDC00 && code <= 0xDFFF)
            fail("a \\u escape is a lone low surrogate");
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (text_.substr(pos_, 2) != "\\u")
                fail("a high surrogate without its low one");
            pos_ += 2;
            const unsigned low = hex4();
            if (low < 0xDC00 || low > 0xDFFF)
                fail("a high surrogate without its low one");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        utf8(code, out);
    }

    // Well-formed UTF-8: shortest forms, no surrogates, nothing past U+10FFFF.
    static bool validUtf8(const std::string& text) {
        for (size_t i = 0; i < text.size();) {
            const auto lead = static_cast<unsigned char>(text[i]);
            const int extra = lead < 0x80                   ? 0
                              : lead >= 0xC2 && lead < 0xE0 ? 1
                              : lead >= 0xE0 && lead < 0xF0 ? 2
                              : lead >= 0xF0 && lead < 0xF5 ? 3
                                                            : -1;
            if (extra < 0 || text.size() - i <= static_cast<size_t>(extra))
                return false;
            uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
            for (int k = 1; k <= extra; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0) != 0x80)
                    return false;
                code = code << 6 | (next & 0x3F);
            }
            static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
            if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                return false;
            i += static_cast<size_t>(extra) + 1;
        }
        return true;
    }

    std::string string() {
        blanks();
        if (pos_ >= text_.size() || text_[pos_] != '"')
            fail("expected a string");
        const size_t start = pos_++;
        std::string out;
        for (;;) {
            if (pos_ >= text_.size())
                fail("the text ends inside a string");
            const char c = text_[pos_++];
            if (c == '"') {
                if (!validUtf8(out))
                    fail("a string that is not UTF-8", start);
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                fail("a control character inside a string", pos_ - 1);
            if (c == '\\')
                escape(out);
            else
                out += c;
        }
    }

    uint32_t hexId(const std::string& text, size_t at) const {
        if (text.size() != 8 ||
            text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            fail("the id " + core::inQuotes(text, '\'') + " is not 8 hex digits", at);
        return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
    }
};

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

CryptomatteNames parseManifest(std::string_view json) {
    return ManifestReader(json).read();
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

uint32_t idBits(float id) {
    uint32_t bits;
    std::memcpy(&bits, &id, sizeof bits);
    return bits;
}

std::vector<uint8_t> rankZeroValues(const std::vector<float>& ids,
                                    const std::unordered_map<uint32_t, uint8_t>& values,
                                    std::set<uint32_t>* held) {
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

} // namespace orvit::passes
