#include "orvit/images/colour_transform.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/files/paths.h"

#include <OpenColorIO/OpenColorIO.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

namespace OCIO = OCIO_NAMESPACE;

namespace orvit::images {
namespace {

uint8_t srgbByte(float linear) {
    return unitToByte(static_cast<float>(srgbFromLinear(linear)));
}

// The least float in (0, 1] that becomes at least byte `k` through the
// transfer function, found by halving the float range: the steps then give
// exactly the formula's byte for every float, at the cost of a search.
float firstFloatOf(int k) {
    float low = 0.0f, high = 1.0f; // srgbByte(low) < k <= srgbByte(high)
    while (std::nextafter(low, high) < high) {
        const float middle = low + (high - low) / 2;
        if (middle <= low || middle >= high)
            break;
        (srgbByte(middle) >= k ? high : low) = middle;
    }
    return high;
}

// A list of names as "a, b, c".
std::string listed(int count, const std::function<const char*(int)>& name) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.emplace_back(name(i));
    return names.empty() ? "none" : core::joined(names);
}

// The files of every FileTransform that the chosen display, view and look
// can reach: through colour spaces (both directions), looks, view
// transforms and the transforms that name them, each followed once. The
// library opens these itself, and would wait forever on a named pipe.
class LutFiles {
  public:
    explicit LutFiles(const OCIO::ConstConfigRcPtr& config) : config_(config) {}

    void transform(const OCIO::ConstTransformRcPtr& t) {
        if (!t)
            return;
        if (const auto file = OCIO::DynamicPtrCast<const OCIO::FileTransform>(t)) {
            files.emplace_back(file->getSrc());
        } else if (const auto group = OCIO::DynamicPtrCast<const OCIO::GroupTransform>(t)) {
            for (int i = 0; i < group->getNumTransforms(); ++i)
                transform(group->getTransform(i));
        } else if (const auto space = OCIO::DynamicPtrCast<const OCIO::ColorSpaceTransform>(t)) {
            colourSpace(space->getSrc());
            colourSpace(space->getDst());
        } else if (const auto look = OCIO::DynamicPtrCast<const OCIO::LookTransform>(t)) {
            colourSpace(look->getSrc());
            colourSpace(look->getDst());
            looks(look->getLooks());
        } else if (const auto view = OCIO::DynamicPtrCast<const OCIO::DisplayViewTransform>(t)) {
            colourSpace(view->getSrc());
            displayView(view->getDisplay(), view->getView());
        }
    }
    void colourSpace(const char* name) {
        if (name == nullptr || !seen_.insert(std::string("space ") + name).second)
            return;
        if (const auto space = config_->getColorSpace(name)) {
            transform(space->getTransform(OCIO::COLORSPACE_DIR_TO_REFERENCE));
            transform(space->getTransform(OCIO::COLORSPACE_DIR_FROM_REFERENCE));
        } else if (const auto named = config_->getNamedTransform(name)) {
            transform(named->getTransform(OCIO::TRANSFORM_DIR_FORWARD));
            transform(named->getTransform(OCIO::TRANSFORM_DIR_INVERSE));
        }
    }
    // A look list as "+a, -b: c", each name trimmed of its blanks and sign.
    void looks(const char* list) {
        std::string text = list == nullptr ? "" : list;
        for (char& c : text)
            if (c == ':')
                c = ',';
        size_t start = 0;
        while (start <= text.size()) {
            const size_t end = std::min(text.find(',', start), text.size());
            std::string name = core::trimmed(std::string_view(text).substr(start, end - start));
            if (!name.empty() && (name[0] == '+' || name[0] == '-'))
                name = core::trimmed(std::string_view(name).substr(1));
            if (!name.empty() && seen_.insert("look " + name).second)
                if (const auto look = config_->getLook(name.c_str())) {
                    colourSpace(look->getProcessSpace());
                    transform(look->getTransform());
                    transform(look->getInverseTransform());
                }
            start = end + 1;
        }
    }
    void displayView(const char* display, const char* view) {
        colourSpace(config_->getDisplayViewColorSpaceName(display, view));
        const char* viewTransform = config_->getDisplayViewTransformName(display, view);
        if (viewTransform != nullptr && *viewTransform != '\0')
            if (const auto t = config_->getViewTransform(viewTransform)) {
                transform(t->getTransform(OCIO::VIEWTRANSFORM_DIR_TO_REFERENCE));
                transform(t->getTransform(OCIO::VIEWTRANSFORM_DIR_FROM_REFERENCE));
            }
        looks(config_->getDisplayViewLooks(display, view));
    }

