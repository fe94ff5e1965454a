// The scene file: a TOML description of what `orvit render` runs. Paths in it
// are relative to the scene file's folder; parseSceneFile makes them whole.
//
//   [module]                       # optional
//   file = "Orvit.p"               # default: the module built with orvit
//   server = "Tesk_Orvit"          # default
//   [scene]
//   objects = ["objects/ball.lwo"] # object files, in item order
//   [camera]                       # horizontal field of view in degrees ...
//   fov = 60.0                     # ... or focal_length and film_width (mm);
//   keys = [{time = 0.0, fov = 60.0}, {time = 0.25, fov = 45.0}]  # optional
//   [frames]
//   first = 1
//   last = 6
//   rate = 24.0                    # a frame starts at frame / rate seconds
//   [passes]
//   colour = "colour.####.png"     # #### is the zero-padded frame number
//   special = "special.####.png"
//   depth = "depth.####.exr"
//   file = "beauty.####.exr"       # the file of any pass not given its own
//   colour_channels = ["R", "G", "B", "A"]   # optional channel names
//   special_channel = "objectid"
//   depth_channel = "Z"
//   far_depth = 1.0e10             # depths from here on are the host's far
//   [output]
//   file = "out/glow.####.png"     # .png, .tif, .tiff or .exr
//   [filter]
//   settings = """v 04 ..."""      # the module's saved lines, or
//   settings_file = "glow.txt"
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvit::app {

constexpr const char* kDefaultServer = "Tesk_Orvit";

// The horizontal field of view at one time, in radians.
struct FovKey {
    double time;
    double fov;
};

struct PassFiles {
    std::string colour;  // pattern
    std::string special; // pattern
    std::string depth;   // pattern
    std::vector<std::string> colourChannels;
    std::string specialChannel;
    std::string depthChannel;
    double farDepth; // depths at or beyond become the host's far depth
};

struct SceneFile {
    std::string path;   // the scene file itself
    std::string folder; // its folder, where relative paths start
    std::string module; // empty: the module built with orvit
    std::string server = kDefaultServer;
    std::vector<std::string> objects;
    std::vector<FovKey> camera; // at least one key, ordered by time
    int first = 0;
    int last = 0;
    double rate = 24.0;
    PassFiles passes;
    std::string output; // pattern
    std::vector<std::string> settingsLines;
    std::string settingsFile; // the file they came from; empty when inline
};

// Reads and checks the whole file. Every failure is an AppError whose line
// names the file, the key and, where there is one, the value.
SceneFile parseSceneFile(const std::string& path);

// `pattern` with its run of '#' replaced by `frame`, zero-padded to the run's
// length; a pattern without '#' is returned as it is.
std::string framePath(const std::string& pattern, int frame);

// True when `pattern` holds a run of '#'.
bool hasFrameNumber(const std::string& pattern);

// The frame range "A-B" or "A"; refused when it holds no frames.
struct FrameRange {
    int first;
    int last;
};
FrameRange parseFrameRange(const std::string& text);

// One frame number, 0 to 99999999, given as `option` on the command line.
int parseFrameNumber(const std::string& text, const std::string& option);

// `text` with no code point the TOML parser cannot take: inside a basic
// string each becomes its \u escape, a literal string holding one becomes the
// same basic string, in a comment each becomes '?'. Anywhere else TOML allows
// no such character, and it is a syntax error naming its line and column.
// With `origin`, origin[k] is the offset in `text` that byte k of the result
// comes from, and one more entry maps the end.
std::string parserSafeText(std::string_view text, const std::string& path,
                           std::vector<size_t>* origin = nullptr);

} // namespace orvit::app
