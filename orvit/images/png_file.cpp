// PNG files through libpng. Samples are taken as stored: no gamma, 1, 2 and
// 4-bit grey widened to 8 bits, a transparent colour key made an alpha
// channel, 16-bit samples in the machine's byte order. A palette image keeps
// its indices; ImageInput gives its colours through the palette.
//
// libpng reports failures by longjmp, so every call into it is made from a
// function that holds no object with a destructor.
#include "orvit/images/image_formats.h"

#include "orvit/files/paths.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace orvit::images {
namespace {

extern "C" void pngFailed(png_structp png, png_const_charp message);
extern "C" void pngWarned(png_structp, png_const_charp) {}

// One libpng read or write, with the message of its failure.
class Png {
  public:
    explicit Png(bool reading) : reading_(reading) {
        png_ = reading ? png_create_read_struct(PNG_LIBPNG_VER_STRING, this, pngFailed, pngWarned)
                       : png_create_write_struct(PNG_LIBPNG_VER_STRING, this, pngFailed, pngWarned);
        info_ = png_ ? png_create_info_struct(png_) : nullptr;
        if (!info_)
            throw ImageError("out of memory");
    }
    ~Png() {
        if (reading_)
            png_destroy_read_struct(&png_, &info_, nullptr);
        else
            png_destroy_write_struct(&png_, &info_);
    }
    Png(const Png&) = delete;
    Png& operator=(const Png&) = delete;

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }
    char message[200] = "unknown error";

  private:
    bool reading_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

extern "C" void pngFailed(png_structp png, png_const_charp message) {
    Png* state = static_cast<Png*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

bool littleEndian() {
    const uint16_t one = 1;
    uint8_t first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// The image as the transforms below deliver it.
struct PngLayout {
    png_uint_32 width = 0, height = 0;
    int colourType = 0;
    int bitDepth = 0;
    int channels = 0; // samples a pixel
    size_t rowBytes = 0;
    bool keyedAlpha = false; // a transparent colour made an alpha channel
    png_colorp palette = nullptr;
    int paletteSize = 0;
    png_bytep paletteAlpha = nullptr;
    int paletteAlphaCount = 0;
};

// Reads the header and sets the transforms. Holds no object with a destructor.
bool readLayout(Png& png, FILE* file, PngLayout& layout) {
    png_structp p = png.png();
    png_infop info = png.info();
    if (setjmp(png_jmpbuf(p)))
        return false;
    png_init_io(p, file);
    png_read_info(p, info);
    int interlace = 0;
    png_get_IHDR(p, info, &layout.width, &layout.height, &layout.bitDepth, &layout.colourType,
                 &interlace, nullptr, nullptr);
    const bool keyed = png_get_valid(p, info, PNG_INFO_tRNS) != 0;
    if (layout.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_get_PLTE(p, info, &layout.palette, &layout.paletteSize);
        if (keyed)
            png_get_tRNS(p, info, &layout.paletteAlpha, &layout.paletteAlphaCount, nullptr);
        if (layout.bitDepth < 8)
            png_set_packing(p);
    } else {
        if (layout.bitDepth < 8)
            png_set_expand_gray_1_2_4_to_8(p);
        if (keyed) {
            png_set_tRNS_to_alpha(p);
            layout.keyedAlpha = true;
        }
        if (layout.bitDepth == 16 && littleEndian())
            png_set_swap(p);
    }
    png_set_interlace_handling(p);
    png_read_update_info(p, info);
    layout.channels = png_get_channels(p, info);
    layout.rowBytes = png_get_rowbytes(p, info);
    return true;
}

// Reads every row. Holds no object with a destructor.
bool readRows(Png& png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png.png())))
        return false;
    png_read_image(png.png(), rows);
    return true;
}

class PngInput final : public ImageInput {
  public:
    explicit PngInput(const std::string& path) : path_(path) {
        Png png(true);
        PngLayout layout;
        open(png, layout);
        width_ = static_cast<int32_t>(std::min<png_uint_32>(layout.width, 1u << 30));
        height_ = static_cast<int32_t>(std::min<png_uint_32>(layout.height, 1u << 30));
        if (layout.colourType == PNG_COLOR_TYPE_PALETTE) {
            for (int i = 0; i < layout.paletteSize; ++i) {
                const png_color& c = layout.palette[i];
                const uint8_t a = i < layout.paletteAlphaCount ? layout.paletteAlpha[i] : 255;
                palette_.push_back({c.red, c.green, c.blue, a});
            }
            if (palette_.empty())
                throw ImageError("the palette image has no palette");
            channels_ = {
                {"R", SampleType::UInt8}, {"G", SampleType::UInt8}, {"B", SampleType::UInt8}};
            if (layout.paletteAlphaCount > 0)
                channels_.push_back({"A", SampleType::UInt8});
        } else {
            const SampleType type = layout.bitDepth == 16 ? SampleType::UInt16 : SampleType::UInt8;
            static const char* const grey[] = {"Y", "A"};
            static const char* const colour[] = {"R", "G", "B", "A"};
            const char* const* names = layout.channels <= 2 ? grey : colour;
            for (int c = 0; c < layout.channels && c < 4; ++c)
                channels_.push_back({names[c], type});
        }
        alpha_ = channelNamed("A");
    }
    ~PngInput() override {
        if (file_)
            std::fclose(file_);
    }

