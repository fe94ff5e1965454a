// Reads a scene file made of the fuzzer's bytes (a file in memory). Any bytes
// give either a scene that keeps the reader's promises or one AppError whose
// message is one line; any other exception escapes and counts as a finding.
//
// Seeds (corpus/scene_file_fuzz/):
//   every-key.toml       each key the reader knows, camera keyed over time
//   shared-exr.toml      one multi-channel file for the three passes
//   focal-length.toml    a lens and film width instead of a field of view
//   settings-file.toml   settings from a file beside the scene
//   bad-values.toml      keys of the wrong type, out of range and unknown
//   header-dot.toml      a table header "[.frames]" (an assertion in the TOML
//                        parser's checked build)
//   letters.toml         letters the TOML parser cannot take (U+0416, U+00B0) in
//                        a comment, literal, basic and multi-line strings
//   small-form-letter.toml  U+FE7F after a value (found by this target: the
//                        last of the parser's three ranges)
//   surfaces-colour.toml surfaces, an OpenColorIO view and no camera
#include "orvit/core/host_error.h"
#include "orvit/scene/scene_file.h"
#include "tests/fuzz/memory_file.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace {

constexpr double kPi = 3.14159265358979323846;

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

void checkScene(const orvit::scene::SceneFile& scene) {
    check(!scene.server.empty());
    // A scene may have no camera; its keys, when there are some, are sound.
    for (size_t i = 0; i < scene.camera.size(); ++i) {
        const orvit::scene::FovKey& key = scene.camera[i];
        check(std::isfinite(key.time));
        check(key.fov > 0.0 && key.fov < kPi);
        if (i > 0)
            check(key.time > scene.camera[i - 1].time);
    }
    check(scene.first >= 0 && scene.first <= scene.last && scene.last <= 99999999);
    check(scene.rate > 0.0 && scene.rate < 1e6);
    // The depth pass is optional: only the Depth modes need it.
    check(!scene.passes.colour.empty() && !scene.passes.special.empty());
    const size_t channels = scene.passes.colourChannels.size();
    check(channels == 0 || channels == 3 || channels == 4);
    check(scene.passes.farDepth > 0.0);
    check(!scene.output.empty());
    for (const orvit::scene::SurfaceEntry& surface : scene.surfaces)
        check(!surface.name.empty() && surface.special >= 1 && surface.special <= 255);
    using Transform = orvit::images::ColourSettings::Transform;
    const orvit::images::ColourSettings& colour = scene.colour;
    check(colour.transform == Transform::Ocio ||
          (colour.display.empty() && colour.view.empty() && colour.look.empty()));
    check(colour.transform != Transform::Ocio || !colour.view.empty());
    check(scene.compression >= -1 && scene.compression <= 9);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzing::MemoryFile file("scene_file_fuzz");
    file.assign(data, size);
    orvit::scene::SceneFile scene;
    try {
        scene = orvit::scene::parseSceneFile(file.path());
    } catch (const orvit::core::AppError& e) {
        const std::string message = e.what();
        check(!message.empty() && message.find_first_of("\r\n") == std::string::npos);
        return 0;
    }
    checkScene(scene);
    return 0;
}
