#include "standin/app/image_output.h"

#include "standin/app/app_error.h"
#include "standin/app/atomic_file.h"
#include "standin/core/text.h"

#include <OpenImageIO/imageio.h>

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

bool isOutputExtension(const std::string& path) {
    const std::string ext = lowerExtension(path);
    return ext == ".png" || ext == ".tif" || ext == ".tiff" || ext == ".exr";
}

void writeImage(const std::string& path, int32_t width, int32_t height,
                const std::vector<uint8_t>& rgba) {
    const std::string where = "output '" + path + "'";
    if (!isOutputExtension(path))
        throw AppError(where + ": unknown image type; use .png, .tif, .tiff or .exr");
    if (width < 1 || height < 1 ||
        rgba.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
        throw AppError(where + ": the frame holds no pixels");

    writeAtomically(path, where, [&](const std::string& temporary) {
        auto out = OIIO::ImageOutput::create(temporary);
        if (!out)
            throw AppError(
                where + ": cannot write: " + standin::firstLine(OIIO::geterror(), "unknown error"));
        const bool exr = lowerExtension(path) == ".exr";
        OIIO::ImageSpec spec(width, height, 4, exr ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::UINT8);
        spec.alpha_channel = 3;
        // The bytes are stored as they are: colour is not divided by alpha.
        spec.attribute("oiio:UnassociatedAlpha", 1);
        if (exr)
            spec.attribute("compression", "zip");
        bool ok =
            out->open(temporary, spec) && out->write_image(OIIO::TypeDesc::UINT8, rgba.data());
        ok = out->close() && ok;
        if (!ok) {
            std::string reason = standin::firstLine(out->geterror(), "unknown error");
            if (reason == "unknown error")
                reason = "cannot write in '" + fs::path(temporary).parent_path().string() + "'";
            throw AppError(where + ": " + reason);
        }
    });
}

} // namespace orvit::app
