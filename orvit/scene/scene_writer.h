// The scene file's text as orvit writes it: a whole scene (`init`), and a
// scene's inline settings put back into the text its user wrote (`edit`).
#pragma once

#include "orvit/scene/scene_file.h"

#include <string>
#include <vector>

namespace orvit::scene {

// `scene` as the text of a scene file that parseSceneFile reads back as the
// same scene: paths relative to scene.folder where they can be, strings and
// numbers exact, a comment on what a key does where a reader would ask.
// `heading` opens it, a comment line each. A camera key gives degrees or a
// focal length. Text a TOML file cannot hold (bytes that are no UTF-8) is an
// AppError naming the scene and the key.
std::string sceneText(const SceneFile& scene, const std::vector<std::string>& heading = {});

// The scene file's text as it is now with its inline settings
// (`filter.settings`) replaced by `lines`, every other byte kept. While the
// file holds the text `scene` was read from, the place found then serves; a
// file changed since is read again. An AppError names the scene when it keeps
// no inline settings.
std::string sceneTextWithSettings(const SceneFile& scene, const std::vector<std::string>& lines);

} // namespace orvit::scene