  private:
    std::string path_;
    FILE* file_ = nullptr;

    // Opens the file afresh for each decode, since libpng reads it once
    // from its start.
    void open(Png& png, PngLayout& layout) {
        if (file_)
            std::fclose(file_);
        file_ = std::fopen(path_.c_str(), "rb");
        if (!file_)
            throw ImageError(std::strerror(errno));
        if (!readLayout(png, file_, layout))
            throw ImageError(png.message);
    }

    // The whole image, interleaved, as the transforms give it.
    std::vector<uint8_t> decode(PngLayout& layout) {
        Png png(true);
        open(png, layout);
        std::vector<uint8_t> pixels(layout.rowBytes * layout.height);
        std::vector<png_bytep> rows(layout.height);
        for (png_uint_32 y = 0; y < layout.height; ++y)
            rows[y] = pixels.data() + y * layout.rowBytes;
        if (!readRows(png, rows.data()))
            throw ImageError(png.message);
        return pixels;
    }

    void readPlanes(const std::vector<int>& channels, std::vector<Plane>& planes) override {
        PngLayout layout;
        const std::vector<uint8_t> pixels = decode(layout);
        const size_t n = pixelCount();
        const size_t step = static_cast<size_t>(layout.channels);
        for (size_t i = 0; i < channels.size(); ++i) {
            const size_t c = static_cast<size_t>(channels[i]);
            if (layout.bitDepth == 16) {
                float* out = planes[i].floats.data();
                for (size_t p = 0; p < n; ++p) {
                    uint16_t v;
                    std::memcpy(&v, pixels.data() + (p * step + c) * 2, 2);
                    out[p] = static_cast<float>(v);
                }
            } else {
                uint8_t* out = planes[i].bytes.data();
                for (size_t p = 0; p < n; ++p)
                    out[p] = pixels[p * step + c];
            }
        }
    }

    void readIndexPlane(std::vector<uint8_t>& indices) override {
        PngLayout layout;
        indices = decode(layout);
    }
};

// Writes the image. Holds no object with a destructor.
bool encode(Png& png, FILE* file, png_uint_32 width, png_uint_32 height, const uint8_t* rgba,
            int compression) {
    png_structp p = png.png();
    if (setjmp(png_jmpbuf(p)))
        return false;
    png_init_io(p, file);
    png_set_IHDR(p, png.info(), width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (compression < 0) {
        // Each row minus the one above, then runs only. Measured on glowed
        // 1920 x 1080 renders: on a noisy one a fourteenth of the time of
        // zlib's default level for a file as small, two thirds of level 1's
        // time for a smaller file; flat synthetic frames come out larger
        // (three times level 1's size on the demo's), but they are small.
        png_set_compression_level(p, 1);
        png_set_compression_strategy(p, Z_RLE);
        png_set_filter(p, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    } else {
        png_set_compression_level(p, compression);
        png_set_filter(p, PNG_FILTER_TYPE_BASE,
                       compression == 0 ? PNG_FILTER_NONE : PNG_ALL_FILTERS);
    }
    png_write_info(p, png.info());
    for (png_uint_32 y = 0; y < height; ++y)
        png_write_row(p, rgba + static_cast<size_t>(y) * width * 4);
    png_write_end(p, png.info());
    return true;
}

} // namespace

void checkPngClaims(const std::string& path, uint64_t fileSize) {
    std::string why;
    const files::OwnedFd fd = files::openRegular(path, &why);
    if (!fd)
        throw ImageError("it " + why);
    // Chunk by chunk from the signature: a length, a type, the data, a CRC.
    uint64_t at = 8;
    unsigned char head[8];
    while (at + 8 <= fileSize && pread(fd.get(), head, 8, static_cast<off_t>(at)) == 8) {
        const uint64_t length = uint64_t{head[0]} << 24 | uint64_t{head[1]} << 16 |
                                uint64_t{head[2]} << 8 | uint64_t{head[3]};
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (length + 12 > fileSize - at)
            throw ImageError("chunk '" + type + "' at byte " + std::to_string(at) + " claims " +
                             std::to_string(length) + " bytes, more than the file's " +
                             std::to_string(fileSize) + " bytes hold");
        if (type == "IEND")
            break;
        at += length + 12;
    }
}

std::unique_ptr<ImageInput> openPng(const std::string& path) {
    return std::make_unique<PngInput>(path);
}

void writePng(const std::string& path, int32_t width, int32_t height, const uint8_t* rgba,
              int compression) {
    Png png(false);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw ImageError(std::strerror(errno));
    bool ok = encode(png, file, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                     rgba, compression);
    ok = std::fflush(file) == 0 && ok;
    const int error = errno;
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        throw ImageError(std::strcmp(png.message, "unknown error") != 0 ? png.message
                                                                        : std::strerror(error));
}

} // namespace orvit::images
