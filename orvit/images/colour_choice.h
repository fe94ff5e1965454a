// Which transform float colour (linear light) goes through on its way to the
// module's bytes: the sRGB formula, a plain clamp, or a display, view and
// look of an OpenColorIO configuration. A scene's [colour] and init's
// options choose it by the same rules, which live here.
#pragma once

#include <functional>
#include <string>

namespace orvit::images {

struct ColourSettings {
    enum class Transform { Srgb, Linear, Ocio };
    Transform transform = Transform::Srgb;
    std::string config;  // OpenColorIO configuration as given; empty: $OCIO's (configFile)
    std::string display; // empty: the configuration's default
    std::string view;
    std::string look; // optional
};

// What a scene's [colour] or init's options say; each empty when not given.
struct ColourRequest {
    std::string transform; // "srgb", "linear" or "ocio"
    std::string config, display, view, look;
    std::string viewName; // the view as faults name it: "--view", "key 'colour.view'"
};

// The part of a request a fault is about.
enum class ColourKey { Transform, Config, Display, View, Look };

// Told the key at fault and why (to follow the key's name: "needs --view");
// it throws, naming the key as its caller does.
using ColourFault = std::function<void(ColourKey key, const std::string& why)>;

// The transform a request chooses: `transform` when given, else OpenColorIO
// when a display or a view is given, else the sRGB formula. A configuration,
// display, view or look is only for OpenColorIO, which needs a view; without
// a display the configuration's default is taken, and without a
// configuration $OCIO's (configFile).
ColourSettings chooseColour(const ColourRequest& request, const ColourFault& fail);

// The OpenColorIO configuration a transform of `settings` opens: its own,
// else the one $OCIO names; empty when neither names one. Read when the
// transform is made, so that a scene that leaves it to $OCIO keeps doing so.
std::string configFile(const ColourSettings& settings);

} // namespace orvit::images
