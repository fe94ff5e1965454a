// Image files opened for reading: the header (size and channels) first, then
// the pixels of only the channels asked for, one plane per channel. The
// format is told by the file's first bytes, not its name: OpenEXR, PNG and
// TIFF, each read by its own library (exr_file.cpp, png_file.cpp,
// tiff_file.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvit::app {

// A failure of an image file, one line, without the file's name: the caller
// says which pass or output it was.
class ImageError : public std::runtime_error {
  public:
    explicit ImageError(const std::string& what);
};

// How a channel's samples are stored in the file.
enum class SampleType { UInt8, Int8, UInt16, Int16, UInt32, Int32, Half, Float, Double };

// "uint8", "half", "float", ...
const char* sampleTypeName(SampleType type);
bool isFloating(SampleType type);
// The value an integer type's samples are divided by to give 0..1: 255 for
// uint8, 65535 for uint16, ...; 1 for floating types.
double unitScale(SampleType type);

struct ImageChannel {
    std::string name;
    SampleType type;
};

// The samples of one channel, row-major: uint8 channels as their bytes, every
// other type as floats of the same value (integers not scaled).
struct Plane {
    std::vector<uint8_t> bytes;
    std::vector<float> floats;
};

class ImageInput {
  public:
    virtual ~ImageInput() = default;

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    size_t pixelCount() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }
    // In the order a reader expects: colour before alpha before the rest,
    // each layer of a layered file together.
    const std::vector<ImageChannel>& channels() const { return channels_; }
    // The channel index named `name`, or -1.
    int channelNamed(const std::string& name) const;
    // The header's text attributes by name (an EXR's string attributes, of
    // every part); empty for formats that keep none the passes use.
    const std::map<std::string, std::string>& textAttributes() const { return text_; }
    // The channel the file marks as alpha, or -1.
    int alphaChannel() const { return alpha_; }
    // True for an indexed image, whose channels are its palette's colours
    // and whose indices readIndices gives.
    bool indexed() const { return !palette_.empty(); }

    // Reads the pixels of `channels` (indices into channels()), one plane
    // each, in one pass over the file; with `indicesOut`, an indexed image's
    // indices from the same pass. Throws ImageError.
    std::vector<Plane> read(const std::vector<int>& channels,
                            std::vector<uint8_t>* indicesOut = nullptr);
    // An indexed image's indices, one byte a pixel. Throws ImageError.
    std::vector<uint8_t> readIndices();

  private:
    std::vector<Plane> readChecked(const std::vector<int>& channels,
                                   std::vector<uint8_t>* indicesOut);

  protected:
    // Each format fills these while opening and checks nothing of them:
    // openImage does.
    int32_t width_ = 0;
    int32_t height_ = 0;
    std::vector<ImageChannel> channels_;
    int alpha_ = -1;
    std::vector<std::array<uint8_t, 4>> palette_; // RGBA of each index
    std::map<std::string, std::string> text_;

    // The format's read of `channels`, all distinct and valid, into planes
    // that the caller sized: bytes for uint8 channels, else floats.
    virtual void readPlanes(const std::vector<int>& channels, std::vector<Plane>& planes) = 0;
    // The raw indices of an indexed image, into `indices` sized by the caller.
    virtual void readIndexPlane(std::vector<uint8_t>& indices);

    friend std::unique_ptr<ImageInput> openImage(const std::string& path);
};

// The most pixels orvit reads in one image: 16384 x 16384.
inline constexpr uint64_t kMaxImagePixels = uint64_t{1} << 28;

// Opens `path`, a regular file (never waiting on a pipe), and reads its
// header. Every part of a multi-part EXR is seen, its channels named
// "PART.CHANNEL" (a channel already named "PART.X" keeps its name), and a
// read decodes only the parts it needs; only the first page of a TIFF is
// seen. Deep images, images whose pixels do not fill their frame exactly,
// images larger than 32768 pixels on a side or than kMaxImagePixels, and
// images whose header claims more pixels than the file's size can hold are
// refused, before any plane is allocated. Throws ImageError.
std::unique_ptr<ImageInput> openImage(const std::string& path);

// Threads each decode or encode of an EXR file may use (its blocks are
// compressed independently); 0 or 1 keep the work on the calling thread.
void setImageThreads(int threads);

} // namespace orvit::app
