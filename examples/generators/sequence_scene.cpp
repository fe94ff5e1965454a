// Writes a scene of any length and size for timing long sequences: per frame
// a colour pass (RGBA PNG), a special pass (grey PNG) and a depth pass (float
// EXR), and scene.toml with one glow in each mode. A disc with special value
// 1 crosses the frame from left to right as it nears the camera; twelve small
// boxes with values 1 to 4 stand still at depths 10 to 175.
//
//   sequence_scene FOLDER FRAMES [WIDTH HEIGHT] [--exr]  (default 1920 x 1080)
//
// With --exr each frame is instead one multilayer EXR as a path tracer writes
// it: six float channels (linear colour with alpha, depth and object index,
// under layer names), ZIP-compressed, the colour carrying per-pixel sampling
// noise so that it compresses as a real render does.
//
// The images go to FOLDER/passes, frames 1 to FRAMES; the scene renders to
// FOLDER/out.
#include "mode_settings.h"
#include "multilayer_names.h"
#include "shaded_background.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool write(const std::string& path, int w, int h, int channels, OIIO::TypeDesc type,
           const void* data) {
    OIIO::ImageSpec spec(w, h, channels, type);
    if (channels == 1 && type == OIIO::TypeDesc::FLOAT) {
        spec.channelnames = {"Z"};
        spec.attribute("compression", "zip");
    }
    if (channels == 4)
        spec.attribute("oiio:UnassociatedAlpha", 1);
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, spec) || !out->write_image(type, data) || !out->close()) {
        std::fprintf(stderr, "sequence_scene: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

std::string name(const fs::path& folder, const char* pass, int frame, const char* ext) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", frame);
    return (folder / (std::string(pass) + "." + number + ext)).string();
}

// Linear light from an 8-bit shade, times 1 plus sampling noise: each pixel's
// own, about 15% (a sum of three uniform draws from a hash of frame, pixel
// and channel), as a path tracer leaves it at a moderate sample count.
float noisyLinear(uint8_t shade, int frame, size_t pixel, int channel) {
    uint32_t x = static_cast<uint32_t>(pixel) * 2654435761u ^
                 static_cast<uint32_t>(frame * 4 + channel) * 2246822519u;
    double sum = 0.0;
    for (int k = 0; k < 3; ++k) {
        x ^= x >> 15;
        x *= 2246822519u;
        x ^= x >> 13;
        x *= 3266489917u;
        x ^= x >> 16;
        sum += static_cast<double>(x) / 4294967296.0;
    }
    const double linear = std::pow(shade / 255.0, 2.2);
    return static_cast<float>(linear * (1.0 + 0.3 * (sum - 1.5)));
}

// The frame as one multilayer EXR, the names and layout a path tracer uses.
bool writeMultilayer(const std::string& path, int frame, int w, int h,
                     const std::vector<uint8_t>& rgba, const std::vector<uint8_t>& special,
                     const std::vector<float>& depth) {
    const size_t n = static_cast<size_t>(w) * h;
    std::vector<float> pixels(n * 6);
    for (size_t i = 0; i < n; ++i) {
        float* p = &pixels[i * 6];
        for (int c = 0; c < 3; ++c)
            p[c] = noisyLinear(rgba[i * 4 + c], frame, i, c);
        p[3] = 1.0f;
        p[4] = static_cast<float>(special[i]);
        p[5] = depth[i];
    }
    OIIO::ImageSpec spec(w, h, 6, OIIO::TypeDesc::FLOAT);
    spec.channelnames = {kCombined[0], kCombined[1], kCombined[2], kCombined[3], kIndexOB, kDepthZ};
    spec.alpha_channel = 3;
    spec.attribute("compression", "zip");
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, spec) || !out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) ||
        !out->close()) {
        std::fprintf(stderr, "sequence_scene: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool writeFrame(const fs::path& folder, int frame, int frames, int w, int h, bool exr) {
    const size_t n = static_cast<size_t>(w) * h;
    std::vector<uint8_t> rgba(n * 4), special(n, 0);
    std::vector<float> depth(n, 1e10f);
    paintShadedBackground(rgba, w, h);
    // The disc: from a quarter to three quarters of the width, from depth 40
    // to 10, its radius a seventh of the height.
    const double t = frames > 1 ? static_cast<double>(frame - 1) / (frames - 1) : 0.0;
    const int cx = static_cast<int>(w * (0.25 + 0.5 * t)), cy = h / 2, radius = h / 7;
    const float near = static_cast<float>(40.0 - 30.0 * t);
    for (int y = cy - radius; y <= cy + radius; ++y)
        for (int x = cx - radius; x <= cx + radius; ++x) {
            const int dx = x - cx, dy = y - cy;
            if (x < 0 || y < 0 || x >= w || y >= h || dx * dx + dy * dy > radius * radius)
                continue;
            const size_t i = static_cast<size_t>(y) * w + x;
            special[i] = 1;
            depth[i] = near + 0.01f * static_cast<float>(dy + radius);
            rgba[i * 4] = 200;
            rgba[i * 4 + 1] = 180;
            rgba[i * 4 + 2] = 120;
        }
    const int box = std::max(2, h / 27);
    for (int k = 0; k < 12; ++k) {
        const int x0 = w / 24 + (k % 6) * w / 6, y0 = h / 18 + (k / 6) * (h * 3 / 4);
        for (int y = y0; y < y0 + box && y < h; ++y)
            for (int x = x0; x < x0 + box && x < w; ++x) {
                const size_t i = static_cast<size_t>(y) * w + x;
                special[i] = static_cast<uint8_t>(1 + k % 4);
                depth[i] = 10.0f + 15.0f * static_cast<float>(k);
            }
    }
    if (exr)
        return writeMultilayer(name(folder, "render", frame, ".exr"), frame, w, h, rgba, special,
                               depth);
    return write(name(folder, "colour", frame, ".png"), w, h, 4, OIIO::TypeDesc::UINT8,
                 rgba.data()) &&
           write(name(folder, "special", frame, ".png"), w, h, 1, OIIO::TypeDesc::UINT8,
                 special.data()) &&
           write(name(folder, "depth", frame, ".exr"), w, h, 1, OIIO::TypeDesc::FLOAT,
                 depth.data());
}

} // namespace

