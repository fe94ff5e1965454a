// `orvit init`: a scene that renders at once, made from a renderer's
// numbered frames: the frame range from the files present, the channels of
// each pass recognised by their names, a far depth where the renderer marks
// empty background with a huge one, a surface for every special value the
// frames hold, and settings, made by the module itself, that give each value
// a glow.
#pragma once

#include "orvit/images/colour_transform.h"
#include "orvit/scene/frame_pattern.h"
#include "orvit/scene/scene_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvit::commands {

// The characters a list of names or ids in a message may take: a line holds
// it, the scene lists them all.
constexpr size_t kListRoom = 160;

// Depths from here on are no surface's: renderers mark empty background
// with 1e10 or more (a million kilometres in metres). The scene's far_depth.
constexpr double kFarFrom = 1.0e9;

struct InitRequest {
    // The frames, #### for the frame number: one pattern, or one for each
    // file a renderer writes a frame's passes to.
    std::vector<std::string> patterns;
    std::string output = "scene.toml"; // the scene to write
    // As typed on the command line, so that a bad one is named as typed.
    std::string fov;            // degrees
    std::string focalLength;    // mm, with filmWidth
    std::string filmWidth;      // mm
    std::string frames;         // A-B; empty: every numbered file present
    std::string colourChannels; // "R,G,B" or "R,G,B,A"; empty: recognised
    std::string specialChannel;
    std::string depthChannel;
    std::string cryptomatte;        // the Cryptomatte layer of the special pass
    std::vector<std::string> names; // globs: the Cryptomatte objects to glow; empty: all
    bool update = false;            // into the scene at `output`, keeping its surfaces and settings
    // An OpenColorIO display and view (and look) instead of the sRGB
    // formula, from `ocioConfig`, else $OCIO.
    std::string display, view, look, ocioConfig;
};

struct InitResult {
    std::string scene;    // the scene written
    std::string settings; // the settings file written beside it
    scene::FrameRange range{0, 0};
    int32_t width = 0;
    int32_t height = 0;
    // The pattern of each pass as typed; the depth's empty when none holds it.
    std::string colourPattern, specialPattern, depthPattern;
    std::vector<std::string> colourChannels;
    std::string specialChannel;
    std::string depthChannel; // empty: the scene has no depth pass
    std::string cryptomatte;  // the layer, when a Cryptomatte gives the special pass
    std::vector<std::string> otherCryptomattes; // the other layers of its file
    std::vector<int> values;                    // the special values found
    std::vector<scene::SurfaceEntry> surfaces;  // written
    std::vector<std::string> unheld;            // kept surfaces that no frame holds (surfaceLabel)
    std::vector<std::string> warnings;          // one line each, naming the file
    bool farDepth = false;                      // far_depth written
    images::ColourSettings colour;              // the transform written
};

// Reads every frame once and writes the scene and its settings file (the
// scene's name with "-glow.txt", beside it, a folder made for them where
// there is none), neither of which may exist yet; with `update`, the
// scene must exist and is written anew keeping its surfaces (a name keeps
// its value), its settings file, where new values get the default glow, and
// the keys the frames do not give unless the request sets them (camera,
// rate, colour, output, compression, module, object files). Every failure is
// an AppError with one line, and then nothing has been written. The settings
// come from `builtModule`.
InitResult initScene(const InitRequest& request, const std::string& builtModule);

} // namespace orvit::commands
