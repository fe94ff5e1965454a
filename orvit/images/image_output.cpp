#include "orvit/images/image_output.h"

#include "orvit/core/host_error.h"
#include "orvit/files/atomic_file.h"
#include "orvit/images/image_formats.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace orvit::app {
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
        throw AppError("output '" + path + "': unknown image type; use .png, .tif, .tiff or .exr");
}

void writeImage(const std::string& path, int32_t width, int32_t height,
                const std::vector<uint8_t>& rgba, int compression, const std::string& colourSpace) {
    checkOutputExtension(path);
    const std::string where = "output '" + path + "'";
    if (width < 1 || height < 1 ||
        rgba.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
        throw AppError(where + ": the frame holds no pixels");

    const std::string ext = lowerExtension(path);
    writeAtomically(path, where, [&](const std::string& temporary) {
        try {
            if (ext == ".png")
                writePng(temporary, width, height, rgba.data(), compression);
            else if (ext == ".exr")
                writeExr(temporary, width, height, rgba.data(), compression, colourSpace);
            else
                writeTiff(temporary, width, height, rgba.data(), compression);
        } catch (const ImageError& e) {
            throw AppError(where + ": " + e.what());
        }
    });
}

} // namespace orvit::app
