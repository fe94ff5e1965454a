#include "orvit/images/image_input.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/images/image_formats.h"

#include "orvit/files/paths.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace orvit::images {
namespace {

enum class Format { Exr, Png, Tiff, Unknown };

// The format from the file's first bytes, and the file's size. Only a
// regular file is read: the libraries would wait forever on a pipe.
Format sniff(const std::string& path, uint64_t* size) {
    unsigned char magic[8] = {};
    std::string why;
    const files::OwnedFd fd = files::openRegular(path, &why);
    if (!fd)
        throw ImageError("it " + why);
    struct stat s {};
    fstat(fd.get(), &s);
    *size = static_cast<uint64_t>(s.st_size);
    const ssize_t read = pread(fd.get(), magic, sizeof magic, 0);
    const size_t got = read > 0 ? static_cast<size_t>(read) : 0;
    static const unsigned char exr[] = {0x76, 0x2f, 0x31, 0x01};
    static const unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (got >= sizeof exr && std::memcmp(magic, exr, sizeof exr) == 0)
        return Format::Exr;
    if (got >= sizeof png && std::memcmp(magic, png, sizeof png) == 0)
        return Format::Png;
    // Classic and big TIFF, either byte order.
    if (got >= 4 && ((magic[0] == 'I' && magic[1] == 'I' && magic[3] == 0 &&
                      (magic[2] == 42 || magic[2] == 43)) ||
                     (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 &&
                      (magic[3] == 42 || magic[3] == 43))))
        return Format::Tiff;
    return Format::Unknown;
}

// How many bytes of samples one byte of an image file may hold: far above
// deflate's limit (about 1032) and what flat frames reach under the other
// compressions, far below what a damaged header can claim.
constexpr uint64_t kMaxExpansion = 1 << 16;

uint64_t sampleBytes(SampleType type) {
    switch (type) {
    case SampleType::UInt8:
    case SampleType::Int8:
        return 1;
    case SampleType::UInt16:
    case SampleType::Int16:
    case SampleType::Half:
        return 2;
    case SampleType::Double:
        return 8;
    default:
        return 4;
    }
}

} // namespace

// Libraries' messages can run over several lines, and quote what the file
// holds (a channel's name) byte for byte; every consumer gets one printable
// line.
ImageError::ImageError(const std::string& what)
    : std::runtime_error(core::printableLine(core::firstLine(what, "unknown error"))) {}

namespace {

// Each sample type's name and the value its samples are divided by to give
// 0..1, in SampleType's order.
struct SampleTypeFacts {
    const char* name;
    double unitScale;
};
const SampleTypeFacts kSampleTypes[] = {
    {"uint8", 255.0},   {"int8", 127.0},        {"uint16", 65535.0},
    {"int16", 32767.0}, {"uint", 4294967295.0}, {"int", 2147483647.0},
    {"half", 1.0},      {"float", 1.0},         {"double", 1.0}};

} // namespace

const char* sampleTypeName(SampleType type) {
    return kSampleTypes[static_cast<int>(type)].name;
}

bool isFloating(SampleType type) {
    return type == SampleType::Half || type == SampleType::Float || type == SampleType::Double;
}

double unitScale(SampleType type) {
    return kSampleTypes[static_cast<int>(type)].unitScale;
}

int ImageInput::channelNamed(const std::string& name) const {
    for (size_t c = 0; c < channels_.size(); ++c)
        if (channels_[c].name == name)
            return static_cast<int>(c);
    return -1;
}

PixelWindow ImageInput::covered(int) const {
    return {0, 0, width_, height_};
}

std::vector<Plane> ImageInput::read(const std::vector<int>& channels,
                                    std::vector<uint8_t>* indicesOut) {
    try {
        return readChecked(channels, indicesOut);
    } catch (const std::bad_alloc&) {
        throw ImageError("not enough memory for " + std::to_string(channels.size()) +
                         " channel(s) of " + std::to_string(width_) + "x" +
                         std::to_string(height_) + " pixels");
    }
}

