// OpenEXR files through the OpenEXR library: scanline or tiled, every part,
// only the channels asked for decoded into float planes.
#include "orvit/images/image_formats.h"

#include <ImfChannelList.h>
#include <ImfCompression.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfOutputFile.h>
#include <ImfPartType.h>
#include <ImfStringAttribute.h>
#include <ImfThreading.h>

#include <Imath/half.h>

#include <algorithm>
#include <map>
#include <tuple>

namespace orvit::app {
namespace {

// Where a channel sorts within its layer ("ViewLayer.Combined.R" is in layer
// "ViewLayer.Combined"): colour, then alpha, then the rest by name.
int colourRank(const std::string& suffix) {
    static const char* const order[] = {"R", "Red", "G", "Green", "B", "Blue", "A", "Alpha"};
    for (int i = 0; i < 8; ++i)
        if (suffix == order[i])
            return i / 2;
    return 4;
}

std::tuple<std::string, int, std::string> sortKey(const std::string& name) {
    const size_t dot = name.rfind('.');
    const std::string layer = dot == std::string::npos ? "" : name.substr(0, dot);
    const std::string suffix = dot == std::string::npos ? name : name.substr(dot + 1);
    return {layer, colourRank(suffix), suffix};
}

class ExrInput final : public ImageInput {
  public:
    explicit ExrInput(const std::string& path) : file_(path.c_str()) {
        const int parts = file_.parts();
        std::vector<std::pair<ImageChannel, Source>> found;
        for (int part = 0; part < parts; ++part) {
            const Imf::Header& header = file_.header(part);
            const std::string partName = parts > 1 && header.hasName() ? header.name() : "";
            const std::string where = partName.empty() ? "" : "part '" + partName + "': ";
            if (header.hasType() && Imf::isDeepData(header.type()))
                throw ImageError(where + "deep images are not supported");
            const Imath::Box2i data = header.dataWindow();
            const Imath::Box2i display = header.displayWindow();
            // The host numbers pixels from the frame's corner; an image whose
            // pixels are offset from its frame would shift every pass differently.
            if (data.min.x != 0 || data.min.y != 0 || data.size() != display.size())
                throw ImageError(where + "the pixel data window differs from the display window");
            if (part == 0) {
                width_ = data.max.x + 1;
                height_ = data.max.y + 1;
            } else if (data.max.x + 1 != width_ || data.max.y + 1 != height_) {
                throw ImageError(where + "its size differs from the first part's");
            }
            for (auto c = header.channels().begin(); c != header.channels().end(); ++c) {
                const std::string own = c.name();
                const std::string name =
                    partName.empty() || own.compare(0, partName.size() + 1, partName + ".") == 0
                        ? own
                        : partName + "." + own;
                if (c.channel().xSampling != 1 || c.channel().ySampling != 1)
                    throw ImageError("channel '" + name +
                                     "' is subsampled, which is not supported");
                const SampleType type = c.channel().type == Imf::UINT   ? SampleType::UInt32
                                        : c.channel().type == Imf::HALF ? SampleType::Half
                                                                        : SampleType::Float;
                for (const auto& seen : found)
                    if (seen.first.name == name)
                        throw ImageError("two parts hold a channel named '" + name + "'");
                found.push_back({{name, type}, {part, own}});
            }
            for (auto a = header.begin(); a != header.end(); ++a)
                if (const auto* text = dynamic_cast<const Imf::StringAttribute*>(&a.attribute()))
                    text_.emplace(a.name(), text->value());
        }
        std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
            return sortKey(a.first.name) < sortKey(b.first.name);
        });
        for (const auto& [channel, source] : found) {
            channels_.push_back(channel);
            sources_.push_back(source);
        }
        alpha_ = channelNamed("A");
    }

  private:
    // Where a channel lies: its part and its name there.
    struct Source {
        int part;
        std::string name;
    };
    Imf::MultiPartInputFile file_;
    std::vector<Source> sources_; // beside channels_

    void readPlanes(const std::vector<int>& channels, std::vector<Plane>& planes) override {
        // Every type arrives as float: half and float exactly, uint by value.
        // A part none of the channels lies in is never decoded.
        const size_t row = sizeof(float) * static_cast<size_t>(width_);
        std::map<int, Imf::FrameBuffer> buffers;
        for (size_t i = 0; i < channels.size(); ++i) {
            const Source& source = sources_[channels[i]];
            buffers[source.part].insert(source.name,
                                        Imf::Slice(Imf::FLOAT,
                                                   reinterpret_cast<char*>(planes[i].floats.data()),
                                                   sizeof(float), row));
        }
        try {
            for (const auto& [part, buffer] : buffers) {
                Imf::InputPart input(file_, part);
                input.setFrameBuffer(buffer);
                input.readPixels(0, height_ - 1);
            }
        } catch (const std::exception& e) {
            throw ImageError(e.what());
        }
    }
};

} // namespace

std::unique_ptr<ImageInput> openExr(const std::string& path) {
    try {
        return std::make_unique<ExrInput>(path);
    } catch (const ImageError&) {
        throw;
    } catch (const std::exception& e) {
        throw ImageError(e.what());
    }
}

void writeExr(const std::string& path, int32_t width, int32_t height, const uint8_t* rgba,
              int compression, const std::string& colourSpace) {
    // Bytes 0..255 as half floats 0..1, by table.
    Imath::half table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = Imath::half(static_cast<float>(v) / 255.0f);
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<Imath::half> pixels(n * 4);
    for (size_t i = 0; i < n * 4; ++i)
        pixels[i] = table[rgba[i]];

    Imf::Header header(width, height);
    header.compression() = compression == 0 ? Imf::NO_COMPRESSION : Imf::ZIP_COMPRESSION;
    // Level 1 by default: on rendered 1920 x 1080 frames 40% faster than
    // level 4 for files 5% larger.
    header.zipCompressionLevel() = compression < 0 ? 1 : compression;
    header.insert("colorSpace", Imf::StringAttribute(colourSpace));
    Imf::FrameBuffer buffer;
    const char* names[4] = {"R", "G", "B", "A"};
    for (int c = 0; c < 4; ++c) {
        header.channels().insert(names[c], Imf::Channel(Imf::HALF));
        buffer.insert(names[c],
                      Imf::Slice(Imf::HALF, reinterpret_cast<char*>(pixels.data() + c),
                                 4 * sizeof(Imath::half), 4 * sizeof(Imath::half) * width));
    }
    try {
        Imf::OutputFile file(path.c_str(), header);
        file.setFrameBuffer(buffer);
        file.writePixels(height);
    } catch (const std::exception& e) {
        throw ImageError(e.what());
    }
}

void setImageThreads(int threads) {
    Imf::setGlobalThreadCount(threads > 1 ? threads : 0);
}

} // namespace orvit::app
