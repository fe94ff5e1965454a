// Writes test images channel by channel, each channel in its own stored type,
// so that tests can build any pass file a renderer might hand over.
#pragma once

#include <OpenImageIO/imageio.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct Channel {
    std::string name;
    OIIO::TypeDesc type;
    std::vector<double> values; // width x height, row-major, stored by value
};

// Stores `v` as the first of `Ints` that is `type`; false when none is.
template <typename... Ints> bool storeInteger(double v, OIIO::TypeDesc type, unsigned char* out) {
    const auto store = [&](auto x) {
        std::memcpy(out, &x, sizeof x);
        return true;
    };
    return ((type.basetype == OIIO::BaseTypeFromC<Ints>::value && store(static_cast<Ints>(v))) ||
            ...);
}

// Integer types store the value itself (OpenImageIO's conversion would scale
// it to the type's range); floating types convert without scaling. Its int8
// is `char`.
inline void storeValue(double v, OIIO::TypeDesc type, unsigned char* out) {
    if (storeInteger<uint8_t, char, uint16_t, int16_t, uint32_t, int32_t>(v, type, out))
        return;
    const float f = static_cast<float>(v);
    OIIO::convert_pixel_values(OIIO::TypeDesc::FLOAT, &f, type, out, 1);
}

// How the samples lie in the file, where its format offers a choice: tiles
// of `tile` pixels square rather than scanlines, and each channel in a plane
// of its own (TIFF) rather than interleaved.
// An EXR's pixel data may cover another window than its frame: `data`
// places the width x height samples given at (x, y) of a display window
// `display` (x, y, width, height; width 0: the data window).
struct Layout {
    int tile = 0;
    bool planes = false;
    std::array<int, 2> data{0, 0};
    std::array<int, 4> display{0, 0, 0, 0};
};

// The image description of one image (or part) of `channels`, its pixels into `data`.
inline OIIO::ImageSpec channelsSpec(int width, int height, const std::vector<Channel>& channels,
                                    Layout layout, std::vector<unsigned char>& data) {
    OIIO::ImageSpec spec(width, height, static_cast<int>(channels.size()), channels[0].type);
    spec.tile_width = spec.tile_height = layout.tile;
    spec.x = layout.data[0];
    spec.y = layout.data[1];
    if (layout.display[2] > 0) {
        spec.full_x = layout.display[0];
        spec.full_y = layout.display[1];
        spec.full_width = layout.display[2];
        spec.full_height = layout.display[3];
    } else {
        spec.full_x = spec.x;
        spec.full_y = spec.y;
    }
    if (layout.planes)
        spec.attribute("planarconfig", "separate");
    // A half channel stays half in a TIFF (OpenImageIO writes floats else).
    spec.attribute("tiff:half", 1);
    spec.channelnames.clear();
    size_t pixelBytes = 0;
    bool mixed = false;
    for (const Channel& c : channels) {
        spec.channelnames.push_back(c.name);
        pixelBytes += c.type.size();
        mixed = mixed || c.type != channels[0].type;
    }
    // Types per channel only where they differ: formats that hold one type
    // for all (PNG, TIFF) are written wrongly by the library from them.
    if (mixed)
        for (const Channel& c : channels)
            spec.channelformats.push_back(c.type);
    spec.alpha_channel = -1;
    for (size_t i = 0; i < channels.size(); ++i)
        if (channels[i].name == "A")
            spec.alpha_channel = static_cast<int>(i);
    spec.attribute("oiio:UnassociatedAlpha", 1); // store colour as given
    data.assign(pixelBytes * width * height, 0);
    for (int i = 0; i < width * height; ++i) {
        unsigned char* p = data.data() + i * pixelBytes;
        for (const Channel& c : channels) {
            storeValue(c.values.at(i), c.type, p);
            p += c.type.size();
        }
    }
    return spec;
}

inline OIIO::TypeDesc writtenType(const std::vector<Channel>& channels) {
    for (const Channel& c : channels)
        if (c.type != channels[0].type)
            return OIIO::TypeDesc::UNKNOWN;
    return channels[0].type;
}

// `attributes` become text attributes of the header.
inline void writeChannels(const std::string& path, int width, int height,
                          const std::vector<Channel>& channels, Layout layout = {},
                          const std::vector<std::pair<std::string, std::string>>& attributes = {}) {
    std::vector<unsigned char> data;
    OIIO::ImageSpec spec = channelsSpec(width, height, channels, layout, data);
    for (const auto& [name, value] : attributes)
        spec.attribute(name, value);
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, spec) || !out->write_image(writtenType(channels), data.data()) ||
        !out->close())
        throw std::runtime_error("test image " + path + ": " + OIIO::geterror());
}

// One EXR of several parts, each named and holding its channels.
inline void writeParts(const std::string& path, int width, int height,
                       const std::vector<std::pair<std::string, std::vector<Channel>>>& parts) {
    std::vector<OIIO::ImageSpec> specs;
    std::vector<std::vector<unsigned char>> data(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        specs.push_back(channelsSpec(width, height, parts[i].second, {}, data[i]));
        specs.back().attribute("oiio:subimagename", parts[i].first);
    }
    auto out = OIIO::ImageOutput::create(path);
    bool ok = out && out->open(path, static_cast<int>(specs.size()), specs.data());
    for (size_t i = 0; ok && i < parts.size(); ++i)
        ok = (i == 0 || out->open(path, specs[i], OIIO::ImageOutput::AppendSubimage)) &&
             out->write_image(writtenType(parts[i].second), data[i].data());
    if (!ok || !out->close())
        throw std::runtime_error("test image " + path + ": " + OIIO::geterror());
}

// The bytes of an 8-bit image as the second image library reads them,
// colour as stored, not multiplied by alpha.
inline std::vector<uint8_t> readBytes(const std::string& path) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in)
        throw std::runtime_error("test image " + path + ": " + OIIO::geterror());
    const OIIO::ImageSpec& spec = in->spec();
    std::vector<uint8_t> rgba(static_cast<size_t>(spec.width) * spec.height * spec.nchannels);
    if (!in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::UINT8, rgba.data()))
        throw std::runtime_error("test image " + path + ": " + in->geterror());
    return rgba;
}

// `path`, a ZIP-compressed OpenEXR file as writeChannels writes it, with its
// header's data and display windows made to claim `w` x `h` pixels and
// zeros appended where the claimed blocks' offsets would be (16 lines a
// block): the library opens it, and its pixel data stays as small as it was.
inline void claimSize(const std::string& path, int32_t w, int32_t h) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (const std::string name : {"dataWindow", "displayWindow"}) {
        const std::string key = name + std::string("\0box2i\0", 7);
        const size_t at = bytes.find(key);
        if (at == std::string::npos)
            throw std::runtime_error(path + ": no " + name);
        const int32_t box[4] = {0, 0, w - 1, h - 1};
        bytes.replace(at + key.size() + 4, sizeof box, reinterpret_cast<const char*>(box),
                      sizeof box);
    }
    bytes.append(static_cast<size_t>(h + 15) / 16 * 8, '\0');
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace testsupport
