// `orvit preview`: one frame of a scene rendered through the module, the
// settings panel opened on one special value with the display chosen, and
// the panel's 256 x 192 preview area written to an image file.
#pragma once

#include "orvit/panel/preview_picture.h"

#include <string>

namespace orvit::commands {

struct PreviewRequest {
    std::string scene;
    // As given on the command line, so that each bad one is named as given.
    std::string frame;
    std::string value;               // empty: the panel's first special value
    std::string display = "preview"; // color, depth, special or preview
    bool half = false;               // the "1/2 res" box ticked
    std::string output;              // a frame mark (####) in its file name becomes the frame
    std::string module;              // the module file, over the scene's
};

struct PreviewResult {
    std::string output;  // the file written: the output with its frame mark filled
    std::string display; // the item chosen, as the panel lists it
    std::string value;   // the special value shown, as the popup lists it
    panel::Picture picture;
};

// Checks every argument, renders the frame (no image written), opens the
// panel headless, works it as a person would (picks the value, ticks the box,
// picks the display, or presses "Preview" for the glow), takes the preview
// area, cancels the panel and writes the picture to `request.output`. Every
// failure is an AppError with one line, and then no file has been written.
PreviewResult previewScene(const PreviewRequest& request, const std::string& builtModule);

} // namespace orvit::commands