    std::vector<std::string> files;

  private:
    OCIO::ConstConfigRcPtr config_;
    std::set<std::string> seen_;
};

} // namespace

struct ColourTransform::Ocio {
    OCIO::ConstCPUProcessorRcPtr cpu;
};

double srgbFromLinear(double linear) {
    if (linear <= 0.0031308)
        return 12.92 * linear;
    return 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

uint8_t unitToByte(float value) {
    if (!(value > 0.0f))
        return 0;
    if (value >= 1.0f)
        return 255;
    return static_cast<uint8_t>(static_cast<int>(value * 255.0f + 0.5f));
}

ColourTransform::ColourTransform(const ColourSettings& settings, const std::string& where)
    : transform_(settings.transform) {
    switch (settings.transform) {
    case ColourSettings::Transform::Linear:
        colourSpace_ = "Linear";
        return;
    case ColourSettings::Transform::Srgb:
        colourSpace_ = "sRGB";
        for (int k = 1; k <= 255; ++k)
            srgbSteps_.push_back(firstFloatOf(k));
        return;
    case ColourSettings::Transform::Ocio:
        break;
    }
    const std::string prefix = where + (where.empty() ? "" : ": ") + "OpenColorIO ";
    const std::string configName = configFile(settings);
    if (configName.empty())
        throw core::AppError(prefix + "needs a configuration: give colour.config or set $OCIO");
    // A built-in configuration ("ocio://...") is no file.
    if (configName.rfind("ocio://", 0) != 0) {
        const std::string why = files::whyUnreadable(configName);
        if (!why.empty())
            throw core::AppError(prefix + "configuration '" + configName + "' " + why);
    }
    OCIO::ConstConfigRcPtr config;
    try {
        config = OCIO::Config::CreateFromFile(configName.c_str());
    } catch (const OCIO::Exception& e) {
        const std::string why = core::firstLine(e.what());
        throw core::AppError(prefix + "configuration '" + configName + "' cannot be read: " + why);
    }
    // No display given: the configuration's default, as hosts take it.
    display_ = settings.display.empty() ? config->getDefaultDisplay() : settings.display;
    const char* display = display_.c_str();
    const char* view = settings.view.c_str();
    bool known = false;
    for (int i = 0; i < config->getNumDisplays(); ++i)
        known = known || display_ == config->getDisplay(i);
    if (!known)
        throw core::AppError(
            prefix + "configuration '" + configName + "' has no display '" + display_ +
            "' (it has " +
            listed(config->getNumDisplays(), [&](int i) { return config->getDisplay(i); }) + ")");
    known = false;
    for (int i = 0; i < config->getNumViews(display); ++i)
        known = known || settings.view == config->getView(display, i);
    if (!known)
        throw core::AppError(prefix + "display '" + display_ + "' has no view '" + settings.view +
                             "' (it has " +
                             listed(config->getNumViews(display),
                                    [&](int i) { return config->getView(display, i); }) +
                             ")");
    if (!settings.look.empty() && !config->getLook(settings.look.c_str()))
        throw core::AppError(
            prefix + "configuration '" + configName + "' has no look '" + settings.look +
            "' (it has " +
            listed(config->getNumLooks(), [&](int i) { return config->getLookNameByIndex(i); }) +
            ")");
    // Each file the transform will open, checked before the library opens
    // it; one the search path does not find is the library's to name.
    LutFiles luts(config);
    luts.colourSpace(OCIO::ROLE_SCENE_LINEAR);
    luts.looks(settings.look.c_str());
    luts.displayView(display, view);
    for (const std::string& lut : luts.files) {
        std::string path;
        try {
            path = config->getCurrentContext()->resolveFileLocation(lut.c_str());
        } catch (const OCIO::Exception&) {
            continue;
        }
        const std::string why = files::whyUnreadable(path);
        if (!why.empty())
            throw core::AppError(prefix + "display '" + display_ + "', view '" + settings.view +
                                 "': LUT '" + path + "' " + why);
    }
    try {
        OCIO::GroupTransformRcPtr group = OCIO::GroupTransform::Create();
        if (!settings.look.empty()) {
            OCIO::LookTransformRcPtr look = OCIO::LookTransform::Create();
            look->setSrc(OCIO::ROLE_SCENE_LINEAR);
            look->setDst(OCIO::ROLE_SCENE_LINEAR);
            look->setLooks(settings.look.c_str());
            group->appendTransform(look);
        }
        OCIO::DisplayViewTransformRcPtr displayView = OCIO::DisplayViewTransform::Create();
        displayView->setSrc(OCIO::ROLE_SCENE_LINEAR);
        displayView->setDisplay(display);
        displayView->setView(view);
        group->appendTransform(displayView);
        ocio_ = std::make_unique<Ocio>();
        ocio_->cpu = config->getProcessor(group)->getDefaultCPUProcessor();
    } catch (const OCIO::Exception& e) {
        const std::string why = core::firstLine(e.what());
        throw core::AppError(prefix + "display '" + display_ + "', view '" + settings.view +
                             "': " + why);
    }
    const char* space = config->getDisplayViewColorSpaceName(display, view);
    colourSpace_ = space != nullptr && *space != '\0' ? space : display_ + " " + settings.view;
}

ColourTransform::~ColourTransform() = default;

void ColourTransform::toBytes(std::vector<float>& rgb, const float* alpha, uint8_t* red,
                              uint8_t* green, uint8_t* blue) const {
    const size_t n = rgb.size() / 3;
    uint8_t* const out[3] = {red, green, blue};
    const auto partly = [alpha](size_t p) {
        return alpha != nullptr && alpha[p] != 0.0f && alpha[p] != 1.0f;
    };
    // A partly covered pixel is divided by its alpha before the transform and
    // goes back through its coverage after it.
    const auto covered = [alpha](size_t p, float shown) {
        return shown * alpha[p] * (1.0f / alpha[p]);
    };
    if (transform_ == ColourSettings::Transform::Srgb) {
        for (size_t p = 0; p < n; ++p) {
            const float* v = &rgb[p * 3];
            if (partly(p)) {
                const float inverse = 1.0f / alpha[p];
                for (int c = 0; c < 3; ++c)
                    out[c][p] =
                        unitToByte(covered(p, static_cast<float>(srgbFromLinear(v[c] * inverse))));
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                // Not a number, like 0, finds no step below it.
                const auto steps =
                    v[c] > 0.0f ? std::upper_bound(srgbSteps_.begin(), srgbSteps_.end(), v[c])
                                : srgbSteps_.begin();
                out[c][p] = static_cast<uint8_t>(steps - srgbSteps_.begin());
            }
        }
        return;
    }
    // OpenColorIO transforms the straight colour in place.
    for (size_t p = 0; p < n; ++p)
        if (partly(p)) {
            const float inverse = 1.0f / alpha[p];
            for (size_t c = p * 3; c < p * 3 + 3; ++c)
                rgb[c] *= inverse;
        }
    if (ocio_ && n > 0) {
        OCIO::PackedImageDesc image(rgb.data(), static_cast<long>(n), 1, 3);
        ocio_->cpu->apply(image);
    }
    for (size_t p = 0; p < n; ++p) {
        const bool part = partly(p);
        for (int c = 0; c < 3; ++c) {
            const float shown = rgb[p * 3 + static_cast<size_t>(c)];
            out[c][p] = unitToByte(part ? covered(p, shown) : shown);
        }
    }
}

} // namespace orvit::images