std::vector<Plane> ImageInput::readChecked(const std::vector<int>& channels,
                                           std::vector<uint8_t>* indicesOut) {
    if (indicesOut != nullptr && !indexed())
        throw ImageError("the image has no palette");
    const size_t n = pixelCount();
    std::vector<Plane> planes(channels.size());
    for (size_t i = 0; i < channels.size(); ++i) {
        const int c = channels[i];
        if (c < 0 || c >= static_cast<int>(channels_.size()))
            throw ImageError("no channel " + std::to_string(c));
        for (size_t j = 0; j < i; ++j)
            if (channels[j] == c)
                throw ImageError("channel '" + channels_[c].name + "' asked for twice");
        if (channels_[c].type == SampleType::UInt8)
            planes[i].bytes.resize(n);
        else
            planes[i].floats.resize(n);
    }
    if (!indexed()) {
        readPlanes(channels, planes);
        return planes;
    }
    // An indexed image's channels are its palette's colours; an index past
    // the palette's end has none.
    std::vector<uint8_t> indices = readIndices();
    for (size_t p = 0; p < n; ++p)
        if (indices[p] >= palette_.size())
            throw ImageError("palette index " + std::to_string(indices[p]) + " at pixel (" +
                             std::to_string(p % width_) + ", " + std::to_string(p / width_) +
                             ") is past the palette's " + std::to_string(palette_.size()) +
                             " colours");
    for (size_t i = 0; i < channels.size(); ++i) {
        uint8_t* out = planes[i].bytes.data();
        const int c = channels[i];
        for (size_t p = 0; p < n; ++p)
            out[p] = palette_[indices[p]][c];
    }
    if (indicesOut != nullptr)
        *indicesOut = std::move(indices);
    return planes;
}

std::vector<uint8_t> ImageInput::readIndices() {
    if (!indexed())
        throw ImageError("the image has no palette");
    std::vector<uint8_t> indices(pixelCount());
    readIndexPlane(indices);
    return indices;
}

void ImageInput::readIndexPlane(std::vector<uint8_t>&) {
    throw ImageError("the image has no palette");
}

std::unique_ptr<ImageInput> openImage(const std::string& path) {
    std::unique_ptr<ImageInput> image;
    uint64_t fileSize = 0;
    switch (sniff(path, &fileSize)) {
    case Format::Exr:
        checkExrClaims(path, fileSize);
        image = openExr(path);
        break;
    case Format::Png:
        checkPngClaims(path, fileSize);
        image = openPng(path);
        break;
    case Format::Tiff:
        image = openTiff(path);
        break;
    case Format::Unknown:
        throw ImageError("not an OpenEXR, PNG or TIFF image");
    }
    if (image->width_ < 1 || image->height_ < 1 || image->channels_.empty())
        throw ImageError("the image holds no pixels");
    if (image->channels_.size() > kMaxChannels)
        throw ImageError("the image has " + std::to_string(image->channels_.size()) +
                         " channels, more than the " + std::to_string(kMaxChannels) +
                         " orvit reads in one image");
    // Planes are indexed with 32-bit rows and columns by the host.
    if (image->width_ > (1 << 15) || image->height_ > (1 << 15))
        throw ImageError("the image is larger than 32768 pixels on a side");
    // The header's claim is checked before a plane is allocated, so that a
    // small damaged file cannot take gigabytes.
    const uint64_t pixels = image->pixelCount();
    const std::string claim = "the header claims " + std::to_string(image->width_) + "x" +
                              std::to_string(image->height_) + " pixels";
    if (pixels > kMaxImagePixels)
        throw ImageError(claim + ", more than the " + std::to_string(kMaxImagePixels) +
                         " (16384x16384) orvit reads in one image");
    uint64_t stored = image->storedBytes_;
    if (stored == 0)
        for (const ImageChannel& channel : image->channels_)
            stored += pixels * sampleBytes(channel.type);
    if (stored > fileSize * kMaxExpansion)
        throw ImageError(claim + ", more than the file's " + std::to_string(fileSize) +
                         " bytes can hold");
    return image;
}

} // namespace orvit::images
