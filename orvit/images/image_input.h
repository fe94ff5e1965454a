// Image files opened for reading: the header (size and channels) first, then
// the pixels of only the channels asked for, one plane per channel. The
// format is told by the file's first bytes, not its name: OpenEXR, PNG and
// TIFF, each read by its own library (exr_file.cpp, png_file.cpp,
// tiff_file.cpp).
#pragma once

#include <array>
#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvit::images {

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

// The colour a channel's last name part stands for, as renderers and
// compositors spell it: 'R', 'G', 'B' or 'A' for R, red, G, green, B, blue,
// A or alpha in any case; 0 for anything else. Inline, for the readers of
// header text that link no image library.
inline char colourLetter(const std::string& suffix) {
    static const char* const names[] = {"r", "red", "g", "green", "b", "blue", "a", "alpha"};
    if (suffix.size() > 5)
        return 0;
    std::string lower = suffix;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int i = 0; i < 8; ++i)
        if (lower == names[i])
            return "RGBA"[i / 2];
    return 0;
}

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

// Pixels x0 <= x < x1, y0 <= y < y1 of a frame.
struct PixelWindow {
    int32_t x0, y0, x1, y1;
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
    // The pixels of the frame where the file stores samples of `channel`
    // (an EXR's data window within its display window); a read leaves the
    // others 0.
    virtual PixelWindow covered(int channel) const;
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
    // The bytes of samples the file claims to store; 0: every channel's
    // samples over the whole frame.
    uint64_t storedBytes_ = 0;

    // The format's read of `channels`, all distinct and valid, into planes
    // that the caller sized: bytes for uint8 channels, else floats.
    virtual void readPlanes(const std::vector<int>& channels, std::vector<Plane>& planes) = 0;
    // The raw indices of an indexed image, into `indices` sized by the caller.
    virtual void readIndexPlane(std::vector<uint8_t>& indices);

    friend std::unique_ptr<ImageInput> openImage(const std::string& path);
};

// The most pixels orvit reads in one image: 16384 x 16384.
inline constexpr uint64_t kMaxImagePixels = uint64_t{1} << 28;

// The most channels orvit reads from one image, its parts together: far
// more than renderers write (a layer for every pass and a Cryptomatte or
// three), far fewer than a damaged header can declare.
inline constexpr size_t kMaxChannels = 4096;

// Opens `path`, a regular file (never waiting on a pipe), and reads its
// header. Every part of a multi-part EXR is seen, its channels named
// "PART.CHANNEL" (a channel already named "PART.X" keeps its name), and a
// read decodes only the parts it needs; only the first page of a TIFF is
// seen. An EXR's frame is its display window: the pixels of its data
// window outside it are cropped, those it lacks are 0. Deep images, images
// larger than 32768 pixels on a side or than kMaxImagePixels, with more than
// kMaxChannels channels, and images whose header claims more pixels than
// the file's size can hold are refused, before any plane is allocated.
// Throws ImageError.
std::unique_ptr<ImageInput> openImage(const std::string& path);

// Threads each decode or encode of an EXR file may use (its blocks are
// compressed independently); 0 or 1 keep the work on the calling thread.
void setImageThreads(int threads);

} // namespace orvit::images
