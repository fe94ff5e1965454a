#include "orvit/images/colour_choice.h"

#include <cstdlib>

namespace orvit::images {

ColourSettings chooseColour(const ColourRequest& request, const ColourFault& fail) {
    ColourSettings settings;
    using Transform = ColourSettings::Transform;
    if (request.transform == "ocio" ||
        (request.transform.empty() && (!request.display.empty() || !request.view.empty())))
        settings.transform = Transform::Ocio;
    else if (request.transform == "linear")
        settings.transform = Transform::Linear;
    else if (!request.transform.empty() && request.transform != "srgb")
        fail(ColourKey::Transform,
             "must be \"srgb\", \"linear\" or \"ocio\", not \"" + request.transform + "\"");
    const std::pair<ColourKey, const std::string*> keys[] = {{ColourKey::Config, &request.config},
                                                             {ColourKey::Display, &request.display},
                                                             {ColourKey::View, &request.view},
                                                             {ColourKey::Look, &request.look}};
    if (settings.transform != Transform::Ocio) {
        // A transform named outright takes none of them; else a key given
        // without the view it is for lacks that view.
        for (const auto& [key, value] : keys)
            if (!value->empty())
                fail(key, request.transform.empty() ? "needs " + request.viewName
                                                    : "is only for transform = \"ocio\"");
        return settings;
    }
    if (request.view.empty()) {
        if (!request.display.empty())
            fail(ColourKey::Display, "needs " + request.viewName);
        fail(ColourKey::View, "is missing");
    }
    settings.config = request.config;
    settings.display = request.display;
    settings.view = request.view;
    settings.look = request.look;
    return settings;
}

std::string configFile(const ColourSettings& settings) {
    if (!settings.config.empty())
        return settings.config;
    const char* environment = std::getenv("OCIO");
    return environment != nullptr ? environment : "";
}

} // namespace orvit::images
