#include "orvit/sequence/scene_render.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/files/atomic_file.h"
#include "orvit/files/paths.h"
#include "orvit/files/temporary_files.h"
#include "orvit/images/image_output.h"
#include "orvit/passes/passes.h"
#include "orvit/scene/scene_surfaces.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvit::sequence {
namespace {

using core::inQuotes;

double millisecondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

bool blank(const std::string& line) {
    return line.find_first_not_of(" \t\r\f\v") == std::string::npos;
}

} // namespace

SceneInstance::SceneInstance(const scene::SceneFile& scene, const std::string& modulePath,
                             host::HostServices& host, bool loadSettings)
    : host_(host), module_(modulePath),
      filter_(module_, scene.server, host::HostServices::lookup()), instance_(filter_.create()) {
    // The module reads the scene through the host's services only once an
    // instance renders or opens its panel.
    describeScene(host, scene);
    if (loadSettings)
        loadSceneSettings(instance_, scene);
}

SceneInstance::~SceneInstance() = default;

void SceneInstance::offerSurfaces(const std::vector<scene::SurfaceEntry>& surfaces) {
    surfaces_ = std::make_unique<scene::SurfaceObject>(surfaces);
    if (!surfaces_->path().empty())
        host_.scene.objects.push_back(surfaces_->path());
}

void SceneInstance::renderFrame(const scene::SceneFile& scene, int frame) {
    core::MemoryFrame memory = readFrame(scene, frame);
    frameHasDepth_ = memory.hasDepth;
    instance_.process(memory);
}

namespace {
// Where the panel's surfaces come from: the scene's object files and
// surfaces, or, when it names neither, the values of the special pass of
// frame `frame` (`special`, its values when already read), which `origin`
// then names in one line.
struct PanelSurfaces {
    std::vector<scene::SurfaceEntry> surfaces; // besides the scene's object files
    std::string origin;                        // empty for the scene's own
};
PanelSurfaces panelSurfaces(const scene::SceneFile& scene, int frame,
                            const std::vector<uint8_t>* special) {
    PanelSurfaces result;
    if (!scene.objects.empty() || !scene.surfaces.empty()) {
        result.surfaces = scene.surfaces;
        return result;
    }
    const std::string path = scene::framePath(scene.passes.special, frame);
    const std::vector<int> values = scene::specialValuesIn(
        special != nullptr
            ? *special
            : passes::readSpecialPass(path, scene.passes.specialChannel, scene.passes.cryptomatte)
                  .values);
    result.surfaces = scene::surfacesForValues(values);
    const std::string listed = core::joined(values, [](int v) { return std::to_string(v); });
    result.origin = "surfaces: the scene names none; found in the special pass of frame " +
                    std::to_string(frame) + " ('" + path +
                    "'): " + (listed.empty() ? "no value" : "values " + listed);
    return result;
}

} // namespace

std::string
SceneInstance::openPanel(const scene::SceneFile& scene, std::optional<int> frame,
                         const std::optional<std::vector<scene::SurfaceEntry>>& surfaces) {
    std::optional<core::MemoryFrame> memory;
    if (frame)
        memory.emplace(readFrame(scene, *frame));
    PanelSurfaces offered;
    if (surfaces)
        offered.surfaces = *surfaces;
    else
        offered =
            panelSurfaces(scene, frame.value_or(scene.first), memory ? &memory->special : nullptr);
    offerSurfaces(offered.surfaces);
    if (memory) {
        frameHasDepth_ = memory->hasDepth;
        instance_.process(*memory);
    }
    // Only what the panel draws counts: the frame's other settings drew
    // nothing there.
    host_.missingCameraRequests = 0;
    host_.cameraRequests = 0;
    openInterface();
    return offered.origin;
}

SceneRenderer::SceneRenderer(const scene::SceneFile& scene, const std::string& modulePath)
    : scene_(scene), instance_(scene_, chooseModule(scene, "", modulePath), host_),
      saved_(instance_.instance().save()), colour_(sceneColourTransform(scene_)) {}

