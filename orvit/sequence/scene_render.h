// Rendering a scene file's frames through a loaded module: passes in, the
// filter's process, the finished image out, one frame at a time.
#pragma once

#include "orvit/core/envelopes.h"
#include "orvit/core/loader.h"
#include "orvit/core/memory_frame.h"
#include "orvit/host/host_services.h"
#include "orvit/scene/scene_file.h"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orvit::scene {
class SurfaceObject;
} // namespace orvit::scene

namespace orvit::sequence {

// What the host knows of one frame it rendered: its time, the milliseconds
// spent on each step, the image written and the envelope values its envelope
// service gave while the filter processed the frame.
struct FrameReport {
    int frame = 0;
    double start = 0.0; // seconds
    std::string output;
    int32_t width = 0;
    int32_t height = 0;
    double readMs = 0.0;
    double processMs = 0.0;
    double writeMs = 0.0;
    std::vector<core::EnvelopeEvaluation> envelopes;
    // From a Cryptomatte: the ids of the scene's surfaces its pixels hold.
    bool cryptomatte = false;
    std::set<uint32_t> surfaceIdsHeld;
};

// The lines `orvit render` prints for a frame: its time, size, the
// milliseconds of each step and the image written, then its envelope values
// when the filter evaluated any (a scene without envelopes gets one line).
std::string frameSummary(const FrameReport& report);

// The envelope values of a frame, e.g. "envelope 1 (settings line 5) at
// 0.0417 s = 51.6667, envelope 2 ..." with the envelope service's ordinals.
std::string describeEnvelopes(const std::vector<core::EnvelopeEvaluation>& evaluations);

// Loads the scene's settings into `instance`. Fails, naming the settings
// file (or the scene's key), the line where the module stopped and what was
// there, unless the module's load read the scene's settings lines exactly:
// every line up to the last one that is not blank, as written, and no line
// past the end. The host cannot read the module's format; its line reader
// sees how the load used the lines.
void loadSceneSettings(core::Instance& instance, const scene::SceneFile& scene);

// A scene's filter as the host sets it up before it renders a frame or opens
// the settings: the scene told to `host`, the module loaded, its filter
// activated, an instance made and the scene's settings loaded into it and
// checked (loadSceneSettings). Every failure is an AppError or a HostError
// with one line naming the fault. `host` must outlive it.
class SceneInstance {
  public:
    // Without `loadSettings` the instance keeps the module's defaults.
    SceneInstance(const scene::SceneFile& scene, const std::string& modulePath,
                  host::HostServices& host, bool loadSettings = true);
    ~SceneInstance();
    SceneInstance(const SceneInstance&) = delete;
    SceneInstance& operator=(const SceneInstance&) = delete;

    // Offers `surfaces` to the module as one more object item, whose file
    // (SurfaceObject) lasts as long as the instance.
    void offerSurfaces(const std::vector<scene::SurfaceEntry>& surfaces);

    const core::LoadedModule& module() const { return module_; }
    core::Instance& instance() { return instance_; }
    // Frame `frame` of the scene read and run through the instance, as a host
    // renders a frame before the user opens the settings; no image written.
    void renderFrame(const scene::SceneFile& scene, int frame);
    // Whether the last frame run through the instance had a depth pass.
    bool frameHasDepth() const { return frameHasDepth_; }
    // Activates the filter's interface on the instance: the settings panel.
    void openInterface() { filter_.openInterface(instance_); }
    // Opens the settings panel as a host does when the user opens them: the
    // panel's surfaces offered (`surfaces`, else panelSurfaces of `frame` or
    // the scene's first), and with `frame` that frame run through the
    // instance first, its passes read once. Returns the surfaces' origin.
    std::string openPanel(const scene::SceneFile& scene, std::optional<int> frame,
                          const std::optional<std::vector<scene::SurfaceEntry>>& surfaces = {});

  private:
    host::HostServices& host_;
    std::unique_ptr<scene::SurfaceObject> surfaces_;
    bool frameHasDepth_ = true;
    // Declared in the order they are made; they go in reverse.
    core::LoadedModule module_;
    core::ImageFilter filter_;
    core::Instance instance_;
};

// A scene's instance with a host of its own, writing each frame it renders
// to an image file.
class SceneRenderer {
  public:
    // `modulePath` is used when the scene names no module file.
    SceneRenderer(const scene::SceneFile& scene, const std::string& modulePath);