int main(int argc, char** argv) {
    const bool exr = argc > 1 && std::string(argv[argc - 1]) == "--exr";
    if (exr)
        --argc;
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: sequence_scene FOLDER FRAMES [WIDTH HEIGHT] [--exr]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const int frames = std::atoi(argv[2]);
    const int w = argc == 5 ? std::atoi(argv[3]) : 1920;
    const int h = argc == 5 ? std::atoi(argv[4]) : 1080;
    if (frames < 1 || frames > 9999 || w < 8 || h < 8 || w > 16384 || h > 16384) {
        std::fprintf(stderr, "sequence_scene: frames 1 to 9999, sizes 8 to 16384\n");
        return 2;
    }
    std::error_code ec;
    fs::create_directories(folder / "passes", ec);
    for (int frame = 1; frame <= frames; ++frame)
        if (!writeFrame(folder / "passes", frame, frames, w, h, exr))
            return 1;
    std::ofstream scene(folder / "scene.toml");
    scene << "# " << frames << " frames of " << w << " x " << h << " made by sequence_scene\n"
          << "[camera]\nfov = 60\n[frames]\nfirst = 1\nlast = " << frames << "\nrate = 24\n"
          << "[passes]\n";
    if (exr)
        scene << "file = 'passes/render.####.exr'\ncolour_channels = ['" << kCombined[0] << "', '"
              << kCombined[1] << "', '" << kCombined[2] << "', '" << kCombined[3] << "']\n"
              << "special_channel = '" << kIndexOB << "'\ndepth_channel = '" << kDepthZ << "'\n";
    else
        scene << "colour = 'passes/colour.####.png'\nspecial = 'passes/special.####.png'\n"
              << "depth = 'passes/depth.####.exr'\n";
    scene << "far_depth = 1e9\n"
          << "[output]\nfile = 'out/glow.####.png'\n"
          << "[filter]\nsettings = '''" << kOneSettingPerMode << "'''\n";
    if (!scene.flush()) {
        std::fprintf(stderr, "sequence_scene: cannot write %s\n", (folder / "scene.toml").c_str());
        return 1;
    }
    return 0;
}