FrameReport SceneRenderer::renderFrame(int frame, const std::string& outputPath) {
    FrameReport report;
    report.frame = frame;
    report.output = outputPath;
    report.start = frame / scene_.rate;

    auto t0 = std::chrono::steady_clock::now();
    FrameFacts facts;
    core::MemoryFrame memory = readFrame(scene_, frame, colour_.get(), &facts);
    report.cryptomatte = facts.cryptomatte;
    report.surfaceIdsHeld = std::move(facts.surfaceIdsHeld);
    report.readMs = millisecondsSince(t0);
    report.width = memory.width;
    report.height = memory.height;

    const uint64_t mark = core::evaluationMark();
    t0 = std::chrono::steady_clock::now();
    host_.cameraRequests = 0;
    instance_.instance().process(memory);
    report.processMs = millisecondsSince(t0);
    checkDepthGiven(host_, scene_, memory.hasDepth);
    checkCameraGiven(host_, scene_);
    report.envelopes = core::evaluationsSince(mark);

    t0 = std::chrono::steady_clock::now();
    const std::vector<uint8_t> rgba = images::filmPixels(
        memory.outRed.size(), {memory.red.data(), memory.green.data(), memory.blue.data()},
        {memory.outRed.data(), memory.outGreen.data(), memory.outBlue.data(),
         memory.outAlpha.data()});
    images::writeImage(outputPath, memory.width, memory.height, rgba, scene_.compression,
                       facts.colourSpace);
    report.writeMs = millisecondsSince(t0);
    return report;
}

void loadSceneSettings(core::Instance& instance, const scene::SceneFile& scene) {
    const std::vector<std::string>& lines = scene.settingsLines;
    const core::Instance::LoadReport load = instance.loadReporting(lines);
    const std::string where = scene.settingsFile.empty()
                                  ? "scene '" + scene.path + "': key 'filter.settings'"
                                  : "settings '" + scene.settingsFile + "'";
    const std::string total = std::to_string(lines.size());
    if (load.firstCutLine > 0) {
        // The module took only the start of the line, not what it says.
        const std::string& line = lines[load.firstCutLine - 1];
        throw core::AppError(where + ": line " + std::to_string(load.firstCutLine) + " of " +
                             total + " has " + std::to_string(line.size()) +
                             " characters; the module reads " + std::to_string(load.cutRoom) +
                             " (" + core::inQuotes(line.substr(0, 20) + "...") +
                             "): it was not taken as written");
    }
    if (load.readsPastEnd > 0) {
        if (lines.empty())
            throw core::AppError(where +
                                 ": the module read past the end: the settings have no lines");
        throw core::AppError(where + ": the module read past the end, after line " + total +
                             " of " + total + " (" + core::inQuotes(lines.back()) +
                             "): the settings are cut short");
    }
    size_t last = lines.size();
    while (last > 0 && blank(lines[last - 1]))
        --last;
    if (load.linesRead >= last)
        return;
    if (load.linesRead == 0)
        throw core::AppError(where + ": the module read none of the " + total + " lines");
    const std::string stop = std::to_string(load.linesRead);
    const std::string next = std::to_string(load.linesRead + 1);
    throw core::AppError(where + ": the module stopped reading at line " + stop + " of " + total +
                         " (" + core::inQuotes(lines[load.linesRead - 1]) + "): " +
                         (load.linesRead + 1 == lines.size()
                              ? "line " + next + " was"
                              : "lines " + next + " to " + total + " were") +
                         " not read");
}

std::string frameSummary(const FrameReport& r) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "frame %d  t %.4f s  %dx%d  read %.1f ms  process %.1f ms  write %.1f ms  -> ",
                  r.frame, r.start, r.width, r.height, r.readMs, r.processMs, r.writeMs);
    const std::string envelopes =
        r.envelopes.empty() ? "" : "  envelopes: " + describeEnvelopes(r.envelopes) + "\n";
    return line + r.output + "\n" + envelopes;
}

