#include "orvit/images/image_output.h"

#include "orvit/core/host_error.h"
#include "orvit/files/atomic_file.h"
#include "orvit/images/image_formats.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace orvit::images {
namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

} // namespace

void checkOutputExtension(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext != ".png" && ext != ".tif" && ext != ".tiff" && ext != ".exr")
        throw core::AppError("output '" + path +
                             "': unknown image type; use .png, .tif, .tiff or .exr");
}

std::vector<uint8_t> filmPixels(size_t n, const std::array<const uint8_t*, 3>& before,
                                const std::array<const uint8_t*, 4>& drawn) {
    std::vector<uint8_t> rgba(n * 4);
    for (size_t i = 0; i < n; ++i) {
        uint8_t* out = rgba.data() + i * 4;
        const int a = drawn[3][i];
        out[3] = static_cast<uint8_t>(a);
        if (drawn[0][i] == before[0][i] && drawn[1][i] == before[1][i] &&
            drawn[2][i] == before[2][i]) {
            for (int k = 0; k < 3; ++k)
                out[k] = drawn[k][i];
            continue;
        }
        // In 255ths of a level, exactly: p = a * c + 255 * (d - c).
        int p[3];
        int most = a * 255;
        for (int k = 0; k < 3; ++k) {
            p[k] = std::clamp(a * before[k][i] + 255 * (drawn[k][i] - before[k][i]), 0, 255 * 255);
            most = std::max(most, p[k]);
        }
        // Rounded up, so that the colour over it stays within 255.
        const int alpha = (most + 254) / 255;
        out[3] = static_cast<uint8_t>(alpha);
        for (int k = 0; k < 3; ++k)
            out[k] = alpha == 0 ? 0 : static_cast<uint8_t>((p[k] + alpha / 2) / alpha);
    }
    return rgba;
}

void writeImage(const std::string& path, int32_t width, int32_t height,
                const std::vector<uint8_t>& rgba, int compression, const std::string& colourSpace) {
    checkOutputExtension(path);
    const std::string where = "output '" + path + "'";
    if (width < 1 || height < 1 ||
        rgba.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
        throw core::AppError(where + ": the frame holds no pixels");

    const std::string ext = lowerExtension(path);
    files::writeAtomically(path, where, [&](const std::string& temporary) {
        try {
            if (ext == ".png")
                writePng(temporary, width, height, rgba.data(), compression);
            else if (ext == ".exr")
                writeExr(temporary, width, height, rgba.data(), compression, colourSpace);
            else
                writeTiff(temporary, width, height, rgba.data(), compression);
        } catch (const ImageError& e) {
            throw core::AppError(where + ": " + e.what());
        }
    });
}

} // namespace orvit::images
