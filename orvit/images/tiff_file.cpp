// TIFF files through libtiff: the first page, in strips or tiles, samples
// interleaved or in planes; 8, 16 and 32-bit integers, 16, 32 and 64-bit
// floats; grey, RGB (JPEG's YCbCr as RGB) and 8-bit palettes, with any extra
// samples after them, the first of which is named alpha.
#include "orvit/images/image_formats.h"

#include <Imath/half.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace orvit::images {
namespace {

// The last message libtiff gave for one file; warnings are not shown.
extern "C" int keepTiffMessage(TIFF*, void* message, const char*, const char* format,
                               va_list args) {
    char text[300];
    std::vsnprintf(text, sizeof text, format, args);
    *static_cast<std::string*>(message) = text;
    return 1;
}
extern "C" int ignoreTiffMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

TIFF* openTiffFile(const std::string& path, const char* mode, std::string& message) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        throw ImageError("out of memory");
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepTiffMessage, &message);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreTiffMessage, nullptr);
    TIFF* tiff = TIFFOpenExt(path.c_str(), mode, options);
    TIFFOpenOptionsFree(options);
    if (!tiff)
        throw ImageError(message.empty() ? "cannot open" : message);
    return tiff;
}

// `count` samples `step` bytes apart, as floats of the same value.
using WidenRow = void (*)(const uint8_t* in, size_t step, size_t count, float* out);

template <typename T> void widen(const uint8_t* in, size_t step, size_t count, float* out) {
    for (size_t x = 0; x < count; ++x) {
        T v;
        std::memcpy(&v, in + x * step, sizeof v);
        out[x] = static_cast<float>(v);
    }
}

void widenHalf(const uint8_t* in, size_t step, size_t count, float* out) {
    for (size_t x = 0; x < count; ++x) {
        uint16_t bits;
        std::memcpy(&bits, in + x * step, 2);
        Imath::half h;
        h.setBits(bits);
        out[x] = static_cast<float>(h);
    }
}

// A TIFF's sample format and bits per sample, the type they make and how a
// row of them widens to floats.
struct TiffSampleType {
    uint16_t format;
    uint16_t bits;
    SampleType type;
    WidenRow widen;
};

const TiffSampleType kTiffSampleTypes[] = {
    {SAMPLEFORMAT_UINT, 8, SampleType::UInt8, widen<uint8_t>},
    {SAMPLEFORMAT_INT, 8, SampleType::Int8, widen<int8_t>},
    {SAMPLEFORMAT_UINT, 16, SampleType::UInt16, widen<uint16_t>},
    {SAMPLEFORMAT_INT, 16, SampleType::Int16, widen<int16_t>},
    {SAMPLEFORMAT_UINT, 32, SampleType::UInt32, widen<uint32_t>},
    {SAMPLEFORMAT_INT, 32, SampleType::Int32, widen<int32_t>},
    {SAMPLEFORMAT_IEEEFP, 16, SampleType::Half, widenHalf},
    {SAMPLEFORMAT_IEEEFP, 32, SampleType::Float, widen<float>},
    {SAMPLEFORMAT_IEEEFP, 64, SampleType::Double, widen<double>},
};

const TiffSampleType& tiffSampleType(uint16_t format, uint16_t bits) {
    for (const TiffSampleType& s : kTiffSampleTypes)
        if (s.format == format && s.bits == bits)
            return s;
    throw ImageError(std::to_string(bits) + "-bit samples of format " + std::to_string(format) +
                     " are not supported");
}