std::string describeEnvelopes(const std::vector<core::EnvelopeEvaluation>& evaluations) {
    return core::joined(evaluations, [](const core::EnvelopeEvaluation& e) {
        std::string text = "envelope " + std::to_string(e.ordinal);
        if (e.loadedAtLine > 0)
            text += " (settings line " + std::to_string(e.loadedAtLine) + ")";
        char number[64];
        std::snprintf(number, sizeof number, " at %.4f s = %g", e.time, e.value);
        return text + number;
    });
}

std::string chooseModule(const scene::SceneFile& scene, const std::string& given,
                         const std::string& builtModule) {
    const std::string module = !given.empty()          ? given
                               : !scene.module.empty() ? scene.module
                                                       : builtModule;
    if (module.empty())
        throw core::AppError("scene '" + scene.path + "': no module file (key 'module.file')");
    return module;
}

void describeScene(host::HostServices& host, const scene::SceneFile& scene) {
    // The module's scan reads them: a missing one would drop its surfaces
    // unseen, a pipe would hold the scan forever.
    for (const std::string& object : scene.objects) {
        const std::string why = files::whyUnreadable(object);
        if (!why.empty())
            throw core::AppError("scene '" + scene.path + "': key 'scene.objects' names '" +
                                 object + "', which " + why);
    }
    host.scene.objects = scene.objects;
    host.scene.cameras.clear();
    if (scene.camera.empty())
        return;
    core::Camera camera;
    for (const scene::FovKey& key : scene.camera)
        camera.horizontalFov.push_back({key.time, key.fov});
    host.scene.cameras = {camera};
}

std::unique_ptr<images::ColourTransform> sceneColourTransform(const scene::SceneFile& scene) {
    return std::make_unique<images::ColourTransform>(scene.colour,
                                                     "scene '" + scene.path + "': [colour]");
}

core::MemoryFrame readFrame(const scene::SceneFile& scene, int frame,
                            const images::ColourTransform* transform, FrameFacts* facts) {
    std::unique_ptr<images::ColourTransform> own;
    if (transform == nullptr) {
        own = sceneColourTransform(scene);
        transform = own.get();
    }
    passes::FramePasses passes =
        passes::readFramePasses(scene.passes, frame, *transform, scene.surfaces);
    if (facts != nullptr) {
        facts->colourSpace = passes.colour.colourSpace;
        facts->cryptomatte = !passes.special.cryptomatte.empty();
        facts->surfaceIdsHeld = std::move(passes.special.surfaceIdsHeld);
    }
    core::MemoryFrame memory(passes.colour.width, passes.colour.height);
    memory.frame = frame;
    memory.start = frame / scene.rate;
    memory.end = (frame + 1) / scene.rate;
    memory.red = std::move(passes.colour.red);
    memory.green = std::move(passes.colour.green);
    memory.blue = std::move(passes.colour.blue);
    memory.alpha = std::move(passes.colour.alpha);
    memory.special = std::move(passes.special.values);
    memory.hasDepth = !passes.depth.depths.empty();
    if (memory.hasDepth)
        memory.depth = std::move(passes.depth.depths);
    else
        memory.depth.assign(memory.depth.size(), kHostFarDepth); // nothing is near
    return memory;
}

void checkCameraGiven(const host::HostServices& host, const scene::SceneFile& scene) {
    if (host.missingCameraRequests > 0)
        throw core::AppError(
            "scene '" + scene.path +
            "': a glow in a Depth mode needs the camera: add [camera] with fov, or "
            "focal_length and film_width");
}

void checkDepthGiven(const host::HostServices& host, const scene::SceneFile& scene,
                     bool frameHasDepth) {
    if (!frameHasDepth && host.cameraRequests > 0)
        throw core::AppError("scene '" + scene.path +
                             "': a glow in a Depth mode needs the depth pass: add passes.depth, or "
                             "passes.depth_channel naming the depth in passes.file");
}

void checkOneImagePerFrame(const std::string& pattern, scene::FrameRange range) {
    const int total = range.last - range.first + 1;
    if (total > 1 && !scene::hasFrameNumber(pattern))
        throw core::AppError("output '" + pattern +
                             "' has no #### for the frame number, and frames " +
                             scene::rangeText(range) + " are " + std::to_string(total) + " images");
}

