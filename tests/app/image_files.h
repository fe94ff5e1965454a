// Writes test images channel by channel, each channel in its own stored type,
// so that tests can build any pass file a renderer might hand over.
#pragma once

#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace apptest {

struct Channel {
    std::string name;
    OIIO::TypeDesc type;
    std::vector<double> values; // width x height, row-major, stored by value
};

inline void storeValue(double v, OIIO::TypeDesc type, unsigned char* out) {
    auto put = [&](auto x) { std::memcpy(out, &x, sizeof x); };
    switch (type.basetype) {
    case OIIO::TypeDesc::UINT8:
        put(static_cast<uint8_t>(v));
        break;
    case OIIO::TypeDesc::UINT16:
        put(static_cast<uint16_t>(v));
        break;
    case OIIO::TypeDesc::UINT32:
        put(static_cast<uint32_t>(v));
        break;
    case OIIO::TypeDesc::INT32:
        put(static_cast<int32_t>(v));
        break;
    default: {
        // Floating types convert without scaling.
        const float f = static_cast<float>(v);
        OIIO::convert_pixel_values(OIIO::TypeDesc::FLOAT, &f, type, out, 1);
    }
    }
}

inline void writeChannels(const std::string& path, int width, int height,
                          const std::vector<Channel>& channels) {
    OIIO::ImageSpec spec(width, height, static_cast<int>(channels.size()), channels[0].type);
    spec.channelnames.clear();
    size_t pixelBytes = 0;
    for (const Channel& c : channels) {
        spec.channelnames.push_back(c.name);
        spec.channelformats.push_back(c.type);
        pixelBytes += c.type.size();
    }
    spec.alpha_channel = -1;
    for (size_t i = 0; i < channels.size(); ++i)
        if (channels[i].name == "A")
            spec.alpha_channel = static_cast<int>(i);
    spec.attribute("oiio:UnassociatedAlpha", 1); // store colour as given
    std::vector<unsigned char> data(pixelBytes * width * height);
    for (int i = 0; i < width * height; ++i) {
        unsigned char* p = data.data() + i * pixelBytes;
        for (const Channel& c : channels) {
            storeValue(c.values.at(i), c.type, p);
            p += c.type.size();
        }
    }
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, spec) || !out->write_image(OIIO::TypeDesc::UNKNOWN, data.data()) ||
        !out->close())
        throw std::runtime_error("test image " + path + ": " + OIIO::geterror());
}

} // namespace apptest