    const scene::SceneFile& scene() const { return scene_; }
    const std::string& modulePath() const { return instance_.module().path(); }
    // The settings as the module saves them after loading the scene's lines.
    const std::vector<std::string>& savedSettings() const { return saved_; }

    // Renders frame `frame` to `outputPath`: reads the three passes, checks
    // their sizes, runs the filter and writes the image.
    FrameReport renderFrame(int frame, const std::string& outputPath);

  private:
    scene::SceneFile scene_;
    host::HostServices host_;
    SceneInstance instance_;
    std::vector<std::string> saved_;
    std::unique_ptr<images::ColourTransform> colour_;
};

// The module file: `given` if not empty, else the scene's, else
// `builtModule`; an AppError when all three are empty.
std::string chooseModule(const scene::SceneFile& scene, const std::string& given,
                         const std::string& builtModule);

// Tells the host what the scene holds: its object files, each checked to be
// a regular file it can read, and its camera, when it has one.
void describeScene(host::HostServices& host, const scene::SceneFile& scene);

// What reading a frame tells besides its planes: the colour space of its
// bytes and, from a Cryptomatte, the ids of the surfaces its pixels hold.
struct FrameFacts {
    std::string colourSpace;
    bool cryptomatte = false;
    std::set<uint32_t> surfaceIdsHeld;
};

// Frame `frame` of the scene as the host hands it to the filter: the three
// passes read and checked against each other, the frame's start time from
// the rate. Float colour goes through `transform`, else through one made
// from the scene's [colour]; `facts`, when given, receives the rest.
core::MemoryFrame readFrame(const scene::SceneFile& scene, int frame,
                            const images::ColourTransform* transform = nullptr,
                            FrameFacts* facts = nullptr);

// The scene's colour transform; an AppError naming the scene's [colour]
// when it cannot be set up.
std::unique_ptr<images::ColourTransform> sceneColourTransform(const scene::SceneFile& scene);

// Fails, naming [camera], when the module asked `host` for the camera of a
// scene that has none: a setting in a Depth mode then drew no outline glow.
void checkCameraGiven(const host::HostServices& host, const scene::SceneFile& scene);

// Fails, naming the depth pass, when the module asked `host` for the camera
// (as a glow in a Depth mode does) over a frame that has no depth pass.
void checkDepthGiven(const host::HostServices& host, const scene::SceneFile& scene,
                     bool frameHasDepth);

// Checks that the output pattern gives each frame of `range` its own file:
// an AppError when the range has several frames and the pattern no ####.
void checkOneImagePerFrame(const std::string& pattern, scene::FrameRange range);

// Checks, before anything is written, that no frame of `range` written under
// the output pattern would land on a file the scene reads: the passes of
// those frames and every pass there is of the scene's frames, the scene
// file, its settings file, its object files, the module file it names or its
// colour configuration; nor on a file that is not a regular file (a device,
// a named pipe, a folder). An AppError naming the files otherwise.
void checkOutputSparesInputs(const scene::SceneFile& scene, const std::string& pattern,
                             scene::FrameRange range);

// The frames a command works on: `frames` ("A-B" or "A") when given, else
// the scene's range.
scene::FrameRange requestedRange(const scene::SceneFile& scene, const std::string& frames);

// What a command over a range of frames names: `render`, `farm submit` and
// `farm status` read it alike.
struct SequenceRequest {
    std::string scene;
    std::string frames; // empty: the scene's range
    std::string output; // empty: the scene's
};
// A request read: its scene, its range and the output pattern (the
// request's, else the scene's), checked to give each frame its own file.
struct Sequence {
    scene::SceneFile scene;
    scene::FrameRange range;
    std::string output;
};
Sequence readSequence(const SequenceRequest& request);

// Checks that `frame` lies in the scene's range: an AppError naming the
// option `option` otherwise.
void checkFrameInScene(const scene::SceneFile& scene, int frame, const std::string& option);

// Makes the output pattern's folder if needed and checks that a file can be
// made in it, before any frame is rendered: a temporary file, made and
// removed, so that one a killed run left there is swept as stale. Returns
// the folders it made, outermost first.
std::vector<std::string> prepareOutputFolder(const std::string& pattern);

// Removes the folders of `made` (as prepareOutputFolder gives them) that are
// empty, innermost first; a folder with anything in it stays, and so do the
// folders around it.
void removeEmptyFolders(const std::vector<std::string>& made);

} // namespace orvit::sequence
