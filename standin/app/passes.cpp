#include "standin/app/passes.h"

#include "standin/app/app_error.h"
#include "standin/core/text.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace orvit::app {
namespace {

using standin::firstLine;
using standin::inQuotes;

// Some image format libraries print their own complaints to stderr before
// the image library reports the failure; the command's one line names the
// fault, so those are silenced while a pass is opened or read.
class QuietStderr {
  public:
    QuietStderr() {
        std::fflush(stderr);
        saved_ = dup(2);
        const int null = open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0)
            dup2(null, 2);
        if (null >= 0)
            close(null);
    }
    ~QuietStderr() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, 2);
            close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_ = -1;
};

// An opened pass file with its checked header.
struct OpenPass {
    std::string role; // "colour pass", ...
    std::string path;
    std::unique_ptr<OIIO::ImageInput> input;
    OIIO::ImageSpec spec;

    std::string where() const { return role + " " + inQuotes(path, '\''); }
    [[noreturn]] void fail(const std::string& what) const { throw AppError(where() + ": " + what); }

    std::string channelName(int c) const { return std::string(spec.channel_name(c)); }

    int channelNamed(const std::string& name) const {
        for (int c = 0; c < spec.nchannels; ++c)
            if (channelName(c) == name)
                return c;
        return -1;
    }

    [[noreturn]] void failChannel(const std::string& name) const {
        std::string names;
        for (int c = 0; c < spec.nchannels; ++c)
            names += (c ? ", " : "") + channelName(c);
        fail("no channel " + inQuotes(name, '\'') + " (the file has " + names + ")");
    }

    size_t pixelCount() const {
        return static_cast<size_t>(spec.width) * static_cast<size_t>(spec.height);
    }

    // Reads channels [begin, end) of the whole image as `type`, interleaved,
    // into `data`.
    void readChannels(int begin, int end, OIIO::TypeDesc type, void* data) {
        bool ok;
        {
            QuietStderr quiet;
            ok = input->read_image(0, 0, begin, end, type, data);
        }
        if (!ok) {
            const std::string message = input->geterror();
            fail("cannot read channel " + inQuotes(channelName(begin), '\'') +
                 (end - begin > 1 ? " and on" : "") + ": " + firstLine(message, "unknown error"));
        }
    }
    void readChannel(int c, OIIO::TypeDesc type, void* data) { readChannels(c, c + 1, type, data); }
};

OpenPass openPass(const std::string& role, const std::string& path) {
    OpenPass pass;
    pass.role = role;
    pass.path = path;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        pass.fail("no such file");
    // Colour and alpha are taken as stored, never multiplied together.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    {
        QuietStderr quiet;
        pass.input = OIIO::ImageInput::open(path, &config);
    }
    if (!pass.input)
        pass.fail("cannot read: " + firstLine(OIIO::geterror(), "unknown error"));
    pass.spec = pass.input->spec();
    const OIIO::ImageSpec& s = pass.spec;
    if (s.deep)
        pass.fail("deep images are not supported");
    if (s.depth > 1)
        pass.fail("volume images are not supported");
    if (s.width < 1 || s.height < 1 || s.nchannels < 1)
        pass.fail("the image holds no pixels");
    // The host numbers pixels from the frame's corner; an image whose pixels
    // are offset from its frame would shift every pass differently.
    if (s.x != 0 || s.y != 0 || s.width != s.full_width || s.height != s.full_height)
        pass.fail("the pixel data window differs from the display window");
    // Planes are indexed with 32-bit rows and columns by the host.
    if (s.width > (1 << 15) || s.height > (1 << 15))
        pass.fail("the image is larger than 32768 pixels on a side");
    return pass;
}

bool isFloating(OIIO::TypeDesc t) {
    return t.basetype == OIIO::TypeDesc::HALF || t.basetype == OIIO::TypeDesc::FLOAT ||
           t.basetype == OIIO::TypeDesc::DOUBLE;
}

// Float colour to 8 bits: clamp to 0..1, scale, round to nearest.
uint8_t quantise(float v) {
    if (!(v > 0.0f))
        return 0;
    if (v >= 1.0f)
        return 255;
    return static_cast<uint8_t>(static_cast<int>(v * 255.0f + 0.5f));
}

template <typename T> double loadAs(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<double>(v);
}

// Reads the colour channels in one pass over the file (a scanline format
// decodes the whole image for every read): the span of channels from the
// lowest chosen to the highest, as bytes when every chosen channel is 8-bit,
// else as floats rounded to bytes.
void readColourChannels(OpenPass& pass, const int* chosen, int count,
                        std::vector<uint8_t>* const* planes) {
    int lo = chosen[0], hi = chosen[0];
    bool bytes = true;
    for (int i = 0; i < count; ++i) {
        lo = std::min(lo, chosen[i]);
        hi = std::max(hi, chosen[i]);
        bytes = bytes && pass.spec.channelformat(chosen[i]) == OIIO::TypeDesc::UINT8;
    }
    const size_t n = pass.pixelCount();
    const size_t span = static_cast<size_t>(hi - lo + 1);
    for (int i = 0; i < count; ++i)
        planes[i]->assign(n, 0);
    if (bytes) {
        std::vector<uint8_t> all(n * span);
        pass.readChannels(lo, hi + 1, OIIO::TypeDesc::UINT8, all.data());
        for (int i = 0; i < count; ++i) {
            const size_t offset = static_cast<size_t>(chosen[i] - lo);
            uint8_t* out = planes[i]->data();
            for (size_t p = 0; p < n; ++p)
                out[p] = all[p * span + offset];
        }
        return;
    }
    std::vector<float> all(n * span);
    pass.readChannels(lo, hi + 1, OIIO::TypeDesc::FLOAT, all.data());
    for (int i = 0; i < count; ++i) {
        const size_t offset = static_cast<size_t>(chosen[i] - lo);
        uint8_t* out = planes[i]->data();
        for (size_t p = 0; p < n; ++p)
            out[p] = quantise(all[p * span + offset]);
    }
}

} // namespace

