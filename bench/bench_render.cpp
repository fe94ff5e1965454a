// Times `orvit render` of one 1920 x 1080 frame, split into its steps:
// reading the three passes, the filter's process through the loaded module,
// and writing the output image. The steps run through the same renderer the
// command uses; the whole command is also timed as a program run.
//
//   bench_render [REPEATS]
#include "examples/generators/mode_settings.h"
#include "examples/generators/shaded_background.h"
#include "orvit/scene/scene_file.h"
#include "orvit/sequence/scene_render.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace orvit::scene;
using namespace orvit::sequence;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

void write(const std::string& path, int channels, OIIO::TypeDesc type, const void* data) {
    OIIO::ImageSpec spec(kWidth, kHeight, channels, type);
    if (channels == 1 && type == OIIO::TypeDesc::FLOAT)
        spec.channelnames = {"Z"};
    if (channels == 4)
        spec.attribute("oiio:UnassociatedAlpha", 1);
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, spec) || !out->write_image(type, data) || !out->close()) {
        std::fprintf(stderr, "bench_render: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

// A frame like a rendered one: shaded background, a large disc and twelve
// small boxes carrying special values 1 to 4, at depths 10 to 440.
void writePasses(const fs::path& folder) {
    const size_t n = static_cast<size_t>(kWidth) * kHeight;
    std::vector<uint8_t> rgba(n * 4), special(n, 0);
    std::vector<float> depth(n, 1e10f);
    paintShadedBackground(rgba, kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const size_t i = static_cast<size_t>(y) * kWidth + x;
            const int dx = x - kWidth / 2, dy = y - kHeight / 2;
            if (dx * dx + dy * dy <= 300 * 300) {
                special[i] = 1;
                depth[i] = 10.0f + static_cast<float>(dy + 300) * 0.72f;
                rgba[i * 4] = 200;
                rgba[i * 4 + 1] = 180;
                rgba[i * 4 + 2] = 120;
            }
        }
    for (int k = 0; k < 12; ++k) {
        const int x0 = 80 + (k % 6) * 300, y0 = 60 + (k / 6) * 850;
        for (int y = y0; y < y0 + 40; ++y)
            for (int x = x0; x < x0 + 40; ++x) {
                const size_t i = static_cast<size_t>(y) * kWidth + x;
                special[i] = static_cast<uint8_t>(1 + k % 4);
                depth[i] = 10.0f + 15.0f * static_cast<float>(k);
            }
    }
    write((folder / "colour.0001.png").string(), 4, OIIO::TypeDesc::UINT8, rgba.data());
    write((folder / "special.0001.png").string(), 1, OIIO::TypeDesc::UINT8, special.data());
    write((folder / "depth.0001.exr").string(), 1, OIIO::TypeDesc::FLOAT, depth.data());
}

void writeScene(const fs::path& folder, const std::string& output) {
    std::ofstream scene(folder / "scene.toml");
    scene << "[camera]\nfov = 60\n[frames]\nfirst = 1\nlast = 1\nrate = 24\n"
          << "[passes]\ncolour = 'colour.####.png'\nspecial = 'special.####.png'\n"
          << "depth = 'depth.####.exr'\nfar_depth = 1e9\n"
          << "[output]\nfile = '" << output << "'\n"
          << "[filter]\nsettings = '''" << kOneSettingPerMode << "'''\n";
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path folder = fs::temp_directory_path() / ("orvit-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    writePasses(folder);
    std::printf("orvit render, one %dx%d frame, four glow settings (one per mode), median of %d "
                "runs\n",
                kWidth, kHeight, repeats);
    std::printf("%-10s %12s %12s %12s %12s %14s\n", "output", "read ms", "process ms", "write ms",
                "sum ms", "command ms");
    int status = 0;
    for (const char* output : {"out.####.png", "out.####.tif", "out.####.exr"}) {
        writeScene(folder, output);
        const SceneFile scene = parseSceneFile((folder / "scene.toml").string());
        std::vector<double> read, process, write, command;
        {
            SceneRenderer renderer(scene, ORVIT_BUILT_MODULE);
            for (int i = 0; i < repeats; ++i) {
                const FrameReport r = renderer.renderFrame(1, framePath(scene.output, 1));
                read.push_back(r.readMs);
                process.push_back(r.processMs);
                write.push_back(r.writeMs);
            }
        }
        // The whole program: start, module load, settings, the frame.
        const std::string run = std::string(ORVIT_PROGRAM) + " render '" +
                                (folder / "scene.toml").string() + "' >/dev/null";
        for (int i = 0; i < repeats; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            status |= std::system(run.c_str());
            command.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                    .count());
        }
        const double r = median(read), p = median(process), w = median(write);
        std::printf("%-10s %12.1f %12.1f %12.1f %12.1f %14.1f\n",
                    fs::path(output).extension().c_str(), r, p, w, r + p + w, median(command));
    }
    fs::remove_all(folder);
    return status == 0 ? 0 : 1;
}
