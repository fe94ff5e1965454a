// How a float colour pass (linear light, as renderers write it) becomes the
// module's 8-bit colour: the sRGB transfer function, a plain clamp, or a
// display and view of an OpenColorIO configuration, so that frames look as
// the renderer's own viewer shows them. 8-bit passes are display-referred
// already and never pass through here; alpha is coverage, not light, and is
// only clamped.
#pragma once

#include "orvit/images/colour_choice.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvit::images {

// The sRGB transfer function of a linear value (0 to 1 gives 0 to 1).
double srgbFromLinear(double linear);

// 0..1 to a byte: clamped, scaled by 255 and rounded to nearest; not a
// number gives 0.
uint8_t unitToByte(float value);

class ColourTransform {
  public:
    // Sets up the transform once; an OpenColorIO configuration, display,
    // view or look that cannot be used, or a file its transform would open
    // that is not a regular file it can read, is an AppError naming
    // `where`. An empty display is the configuration's default.
    explicit ColourTransform(const ColourSettings& settings = {}, const std::string& where = "");
    ~ColourTransform();
    ColourTransform(const ColourTransform&) = delete;
    ColourTransform& operator=(const ColourTransform&) = delete;

    // `rgb` holds pixels of three interleaved floats, premultiplied by
    // `alpha` (a float a pixel; null: opaque) as EXR keeps colour; each
    // pixel's straight bytes go to red[i], green[i] and blue[i]. A partly
    // covered pixel is divided by its alpha, transformed, multiplied by it
    // and divided again, all in floats, then rounded: the renderers' viewers
    // make 8-bit straight colour so, and the bytes must be theirs. Alpha 0
    // and 1 are transformed as they are. `rgb` may be changed.
    void toBytes(std::vector<float>& rgb, const float* alpha, uint8_t* red, uint8_t* green,
                 uint8_t* blue) const;

    // The colour space the bytes of a float pass are in, as output headers
    // name it ("sRGB", "Linear", or the OpenColorIO view's colour space).
    const std::string& colourSpace() const { return colourSpace_; }
    // The OpenColorIO display used: the settings', else the configuration's
    // default.
    const std::string& display() const { return display_; }

  private:
    struct Ocio;
    ColourSettings::Transform transform_;
    std::string colourSpace_;
    std::string display_;
    // For sRGB: entry k is the least float that becomes byte k + 1.
    std::vector<float> srgbSteps_;
    std::unique_ptr<Ocio> ocio_;
};

// The colour space of frames whose colour pass was 8-bit.
constexpr const char* kEightBitColourSpace = "sRGB";

} // namespace orvit::images