ColourPlanes readColourPass(const std::string& path, const ColourChannels& channels) {
    OpenPass pass = openPass("colour pass", path);
    const OIIO::ImageSpec& s = pass.spec;
    int r = -1, g = -1, b = -1, a = -1;
    if (!channels.empty()) {
        if (channels.size() != 3 && channels.size() != 4)
            pass.fail("colour channels must be 3 or 4 names");
        int* slots[4] = {&r, &g, &b, &a};
        for (size_t i = 0; i < channels.size(); ++i) {
            *slots[i] = pass.channelNamed(channels[i]);
            if (*slots[i] < 0)
                pass.failChannel(channels[i]);
        }
    } else if (pass.channelNamed("R") >= 0 && pass.channelNamed("G") >= 0 &&
               pass.channelNamed("B") >= 0) {
        r = pass.channelNamed("R");
        g = pass.channelNamed("G");
        b = pass.channelNamed("B");
        a = pass.channelNamed("A");
    } else if (s.nchannels <= 2) {
        r = g = b = 0; // grey
        a = s.nchannels == 2 ? 1 : -1;
    } else {
        r = 0;
        g = 1;
        b = 2;
        a = s.alpha_channel >= 0 ? s.alpha_channel : (s.nchannels >= 4 ? 3 : -1);
    }

    ColourPlanes planes;
    planes.width = s.width;
    planes.height = s.height;
    const int chosen[4] = {r, g, b, a};
    std::vector<uint8_t>* const targets[4] = {&planes.red, &planes.green, &planes.blue,
                                              &planes.alpha};
    readColourChannels(pass, chosen, a >= 0 ? 4 : 3, targets);
    if (a < 0)
        planes.alpha.assign(pass.pixelCount(), 255);
    return planes;
}

SpecialPlane readSpecialPass(const std::string& path, const std::string& channel) {
    OpenPass pass = openPass("special pass", path);
    int c = 0;
    if (!channel.empty()) {
        c = pass.channelNamed(channel);
        if (c < 0)
            pass.failChannel(channel);
    }
    SpecialPlane plane;
    plane.width = pass.spec.width;
    plane.height = pass.spec.height;
    const OIIO::TypeDesc type = pass.spec.channelformat(c);
    if (type == OIIO::TypeDesc::UINT8) {
        plane.values.assign(pass.pixelCount(), 0);
        pass.readChannel(c, OIIO::TypeDesc::UINT8, plane.values.data());
        return plane;
    }
    // Everything else goes through double, which holds every value of every
    // channel type exactly enough to tell 0..255 from the rest.
    std::vector<double> values(pass.pixelCount());
    if (isFloating(type)) {
        pass.readChannel(c, OIIO::TypeDesc::DOUBLE, values.data());
    } else {
        // Integer channels are converted by value, not scaled to 0..1.
        std::vector<unsigned char> bytes(pass.pixelCount() * type.size());
        pass.readChannel(c, type, bytes.data());
        for (size_t i = 0; i < values.size(); ++i) {
            const unsigned char* p = bytes.data() + i * type.size();
            switch (type.basetype) {
            case OIIO::TypeDesc::INT8:
                values[i] = loadAs<int8_t>(p);
                break;
            case OIIO::TypeDesc::UINT16:
                values[i] = loadAs<uint16_t>(p);
                break;
            case OIIO::TypeDesc::INT16:
                values[i] = loadAs<int16_t>(p);
                break;
            case OIIO::TypeDesc::UINT32:
                values[i] = loadAs<uint32_t>(p);
                break;
            case OIIO::TypeDesc::INT32:
                values[i] = loadAs<int32_t>(p);
                break;
            default:
                pass.fail("channel " + inQuotes(pass.channelName(c), '\'') + " has type " +
                          type.c_str() + ", which special values cannot be read from");
            }
        }
    }
    plane.values.assign(pass.pixelCount(), 0);
    for (size_t i = 0; i < values.size(); ++i) {
        const double rounded = std::round(values[i]);
        if (!(rounded >= 0.0 && rounded <= 255.0)) {
            std::ostringstream line;
            line << "channel " << inQuotes(pass.channelName(c), '\'') << " holds " << values[i]
                 << " at pixel (" << i % plane.width << ", " << i / plane.width
                 << "), outside the special values 0..255";
            pass.fail(line.str());
        }
        plane.values[i] = static_cast<uint8_t>(rounded);
    }
    return plane;
}

DepthPlane readDepthPass(const std::string& path, const std::string& channel, double farFrom) {
    OpenPass pass = openPass("depth pass", path);
    int c = 0;
    if (!channel.empty()) {
        c = pass.channelNamed(channel);
        if (c < 0)
            pass.failChannel(channel);
    } else if (pass.channelNamed("Z") >= 0) {
        c = pass.channelNamed("Z");
    }
    const OIIO::TypeDesc type = pass.spec.channelformat(c);
    if (!isFloating(type))
        pass.fail("channel " + inQuotes(pass.channelName(c), '\'') + " has type " + type.c_str() +
                  "; depth must be floating point");
    DepthPlane plane;
    plane.width = pass.spec.width;
    plane.height = pass.spec.height;
    plane.depths.assign(pass.pixelCount(), 0.0f);
    pass.readChannel(c, OIIO::TypeDesc::FLOAT, plane.depths.data());
    for (float& d : plane.depths)
        if (!(static_cast<double>(d) < farFrom))
            d = kHostFarDepth;
    return plane;
}

} // namespace orvit::app
