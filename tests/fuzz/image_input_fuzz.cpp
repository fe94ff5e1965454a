// Opens an image file made of the fuzzer's bytes (a file in memory) and reads
// every channel. Any bytes give an image whose planes have the size its
// header promised, or one ImageError whose message is one line; any other
// exception escapes and counts as a finding.
//
// Seeds (corpus/image_input_fuzz/), each a few pixels:
//   rgba-zip.exr          half RGBA, scanlines, ZIP
//   data-window-overhangs.exr
//                         pixel data 6 x 3 at (2, -1) over a 4 x 2 frame
//   layers-tiled.exr      float channels named as renderers name them, tiles
//   grey16.png            16-bit grey
//   rgba8.png             8-bit RGBA
//   palette.png, .tif     palette images (indices, not colours)
//   four-bit-grey.tif     refused once open (found by this target: the refused
//                         file's handle was never closed)
//   float-planar.tif      32-bit float RGB in planes
//   tiled16.tif           16-bit RGBA in tiles
//   image-input-carriage-return-in-channel-name.exr
//                         the library's message quotes a damaged channel name
//                         holding a carriage return (found by this target)
//   image-input-header-claims-1.9-gigabytes.exr
//                         a string attribute whose size claims 1.9 GB of a
//                         978-byte file (found by this target)
//   image-input-png-chunk-claims-1.9-gigabytes.png
//                         a text chunk whose length claims 1.9 GB, which
//                         libpng allocated before reading (found by this
//                         target)
//   image-input-channel-list-longer-than-its-size.exr
//                         a channel list 3 bytes longer than its size, after
//                         which the library read a string claiming 1.8 GB
//                         (found by this target)
//   image-input-tile-larger-than-its-image.exr
//                         tiles of 12124164 x 4 pixels over a 6 x 4 image,
//                         for which the library made a 2.1 GB buffer (found
//                         by this target)
#include "orvit/images/image_input.h"
#include "tests/fuzz/memory_file.h"

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// A header may promise up to 32768 x 32768 pixels, as a real frame of that
// size needs; pixels are read only where that stays quick and small.
constexpr size_t kMaxReadPixels = size_t{1} << 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzing::MemoryFile file("image_input_fuzz");
    file.assign(data, size);
    try {
        const auto image = orvit::images::openImage(file.path());
        check(image->width() >= 1 && image->height() >= 1 && image->width() <= 32768 &&
              image->height() <= 32768);
        const auto& channels = image->channels();
        check(!channels.empty());
        const size_t n = image->pixelCount();
        if (n > kMaxReadPixels)
            return 0;
        std::vector<int> all(channels.size());
        std::iota(all.begin(), all.end(), 0);
        const std::vector<orvit::images::Plane> planes = image->read(all);
        check(planes.size() == all.size());
        for (size_t c = 0; c < planes.size(); ++c) {
            const bool bytes = channels[c].type == orvit::images::SampleType::UInt8;
            check(planes[c].bytes.size() == (bytes ? n : 0));
            check(planes[c].floats.size() == (bytes ? 0 : n));
        }
        if (image->indexed())
            check(image->readIndices().size() == n);
    } catch (const orvit::images::ImageError& e) {
        const std::string message = e.what();
        check(!message.empty());
        for (const char c : message)
            check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
    return 0;
}