void checkOutputSparesInputs(const scene::SceneFile& scene, const std::string& pattern,
                             scene::FrameRange range) {
    std::map<files::FileIdentity, std::string> inputs; // each file the scene reads, as named
    const auto add = [&](const std::string& role, const std::string& path) {
        if (!path.empty())
            inputs.emplace(files::fileIdentity(path), role + " '" + path + "'");
    };
    add("scene", scene.path);
    add("settings file", scene.settingsFile);
    add("module", scene.module);
    for (const std::string& object : scene.objects)
        add("object file", object);
    if (scene.colour.transform == images::ColourSettings::Transform::Ocio)
        add("colour configuration", images::configFile(scene.colour));
    // Every frame's passes, not only those of the frames asked for: an
    // output of frame 2 may be named as frame 1's pass.
    const scene::FrameRange whole{std::min(scene.first, range.first),
                                  std::max(scene.last, range.last)};
    const std::pair<const char*, const std::string*> passes[] = {
        {"colour pass", &scene.passes.colour},
        {"special pass", &scene.passes.special},
        {"depth pass", &scene.passes.depth}};
    for (const auto& [role, passPattern] : passes) {
        if (passPattern->empty())
            continue;
        for (int frame = range.first; frame <= range.last; ++frame)
            add(role, scene::framePath(*passPattern, frame));
        for (const std::string& path : scene::presentFramePaths(*passPattern, whole))
            add(role, path);
    }
    for (int frame = range.first; frame <= range.last; ++frame) {
        const std::string output = scene::framePath(pattern, frame);
        const auto input = inputs.find(files::fileIdentity(output));
        if (input != inputs.end())
            throw core::AppError("output '" + output + "' would overwrite the scene's " +
                                 input->second + "; choose another output");
        const std::string why = files::whyNotReplaceable(output);
        if (!why.empty())
            throw core::AppError("output '" + output + "': " + why + "; choose another output");
    }
}

scene::FrameRange requestedRange(const scene::SceneFile& scene, const std::string& frames) {
    return frames.empty() ? scene::FrameRange{scene.first, scene.last}
                          : scene::parseFrameRange(frames);
}

Sequence readSequence(const SequenceRequest& request) {
    Sequence s;
    s.scene = scene::parseSceneFile(request.scene);
    s.range = requestedRange(s.scene, request.frames);
    s.output = request.output.empty() ? s.scene.output : request.output;
    checkOneImagePerFrame(s.output, s.range);
    return s;
}

void checkFrameInScene(const scene::SceneFile& scene, int frame, const std::string& option) {
    if (frame < scene.first || frame > scene.last)
        throw core::AppError(option + " " + std::to_string(frame) + ": scene '" + scene.path +
                             "' has frames " + std::to_string(scene.first) + " to " +
                             std::to_string(scene.last));
}

std::vector<std::string> prepareOutputFolder(const std::string& pattern) {
    images::checkOutputExtension(pattern);
    fs::path folder = fs::path(pattern).parent_path();
    if (folder.empty())
        folder = ".";
    // Step by step, so that each folder made is known ("new/../glow" makes
    // two).
    std::vector<std::string> made;
    fs::path step;
    std::error_code ec;
    for (const fs::path& part : folder) {
        step /= part;
        if (fs::exists(step, ec) || !fs::create_directory(step, ec))
            continue;
        made.push_back(step.string());
    }
    if (ec || !fs::is_directory(folder)) {
        removeEmptyFolders(made);
        throw core::AppError("output folder '" + folder.string() + "' cannot be made: " +
                             (ec ? ec.message() : "a file of that name exists"));
    }
    // A file made and removed proves the folder writable. It is a temporary
    // file like any other, so that one a killed run left is swept here.
    const std::string probe = (folder / "orvit-probe").string();
    files::removeStaleTemporaries({probe}, files::OtherHosts::MayBeWriting);
    const files::TemporaryFile written(probe, "output '" + pattern + "'");
    return made;
}

void removeEmptyFolders(const std::vector<std::string>& made) {
    for (auto folder = made.rbegin(); folder != made.rend(); ++folder)
        rmdir(folder->c_str());
}

} // namespace orvit::sequence