struct TiffClose {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

class TiffInput final : public ImageInput {
  public:
    explicit TiffInput(const std::string& path) : tiff_(openTiffFile(path, "r", message_)) {
        uint32_t w = 0, h = 0;
        TIFFGetField(tiff_.get(), TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tiff_.get(), TIFFTAG_IMAGELENGTH, &h);
        width_ = static_cast<int32_t>(std::min<uint32_t>(w, 1u << 30));
        height_ = static_cast<int32_t>(std::min<uint32_t>(h, 1u << 30));
        uint16_t bits = 1, format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tiff_.get(), TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tiff_.get(), TIFFTAG_SAMPLESPERPIXEL, &samples_);
        TIFFGetFieldDefaulted(tiff_.get(), TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(tiff_.get(), TIFFTAG_PLANARCONFIG, &planar_);
        TIFFGetFieldDefaulted(tiff_.get(), TIFFTAG_COMPRESSION, &compression);
        if (!TIFFIsCODECConfigured(compression))
            throw ImageError("TIFF compression " + std::to_string(compression) +
                             " is not supported");
        uint16_t photometric = samples_ >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        TIFFGetField(tiff_.get(), TIFFTAG_PHOTOMETRIC, &photometric);
        const TiffSampleType& sampleType = tiffSampleType(format, bits);
        type_ = sampleType.type;
        widen_ = sampleType.widen;
        sampleBytes_ = bits / 8;

        int colours = 1;
        if (photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG) {
            TIFFSetField(tiff_.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            photometric = PHOTOMETRIC_RGB;
        }
        if (photometric == PHOTOMETRIC_RGB) {
            colours = 3;
        } else if (photometric == PHOTOMETRIC_PALETTE) {
            readPalette(bits);
        } else if (photometric == PHOTOMETRIC_MINISWHITE) {
            // Samples count from white: each unsigned one is turned over.
            inverted_ = type_ == SampleType::UInt8 || type_ == SampleType::UInt16 ||
                        type_ == SampleType::UInt32;
            if (!inverted_)
                throw ImageError("white-is-zero images of " + std::string(sampleTypeName(type_)) +
                                 " samples are not supported");
        } else if (photometric != PHOTOMETRIC_MINISBLACK) {
            throw ImageError("TIFF photometric interpretation " + std::to_string(photometric) +
                             " is not supported");
        }
        if (samples_ < colours || samples_ > 64)
            throw ImageError("the image has " + std::to_string(samples_) + " samples a pixel");
        if (indexed()) {
            if (samples_ != 1)
                throw ImageError("palette images with extra samples are not supported");
            channels_ = {
                {"R", SampleType::UInt8}, {"G", SampleType::UInt8}, {"B", SampleType::UInt8}};
        } else {
            static const char* const rgb[] = {"R", "G", "B"};
            for (int c = 0; c < samples_; ++c) {
                const std::string name = c < colours    ? (colours == 3 ? rgb[c] : "Y")
                                         : c == colours ? "A"
                                                        : "channel" + std::to_string(c);
                channels_.push_back({name, type_});
            }
        }
        alpha_ = channelNamed("A");

        tiled_ = TIFFIsTiled(tiff_.get()) != 0;
        if (tiled_) {
            TIFFGetField(tiff_.get(), TIFFTAG_TILEWIDTH, &blockWidth_);
            TIFFGetField(tiff_.get(), TIFFTAG_TILELENGTH, &blockHeight_);
        } else {
            blockWidth_ = w;
            TIFFGetFieldDefaulted(tiff_.get(), TIFFTAG_ROWSPERSTRIP, &blockHeight_);
            blockHeight_ = std::min(blockHeight_, h);
        }
        if (blockWidth_ < 1 || blockHeight_ < 1 || blockWidth_ > (1u << 16) ||
            blockHeight_ > (1u << 16))
            throw ImageError("the image's blocks are " + std::to_string(blockWidth_) + " x " +
                             std::to_string(blockHeight_) + " pixels");
    }

  private:
    std::string message_;
    // Closed however the constructor ends: a refused file keeps no handle.
    std::unique_ptr<TIFF, TiffClose> tiff_;
    uint16_t samples_ = 1;
    uint16_t planar_ = PLANARCONFIG_CONTIG;
    SampleType type_ = SampleType::UInt8;
    WidenRow widen_ = nullptr;
    size_t sampleBytes_ = 1;
    bool inverted_ = false;
    bool tiled_ = false;
    uint32_t blockWidth_ = 0, blockHeight_ = 0;

    void readPalette(uint16_t bits) {
        if (bits != 8)
            throw ImageError(std::to_string(bits) + "-bit palette images are not supported");
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tiff_.get(), TIFFTAG_COLORMAP, &red, &green, &blue))
            throw ImageError("the palette image has no palette");
        // Colour map entries are 16-bit; 8-bit values are stored times 257.
        for (int i = 0; i < 256; ++i)
            palette_.push_back({static_cast<uint8_t>(red[i] >> 8),
                                static_cast<uint8_t>(green[i] >> 8),
                                static_cast<uint8_t>(blue[i] >> 8), 255});
    }

