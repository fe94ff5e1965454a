// Which colour transform a scene's [colour] chooses, by the rules init's
// options follow too, and what the transform then opens: the scene's
// configuration, else $OCIO's; its display, else the configuration's default.
#include "orvit/images/colour_transform.h"
#include "orvit/scene/scene_file.h"
#include "tests/support/failure.h"
#include "tests/support/ocio_config.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

using orvit::images::ColourSettings;
using orvit::images::ColourTransform;

namespace {

// The transform chosen as "COLOUR SPACE on DISPLAY of CONFIG", or the one
// line that refuses the scene or the transform (after "scene 'PATH'").
std::string chosen(const std::string& scene) {
    std::string result;
    const std::string failure = testsupport::failure([&] {
        const ColourSettings settings = orvit::scene::parseSceneFile(scene).colour;
        const ColourTransform transform(settings, "scene '" + scene + "'");
        result = transform.colourSpace();
        if (settings.transform == ColourSettings::Transform::Ocio)
            result += " on " + transform.display() + " of " + orvit::images::configFile(settings);
    });
    return result.empty() ? failure.substr(failure.find(".toml'") + 6) : result;
}

TEST(ChooseColour, ATransformNamedOrImpliedByAViewWithTheConfigurationsDefaults) {
    testsupport::TempFolder dir;
    dir.write("root.ocio", testsupport::kSquareRootOcioConfig);
    dir.write("env.ocio", testsupport::kSquareRootOcioConfig);
    const std::string root = dir / "root.ocio", env = dir / "env.ocio";
    const std::string base = "[camera]\nfov = 60\n[frames]\nfirst = 1\nlast = 2\n"
                             "[passes]\nfile = 'p.exr'\n[output]\nfile = 'o.png'\n"
                             "[filter]\nsettings = 'v 04'\n[colour]\n"; // its keys from line 13
    const struct Case {
        const char* colour; // the keys of [colour]
        bool ocioSet;       // $OCIO names env.ocio, else it is unset
        std::string expected;
    } cases[] = {
        {"", true, "sRGB"},
        {"transform = 'srgb'", true, "sRGB"},
        {"transform = 'linear'", false, "Linear"},
        {"transform = 'ocio'\nview = 'root'\nconfig = 'root.ocio'", true,
         "root on screen of " + root},
        {"view = 'root'\ndisplay = 'screen'\nlook = 'double'", true, "root on screen of " + env},
        {"view = 'root'\nconfig = 'root.ocio'", false, "root on screen of " + root},
        {"view = 'root'", false,
         ": OpenColorIO needs a configuration: give colour.config or set $OCIO"},
        {"transform = 'filmic'", true,
         ":13: key 'colour.transform' must be \"srgb\", \"linear\" or \"ocio\", not \"filmic\""},
        {"transform = 'srgb'\nview = 'root'", true,
         ":14: key 'colour.view' is only for transform = \"ocio\""},
        {"transform = 'linear'\nconfig = 'root.ocio'", true,
         ":14: key 'colour.config' is only for transform = \"ocio\""},
        {"look = 'double'", true, ":13: key 'colour.look' needs key 'colour.view'"},
        {"transform = 'ocio'\ndisplay = 'screen'", true,
         ":14: key 'colour.display' needs key 'colour.view'"},
        {"transform = 'ocio'", true, ": key 'colour.view' is missing"},
    };
    const char* saved = std::getenv("OCIO");
    const std::optional<std::string> before =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.colour);
        if (c.ocioSet)
            setenv("OCIO", env.c_str(), 1);
        else
            unsetenv("OCIO");
        dir.write("s.toml", base + c.colour + "\n");
        EXPECT_EQ(chosen(dir / "s.toml"), c.expected);
    }
    if (before)
        setenv("OCIO", before->c_str(), 1);
    else
        unsetenv("OCIO");
}

} // namespace
