// Frames as a renderer writes a Cryptomatte beside its colour and depth: no
// object index, objects known by name. The ids are the ones the Cryptomatte
// specification and a real Blender render give for these names, not ones
// computed by the code under test.
#pragma once

#include "tests/support/image_files.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct NamedObject {
    const char* name;
    uint32_t id; // the stored id, as float bits
};

// "torus" and "равнина" from the Cryptomatte format's examples; "Cube" from
// Blender's manifest.
const NamedObject kTorus{"torus", 4053562365u};
const NamedObject kPlain{"\xd1\x80\xd0\xb0\xd0\xb2\xd0\xbd\xd0\xb8\xd0\xbd\xd0\xb0", 2518896926u};
const NamedObject kCube{"Cube", 0xa8fce865u};

inline double idValue(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// A box of one object at one depth. Where boxes overlap, the later has the
// most coverage (rank 0, 0.6) and the earlier the rest (rank 1, 0.4).
struct NamedBox {
    NamedObject object;
    int x0, y0, x1, y1; // inclusive-exclusive
    double depth;
};

struct CryptomatteFrame {
    std::string layer = "ViewLayer.CryptoObject";
    std::string key = "542cafa";
    std::string prefix = "cryptomatte/";
    int levels = 1;                              // NN layers of two ranks each
    std::map<std::string, std::string> metadata; // replaces or adds keys after KEY/
    bool manifest = true;                        // the manifest of every box's object
    // Channels whose names begin so are left out ("ViewLayer.Depth"), the
    // Cryptomatte's metadata with its own.
    std::vector<std::string> leaveOut;
    // Instead of the Cryptomatte, an object index channel: the value of the
    // name with the most coverage, 0 for none or a name not listed.
    std::map<std::string, int> indexOf;
    // The colour's and the Cryptomatte's channel letters, as a compositor
    // may spell them out ("red", ...).
    std::array<std::string, 4> letters{"R", "G", "B", "A"};
    // A second Cryptomatte of the same objects (a material layer, say),
    // declared under key "c0ffee0"; empty: none.
    std::string alsoLayer;
    // The Cryptomatte's channels in 16-bit half floats, too few bits for ids.
    bool half = false;
};

inline std::string manifestOf(const std::vector<NamedBox>& boxes) {
    std::string json = "{";
    for (const NamedBox& b : boxes) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", b.object.id);
        if (json.find(std::string("\"") + b.object.name + "\"") != std::string::npos)
            continue;
        json +=
            (json.size() > 1 ? "," : "") + std::string("\"") + b.object.name + "\":\"" + hex + "\"";
    }
    return json + "}";
}

// Colour, depth (1e10 where no box is) and the Cryptomatte, float, in one
// multilayer EXR, less the channels left out.
inline void writeCryptomatteFrame(const std::string& path, int width, int height,
                                  const std::vector<NamedBox>& boxes,
                                  const CryptomatteFrame& frame = {}) {
    const auto f32 = OIIO::TypeDesc::FLOAT;
    std::vector<Channel> c;
    for (const std::string& letter : frame.letters)
        c.push_back({"ViewLayer.Combined." + letter, f32, {}});
    c.push_back({"ViewLayer.Depth.Z", f32, {}});
    const bool index = !frame.indexOf.empty();
    if (index)
        c.push_back({"ViewLayer.IndexOB.X", f32, {}});
    std::vector<std::string> layers = {frame.layer};
    if (!frame.alsoLayer.empty())
        layers.push_back(frame.alsoLayer);
    for (const std::string& layer : layers)
        for (int level = 0; level < (index ? 0 : frame.levels); ++level)
            for (const std::string& letter : frame.letters)
                c.push_back({layer + (level < 10 ? "0" : "") + std::to_string(level) + "." + letter,
                             frame.half ? OIIO::TypeDesc::HALF : f32,
                             {}});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const NamedBox *top = nullptr, *under = nullptr;
            for (const NamedBox& b : boxes)
                if (x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1) {
                    under = top;
                    top = &b;
                }
            std::vector<double> v = {top ? 2.0 : 0.1, top ? 0.5 : 0.2, top ? 0.25 : 0.3, 1.0,
                                     top ? top->depth : 1e10};
            if (index) {
                const auto found = top ? frame.indexOf.find(top->object.name) : frame.indexOf.end();
                v.push_back(found == frame.indexOf.end() ? 0 : found->second);
            }
            for (size_t layer = 0; layer < (index ? 0 : layers.size()); ++layer) {
                v.push_back(top ? idValue(top->object.id) : 0.0);
                v.push_back(top ? (under ? 0.6 : 1.0) : 0.0);
                v.push_back(under ? idValue(under->object.id) : 0.0);
                v.push_back(under ? 0.4 : 0.0);
                for (int extra = 4; extra < frame.levels * 4; ++extra)
                    v.push_back(0.0);
            }
            for (size_t i = 0; i < c.size(); ++i)
                c[i].values.push_back(v[i]);
        }
    std::map<std::string, std::string> meta = {
        {"name", frame.layer}, {"hash", "MurmurHash3_32"}, {"conversion", "uint32_to_float32"}};
    if (frame.manifest)
        meta["manifest"] = manifestOf(boxes);
    for (const auto& [key, value] : frame.metadata)
        meta[key] = value;
    const auto leftOut = [&](const Channel& channel) {
        for (const std::string& start : frame.leaveOut)
            if (channel.name.rfind(start, 0) == 0)
                return true;
        return false;
    };
    const bool layerWritten = std::any_of(c.begin(), c.end(), [&](const Channel& channel) {
        return channel.name.rfind(frame.layer, 0) == 0 && !leftOut(channel);
    });
    c.erase(std::remove_if(c.begin(), c.end(), leftOut), c.end());
    std::vector<std::pair<std::string, std::string>> attributes;
    for (const auto& [key, value] : meta)
        if (value != "(absent)" && layerWritten) {
            attributes.push_back({frame.prefix + frame.key + "/" + key, value});
            if (!frame.alsoLayer.empty())
                attributes.push_back(
                    {frame.prefix + "c0ffee0/" + key, key == "name" ? frame.alsoLayer : value});
        }
    writeChannels(path, width, height, c, {}, attributes);
}

} // namespace testsupport