    // Decodes each strip or tile of sample plane `plane` (0 when samples are
    // interleaved) and calls `use(row, x0, y, columns)` for each of its rows:
    // `columns` pixels of image row `y` from column `x0`.
    template <typename Use> void forEachBlock(uint16_t plane, Use use) {
        const size_t samplesInBlock = planar_ == PLANARCONFIG_CONTIG ? samples_ : 1;
        const size_t rowBytes = blockWidth_ * samplesInBlock * sampleBytes_;
        std::vector<uint8_t> block(rowBytes * blockHeight_);
        const uint32_t w = static_cast<uint32_t>(width_), h = static_cast<uint32_t>(height_);
        for (uint32_t y0 = 0; y0 < h; y0 += blockHeight_)
            for (uint32_t x0 = 0; x0 < w; x0 += blockWidth_) {
                const tmsize_t got =
                    tiled_
                        ? TIFFReadEncodedTile(tiff_.get(),
                                              TIFFComputeTile(tiff_.get(), x0, y0, 0, plane),
                                              block.data(), static_cast<tmsize_t>(block.size()))
                        : TIFFReadEncodedStrip(tiff_.get(),
                                               TIFFComputeStrip(tiff_.get(), y0, plane),
                                               block.data(), static_cast<tmsize_t>(block.size()));
                if (got < 0)
                    throw ImageError(message_.empty() ? "cannot decode" : message_);
                const uint32_t columns = std::min(blockWidth_, w - x0);
                const uint32_t rows = std::min(blockHeight_, h - y0);
                for (uint32_t y = 0; y < rows; ++y)
                    use(block.data() + y * rowBytes, x0, y0 + y, columns);
            }
    }

    void readPlanes(const std::vector<int>& channels, std::vector<Plane>& planes) override {
        const size_t width = static_cast<size_t>(width_);
        auto copy = [&](size_t i, const uint8_t* in, size_t step, uint32_t x0, uint32_t y,
                        uint32_t columns) {
            const size_t at = y * width + x0;
            if (type_ == SampleType::UInt8) {
                uint8_t* out = planes[i].bytes.data() + at;
                for (size_t x = 0; x < columns; ++x)
                    out[x] = inverted_ ? static_cast<uint8_t>(255 - in[x * step]) : in[x * step];
                return;
            }
            float* out = planes[i].floats.data() + at;
            widen_(in, step, columns, out);
            if (inverted_)
                for (size_t x = 0; x < columns; ++x)
                    out[x] = static_cast<float>(unitScale(type_) - out[x]);
        };
        if (planar_ == PLANARCONFIG_CONTIG) {
            const size_t step = samples_ * sampleBytes_;
            forEachBlock(0, [&](const uint8_t* row, uint32_t x0, uint32_t y, uint32_t columns) {
                for (size_t i = 0; i < channels.size(); ++i)
                    copy(i, row + channels[i] * sampleBytes_, step, x0, y, columns);
            });
            return;
        }
        for (size_t i = 0; i < channels.size(); ++i)
            forEachBlock(static_cast<uint16_t>(channels[i]),
                         [&](const uint8_t* row, uint32_t x0, uint32_t y, uint32_t columns) {
                             copy(i, row, sampleBytes_, x0, y, columns);
                         });
    }

    void readIndexPlane(std::vector<uint8_t>& indices) override {
        std::vector<Plane> planes(1);
        planes[0].bytes.swap(indices);
        readPlanes({0}, planes);
        indices.swap(planes[0].bytes);
    }
};

} // namespace

std::unique_ptr<ImageInput> openTiff(const std::string& path) {
    return std::make_unique<TiffInput>(path);
}

void writeTiff(const std::string& path, int32_t width, int32_t height, const uint8_t* rgba,
               int compression) {
    std::string message;
    TIFF* tiff = openTiffFile(path, "w", message);
    const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    const uint32_t rowsPerStrip = 32;
    const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    if (compression == 0) {
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    } else {
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, compression < 0 ? 1 : compression);
        TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    }
    // The predictor works on the strip in place, so each is copied first.
    const size_t rowBytes = static_cast<size_t>(w) * 4;
    std::vector<uint8_t> strip(rowBytes * rowsPerStrip);
    bool ok = true;
    for (uint32_t y0 = 0; ok && y0 < h; y0 += rowsPerStrip) {
        const size_t bytes = rowBytes * std::min(rowsPerStrip, h - y0);
        std::memcpy(strip.data(), rgba + y0 * rowBytes, bytes);
        ok = TIFFWriteEncodedStrip(tiff, y0 / rowsPerStrip, strip.data(),
                                   static_cast<tmsize_t>(bytes)) >= 0;
    }
    ok = ok && TIFFFlush(tiff) == 1;
    TIFFClose(tiff);
    if (!ok)
        throw ImageError(message.empty() ? "cannot write" : message);
}

} // namespace orvit::images
