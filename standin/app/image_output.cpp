#include "standin/app/image_output.h"

#include "standin/app/app_error.h"
#include "standin/core/text.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvit::app {
namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// The temporary image being written, for the signal handler below. Only a
// plain buffer and a flag, which a handler may read.
char gUnfinished[4096];
volatile std::sig_atomic_t gHaveUnfinished = 0;

// The signals that end a process by default and that a user or a scheduler
// sends to stop it (a cancelled farm task gets SIGTERM).
constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr size_t kEndingSignalCount = std::size(kEndingSignals);
struct sigaction gPrevious[kEndingSignalCount];

extern "C" void removeUnfinishedImage(int signal) {
    if (gHaveUnfinished)
        unlink(gUnfinished);
    // Then end as the signal would have ended the process.
    for (size_t i = 0; i < kEndingSignalCount; ++i)
        if (kEndingSignals[i] == signal)
            sigaction(signal, &gPrevious[i], nullptr);
    raise(signal);
}

// Removes the temporary file on every way out but success, a signal that
// ends the process included.
class TemporaryFile {
  public:
    explicit TemporaryFile(fs::path path) : path_(std::move(path)) {
        const std::string& text = path_.native();
        if (text.size() >= sizeof gUnfinished)
            return;
        std::memcpy(gUnfinished, text.c_str(), text.size() + 1);
        gHaveUnfinished = 1;
        struct sigaction action {};
        action.sa_handler = removeUnfinishedImage;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < kEndingSignalCount; ++i) {
            // A signal the process ignores or handles itself is left so.
            sigaction(kEndingSignals[i], nullptr, &gPrevious[i]);
            installed_[i] = gPrevious[i].sa_handler == SIG_DFL &&
                            !(gPrevious[i].sa_flags & SA_SIGINFO) &&
                            sigaction(kEndingSignals[i], &action, nullptr) == 0;
        }
    }
    ~TemporaryFile() {
        if (!keep_) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
        for (size_t i = 0; i < kEndingSignalCount; ++i)
            if (installed_[i])
                sigaction(kEndingSignals[i], &gPrevious[i], nullptr);
        gHaveUnfinished = 0;
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const fs::path& path() const { return path_; }
    void keep() { keep_ = true; }

  private:
    fs::path path_;
    bool keep_ = false;
    bool installed_[kEndingSignalCount] = {};
};

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

    const fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    if (fs::is_directory(target, ec))
        throw AppError(where + ": a folder of that name exists");
    if (!fs::is_directory(folder, ec))
        throw AppError(where + ": no folder '" + folder.string() + "'");

    // Same folder, so that the rename stays on one file system; same
    // extension, so that the image library picks the same format.
    TemporaryFile temporary(folder / ("." + target.stem().string() + ".tmp" +
                                      std::to_string(getpid()) + target.extension().string()));

    auto out = OIIO::ImageOutput::create(temporary.path().string());
    if (!out)
        throw AppError(where +
                       ": cannot write: " + standin::firstLine(OIIO::geterror(), "unknown error"));
    const bool exr = lowerExtension(path) == ".exr";
    OIIO::ImageSpec spec(width, height, 4, exr ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::UINT8);
    spec.alpha_channel = 3;
    // The bytes are stored as they are: colour is not divided by alpha.
    spec.attribute("oiio:UnassociatedAlpha", 1);
    if (exr)
        spec.attribute("compression", "zip");
    // Later steps see the file only after close succeeded, so a failure at any
    // point leaves nothing but the temporary file, which is then removed.
    bool ok = out->open(temporary.path().string(), spec) &&
              out->write_image(OIIO::TypeDesc::UINT8, rgba.data());
    ok = out->close() && ok;
    if (!ok) {
        std::string reason = standin::firstLine(out->geterror(), "unknown error");
        if (reason == "unknown error")
            reason = std::string("cannot write in '") + folder.string() + "'";
        throw AppError(where + ": " + reason);
    }
    fs::rename(temporary.path(), target, ec);
    if (ec)
        throw AppError(where + ": cannot rename the finished image into place: " + ec.message());
    temporary.keep();
}

} // namespace orvit::app
