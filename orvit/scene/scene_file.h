// The scene file: a TOML description of what `orvit render` runs. Paths in it
// are relative to the scene file's folder; parseSceneFile makes them whole.
//
//   [module]                       # optional
//   file = "Orvit.p"               # default: the module built with orvit
//   server = "Tesk_Orvit"          # default
//   [scene]
//   objects = ["objects/ball.lwo"] # object files, in item order
//   [[surfaces]]                   # any number: surfaces without object files
//   name = "Cube"                  # name, id or both
//   id = "a8fce865"                # a Cryptomatte object's id (8 hex digits)
//   special = 1                    # 1 to 255; surfaces may share a value
//   [camera]                       # optional; horizontal field of view in
//   fov = 60.0                     # degrees, or focal_length and film_width
//   keys = [{time = 0.0, fov = 60.0}, {time = 0.25, fov = 45.0}]  # (mm); optional
//   [frames]
//   first = 1
//   last = 6
//   rate = 24.0                    # a frame starts at frame / rate seconds
//   [passes]
//   colour = "colour.####.png"     # #### is the zero-padded frame number
//   special = "special.####.png"
//   depth = "depth.####.exr"       # optional: Fixed and G-Fixed need no depth
//   file = "beauty.####.exr"       # the file of any pass not given its own
//   colour_channels = ["R", "G", "B", "A"]   # optional channel names
//   special_channel = "objectid"
//   depth_channel = "Z"
//   cryptomatte = "ViewLayer.CryptoObject" # the special pass from this
//                                  # Cryptomatte: [[surfaces]] by object id
//   far_depth = 1.0e10             # depths from here on are the host's far
//   [colour]                       # how float colour becomes 8-bit
//   transform = "srgb"             # default; "linear" clamps; "ocio" (the
//   config = "config.ocio"         #   default with a view) needs a view and
//   display = "sRGB"               #   takes config (else $OCIO), display
//   view = "Filmic"                #   (else the config's default) and look
//   look = "Medium Contrast"
//   [output]
//   file = "out/glow.####.png"     # .png, .tif, .tiff or .exr
//   compression = 6                # optional zlib level 0 to 9 (image_output.h)
//   [filter]
//   settings = """v 04 ..."""      # the module's saved lines, or
//   settings_file = "glow.txt"
#pragma once

#include "orvit/images/colour_choice.h"
#include "orvit/images/image_output.h"
#include "orvit/scene/frame_pattern.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvit::scene {

constexpr const char* kDefaultServer = "Tesk_Orvit";

// The horizontal field of view at one time, in radians, and as the scene
// gave it: in degrees, or by a focal length (the other is 0).
struct FovKey {
    double time;
    double fov;
    double degrees = 0.0;
    double focalLength = 0.0; // mm, on the scene's film width
};

// The camera at `time` given in degrees, and given by a focal length on a
// film `filmWidth` wide (both mm).
FovKey degreesKey(double time, double degrees);
FovKey focalLengthKey(double time, double focalLength, double filmWidth);

struct PassFiles {
    std::string colour;                      // pattern
    std::string special;                     // pattern
    std::string depth;                       // pattern; empty: the scene has no depth pass
    std::vector<std::string> colourChannels; // none, or takesColourChannels
    std::string specialChannel;
    std::string depthChannel;
    std::string cryptomatte; // the layer whose rank-0 objects give the special pass
    double farDepth;         // depths at or beyond become the host's far depth
    // The depth pass is only the shared file's, named by no key: a frame
    // whose file has no channel recognised as depth has none.
    bool depthMayBeAbsent = false;
};

// Colour channels are named as R, G, B or R, G, B, A: 3 or 4 names.
inline bool takesColourChannels(size_t count) {
    return count == 3 || count == 4;
}

// A surface the scene declares by name and special value, and for a
// Cryptomatte by the id its object has in the frames.
struct SurfaceEntry {
    std::string name; // empty: known by its id only
    int special = 0;  // 1 to 255
    // The Cryptomatte id (float bits) that selects the surface's pixels;
    // none: the hash of its name.
    std::optional<uint32_t> id = std::nullopt;
};

// A Cryptomatte object held by frames: its id and its name (empty: no
// manifest names it); objects by their ids.
using HeldObject = std::pair<uint32_t, std::string>;
using HeldObjects = std::map<uint32_t, std::string>;

// An id as the scene and the messages write it: 8 hex digits, "00800000".
std::string idText(uint32_t id);

// The surface as messages name it: its name in quotes, else "id 00800000".
std::string surfaceLabel(const SurfaceEntry& surface);

// The text a scene was read from, kept where it holds inline settings, and
// the bytes of their value in it (begin, end); none: no inline settings.
struct SceneSource {
    std::string text;
    size_t settingsBegin = 0;
    size_t settingsEnd = 0;
};

struct SceneFile {
    std::string path;   // the scene file itself
    std::string folder; // its folder, where relative paths start
    std::string module; // empty: the module built with orvit
    std::string server = kDefaultServer;
    std::vector<std::string> objects;
    std::vector<SurfaceEntry> surfaces;
    std::vector<FovKey> camera; // ordered by time; empty: the scene has no camera
    double filmWidth = 0.0;     // mm; 0: not given
    int first = 0;
    int last = 0;
    double rate = 24.0;
    PassFiles passes;
    images::ColourSettings colour;
    std::string output; // pattern
    int compression = images::kFastCompression;
    std::vector<std::string> settingsLines;
    std::string settingsFile;        // the file they came from; empty when inline
    bool settingsFileAbsent = false; // settingsFile is yet to be made
    SceneSource source;              // for putting inline settings back (scene_writer.h)
};

// Reads and checks the whole file. Every failure is an AppError whose line
// names the file, the key and, where there is one, the value. With
// `settingsMayBeAbsent`, a `filter.settings_file` that does not exist yet
// is no failure: the scene then has no settings lines.
SceneFile parseSceneFile(const std::string& path, bool settingsMayBeAbsent = false);

} // namespace orvit::scene
