// Renders the demo scene's passes: per frame a colour image (RGBA PNG), a
// special-buffer image (8-bit grey PNG) and a depth image (float EXR, empty
// background at 1e10 as many renderers mark it). A few shapes at different
// depths; the comet crosses the frame from left to right and comes nearer.
//
//   demo_passes OUTPUT_FOLDER
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kFirstFrame = 1;
constexpr int kLastFrame = 6;
constexpr float kEmptyDepth = 1e10f;
// Pixels per scene unit at depth 1: width / (2 tan(fov / 2)) for 60 degrees.
const double kFocal = kWidth / (2.0 * std::tan(30.0 * 3.14159265358979323846 / 180.0));

struct Pixel {
    float depth = kEmptyDepth;
    uint8_t special = 0;
    double r = 0, g = 0, b = 0;
};

struct Frame {
    std::vector<Pixel> pixels{static_cast<size_t>(kWidth) * kHeight};
    Pixel& at(int x, int y) { return pixels[static_cast<size_t>(y) * kWidth + x]; }
    // Keeps the nearer of what is there and the new sample.
    void offer(int x, int y, float depth, uint8_t special, double r, double g, double b) {
        Pixel& p = at(x, y);
        if (depth < p.depth)
            p = Pixel{depth, special, r, g, b};
    }
};

// Light from the upper left, towards the viewer.
double lambert(double nx, double ny, double nz) {
    const double lx = -0.5, ly = -0.6, lz = 0.62;
    const double len = std::sqrt(lx * lx + ly * ly + lz * lz);
    return std::max(0.0, (nx * lx + ny * ly + nz * lz) / len);
}

void sky(Frame& f) {
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double t = static_cast<double>(y) / kHeight;
            Pixel& p = f.at(x, y);
            p.r = 0.05 + 0.10 * t;
            p.g = 0.06 + 0.12 * t;
            p.b = 0.16 + 0.20 * t;
        }
}

// A ground plane 1.5 units below the camera, from the horizon at row 200 down.
void ground(Frame& f) {
    const int horizon = 200;
    for (int y = horizon + 4; y < kHeight; ++y) {
        const double depth = 1.5 * kFocal / (y - horizon);
        const double shade = std::min(1.0, 6.0 / depth);
        for (int x = 0; x < kWidth; ++x)
            f.offer(x, y, static_cast<float>(depth), 0, 0.10 + 0.18 * shade, 0.09 + 0.14 * shade,
                    0.08 + 0.10 * shade);
    }
}

// A shaded sphere of radius `radius` scene units with its centre at depth
// `depth`, seen at pixel (cx, cy).
void sphere(Frame& f, double cx, double cy, double depth, double radius, uint8_t special, double r,
            double g, double b) {
    const double pr = radius * kFocal / depth; // radius in pixels
    for (int y = std::max(0, int(cy - pr)); y <= std::min(kHeight - 1, int(cy + pr) + 1); ++y)
        for (int x = std::max(0, int(cx - pr)); x <= std::min(kWidth - 1, int(cx + pr) + 1); ++x) {
            const double nx = (x + 0.5 - cx) / pr, ny = (y + 0.5 - cy) / pr;
            const double q = nx * nx + ny * ny;
            if (q > 1.0)
                continue;
            const double nz = std::sqrt(1.0 - q);
            const double light = 0.2 + 0.8 * lambert(nx, ny, nz);
            f.offer(x, y, static_cast<float>(depth - nz * radius), special, r * light, g * light,
                    b * light);
        }
}

// A box face turned a little away from the camera: depth grows to the right.
void crate(Frame& f) {
    for (int y = 120; y < 240; ++y)
        for (int x = 390; x < 530; ++x) {
            const double depth = 12.0 + (x - 390) * 0.02;
            const bool plank = ((y - 120) / 24) % 2 == 0;
            const double light = plank ? 0.85 : 0.7;
            f.offer(x, y, static_cast<float>(depth), 2, 0.55 * light, 0.36 * light, 0.18 * light);
        }
}

// A flat ring facing the camera.
void ring(Frame& f) {
    const double cx = 560, cy = 80, inner = 26, outer = 46;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            if (d >= inner && d <= outer)
                f.offer(x, y, 25.0f, 3, 0.35, 0.30, 0.55);
        }
}

Frame renderFrame(int frame) {
    Frame f;
    sky(f);
    ground(f);
    sphere(f, 170, 150, 10.0, 1.1, 1, 0.95, 0.85, 0.60); // the lamp
    crate(f);
    ring(f);
    // The comet: from the left edge to the right, from depth 12 to 6.
    const double u = static_cast<double>(frame - kFirstFrame) / (kLastFrame - kFirstFrame);
    sphere(f, 70 + 500 * u, 300 - 40 * u, 12.0 - 6.0 * u, 0.45, 4, 0.50, 0.85, 0.95);
    return f;
}

uint8_t toByte(double v) {
    return static_cast<uint8_t>(std::clamp(static_cast<int>(v * 255.0 + 0.5), 0, 255));
}

bool write(const std::string& path, const OIIO::ImageSpec& spec, OIIO::TypeDesc type,
           const void* data) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, spec) || !out->write_image(type, data) || !out->close()) {
        std::fprintf(stderr, "demo_passes: cannot write %s: %s\n", path.c_str(),
                     out ? out->geterror().c_str() : OIIO::geterror().c_str());
        return false;
    }
    return true;
}

std::string name(const std::string& folder, const char* pass, int frame, const char* ext) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", frame);
    return folder + "/" + pass + "." + number + ext;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demo_passes OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    for (int frame = kFirstFrame; frame <= kLastFrame; ++frame) {
        Frame f = renderFrame(frame);
        const size_t n = f.pixels.size();
        std::vector<uint8_t> rgba(n * 4), special(n);
        std::vector<float> depth(n);
        for (size_t i = 0; i < n; ++i) {
            const Pixel& p = f.pixels[i];
            rgba[i * 4] = toByte(p.r);
            rgba[i * 4 + 1] = toByte(p.g);
            rgba[i * 4 + 2] = toByte(p.b);
            rgba[i * 4 + 3] = 255;
            special[i] = p.special;
            depth[i] = p.depth;
        }
        OIIO::ImageSpec colourSpec(kWidth, kHeight, 4, OIIO::TypeDesc::UINT8);
        colourSpec.attribute("oiio:UnassociatedAlpha", 1);
        OIIO::ImageSpec specialSpec(kWidth, kHeight, 1, OIIO::TypeDesc::UINT8);
        OIIO::ImageSpec depthSpec(kWidth, kHeight, 1, OIIO::TypeDesc::FLOAT);
        depthSpec.channelnames = {"Z"};
        depthSpec.attribute("compression", "zip");
        if (!write(name(folder, "colour", frame, ".png"), colourSpec, OIIO::TypeDesc::UINT8,
                   rgba.data()) ||
            !write(name(folder, "special", frame, ".png"), specialSpec, OIIO::TypeDesc::UINT8,
                   special.data()) ||
            !write(name(folder, "depth", frame, ".exr"), depthSpec, OIIO::TypeDesc::FLOAT,
                   depth.data()))
            return 1;
    }
    return 0;
}
